// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "AccessAgent.h"

#include <boost/asio/post.hpp>

#include <chrono>

#include "AgentTask.h"
#include "ClientPacket.h"
#include "IoThread.h"
#include "OVLCore/OVLGUIDBase.h"
#include "ReplyWaiter.h"

namespace OVL {

OVLAccessAgentPrototype::~OVLAccessAgentPrototype() = default;

OVLAccessAgentPrototypePtr OVLAccessAgentPrototype::createInstance(const OVLEnvCachePtr& envCache, void*,
                                                                   void* opaque) {
    return OVLAccessAgentPrototypePtr(new Agent::AccessAgent(envCache, opaque));
}

}  // namespace OVL

namespace OVL::Agent {

AccessAgent::AccessAgent(OVLEnvCachePtr envCache, void* opaque)
    : m_session(std::make_shared<AgentSession>()), m_envCache(std::move(envCache)), m_opaque(opaque) {}

AccessAgent::~AccessAgent() {
    m_session->disconnect();
}

int AccessAgent::startConnect(const OVLConnectionInfo& info,
                              const OVLConnectionHandlerPrototypePtr& handler) {
    if (m_session->connect(info, handler)) {
        return 0;
    }
    if (handler) {
        boost::asio::post(IoThread::context(), [handler] {
            handler->onError({OVLRequestErrorData::kInvalidArgument,
                              "this agent was connected before; create a new one for a new connection"});
        });
    }
    return -1;
}

void AccessAgent::connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler) {
    startConnect(info, handler);
}

int AccessAgent::connect(const OVLConnectivityInfo& info, const OVLConnectionHandlerPrototypePtr& handler) {
    if (const auto* full = dynamic_cast<const OVLConnectionInfo*>(&info)) {
        return startConnect(*full, handler);
    }
    return startConnect(OVLConnectionInfo(info.m_second, info.m_first, info.m_value, OVLAuthName()), handler);
}

void AccessAgent::disconnect() {
    m_session->disconnect();
}

OVLTaskPtr AccessAgent::createTask(const OVLEID&, const std::string& name,
                                   const OVLTaskHandlerPrototypePtr& handler) {
    return OVLTaskPtr(new AgentTask(m_session, handler, name));
}

OVLTaskPtr AccessAgent::createTask(const OVLEID&, const std::string& name,
                                   const OVLTaskHandlerPrototypePtr& handler, const void* data,
                                   std::size_t length) {
    auto* task = new AgentTask(m_session, handler, name);
    OVLTaskPtr held(task);
    task->setData(data, length);
    return held;
}

OVLTaskPtr AccessAgent::createTask(const OVLEID&, const std::string& name,
                                   const OVLTaskHandlerPrototypePtr& handler, std::string& id) {
    auto* task = new AgentTask(m_session, handler, name);
    OVLTaskPtr held(task);
    generateID(id);
    task->setID(id);
    return held;
}

int AccessAgent::requestSync(const std::string& packet, std::string& reply, std::string& error,
                             int timeoutMs) {
    if (IoThread::isCurrent()) {
        error = "a synchronous request cannot wait on the library's I/O thread (called from a callback)";
        return -1;
    }
    if (!m_session->isConnected()) {
        error = "not connected to an agent";
        return -1;
    }
    std::string id, frame;
    generateID(id);
    if (!withPacketId(packet, id, frame, error)) {
        return -1;
    }
    auto waiter = std::make_shared<ReplyWaiter>();
    m_session->request(id, std::move(frame), nullptr,
                       [waiter](int code, std::string text) { waiter->complete(code, std::move(text)); });
    const int ms = timeoutMs > 0 ? timeoutMs : AgentSession::requestTimeoutMs();
    if (!waiter->wait(std::chrono::milliseconds(ms))) {
        m_session->cancel(id, true);
        error = "no reply from the agent within " + std::to_string(ms) + " ms";
        return -2;
    }
    if (waiter->code() != 0) {
        error = std::move(waiter->text());
        return waiter->code() == OVLRequestErrorData::kTimeout ? -2 : -1;
    }
    reply = std::move(waiter->text());
    return 0;
}

bool AccessAgent::isConnected() const {
    return m_session->isConnected();
}

OVLEID AccessAgent::getEID() const {
    return m_session->getEID();
}

}  // namespace OVL::Agent
