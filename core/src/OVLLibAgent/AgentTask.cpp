// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "AgentTask.h"

#include "ClientPacket.h"
#include "OVLCommon/Logger.h"

namespace OVL::Agent {

AgentTask::AgentTask(std::shared_ptr<AgentSession> session, OVLTaskHandlerPrototypePtr handler,
                     std::string name)
    : m_session(std::move(session)), m_handler(std::move(handler)), m_name(std::move(name)) {}

void AgentTask::setData(const void* data, std::size_t length) {
    m_hasData = data != nullptr;
    if (m_hasData) {
        m_data.assign(static_cast<const char*>(data), length);
    }
}

int AgentTask::start() {
    if (!m_handler) {
        return -1;
    }
    m_session->subscribe(m_handler);
    return 0;
}

int AgentTask::startRaw() {
    if (!m_hasData || m_data.empty()) {
        return -1;
    }
    std::string bytes = m_data;
    if (bytes.back() != '\0') {
        bytes.push_back('\0');
    }
    m_session->writeRaw(std::move(bytes), m_handler);
    return 0;
}

int AgentTask::send(const OVLMessageBodyPtr& body) {
    if (!body || m_id.empty()) {
        return -1;
    }
    std::string frame, error;
    if (!withPacketId(body->text(), m_id, frame, error)) {
        Log.put(Logger::kWarning, "agent client: task '%s' cannot send its message: %s", m_name.c_str(),
                error.c_str());
        return -1;
    }
    m_session->request(m_id, std::move(frame), m_handler, nullptr);
    return 0;
}

}  // namespace OVL::Agent

namespace OVL {

OVLTask::~OVLTask() = default;

}  // namespace OVL
