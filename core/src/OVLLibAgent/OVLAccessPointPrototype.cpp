// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLLibAgent/OVLAccessPointPrototype.h"

#include <pugixml.hpp>

#include "ClientPacket.h"
#include "OVLCommon/Errors.h"
#include "OVLWire/Request.h"

namespace OVL {

namespace {

// <config> or <altConfig> of the agent: one element per field.
OVLEnvConfig readConfig(pugi::xml_node node) {
    OVLEnvConfig config;
    for (pugi::xml_node field = node.first_child(); field; field = field.next_sibling()) {
        if (field.type() == pugi::node_element) {
            config.set(std::string(Wire::localName(field)), field.text().get());
        }
    }
    return config;
}

}  // namespace

OVLAccessPointPrototypePtr OVLAccessPointPrototype::createInstance(
    const OVLAccessAgentPrototypePtr& accessObject, const OVLEnvCachePtr& envCache) {
    return OVLAccessPointPrototypePtr(new OVLAccessPointPrototype(accessObject, envCache));
}

OVLAccessPointPrototype::OVLAccessPointPrototype(OVLAccessAgentPrototypePtr agent, OVLEnvCachePtr envCache)
    : m_agent(std::move(agent)), m_cache(std::move(envCache)) {
    if (!m_cache && m_agent) {
        m_cache = m_agent->getEnvCache();
    }
    if (!m_cache) {
        m_cache = OVLEnvCachePtr(new OVLEnvCache());
    }
}

OVLAccessPointPrototype::~OVLAccessPointPrototype() = default;

int OVLAccessPointPrototype::failWith(int code, const std::string& message,
                                      const OVLConnectionHandlerPrototypePtr& handler) {
    m_error = message;
    setErrorMessage("%s", message.c_str());
    if (handler) {
        handler->onError(
            {code == -2 ? OVLRequestErrorData::kTimeout : OVLRequestErrorData::kFailed, message});
    }
    return code;
}

int OVLAccessPointPrototype::initializeSync(const OVLConnectionInfo&,
                                            const OVLConnectionHandlerPrototypePtr& requestHandler,
                                            int timeoutMs) {
    if (!m_agent) {
        return failWith(-1, "the access point has no agent connection", requestHandler);
    }
    std::string reply, error;
    const int wait = timeoutMs > 0 && timeoutMs <= 60000 ? timeoutMs : 0;
    const int rc = m_agent->requestSync(
        "<packet><target>environments</target><data><environments><list/></environments></data></packet>",
        reply, error, wait);
    if (rc != 0) {
        return failWith(rc, "cannot get the environment list: " + error, requestHandler);
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(reply.data(), reply.size(), pugi::parse_default, pugi::encoding_utf8)) {
        return failWith(-1, "the agent's environment list is not XML", requestHandler);
    }
    std::string message;
    if (const int code = Agent::replyError(doc, message); code != 0) {
        return failWith(
            -1, "the agent refused the environment list: " + message + " (" + std::to_string(code) + ")",
            requestHandler);
    }
    const pugi::xml_node result = Agent::replyResult(doc);
    if (Wire::localName(result) != "listResult") {
        return failWith(-1, "the agent's environment list has no listResult", requestHandler);
    }
    OVLEnvCache::EnvValuesList list;
    for (pugi::xml_node node = result.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || Wire::localName(node) != "environment") {
            continue;
        }
        OVLEID eid;
        if (eid.fromString(Wire::childText(node, "id").c_str()) != 0) {
            continue;
        }
        list.push_back(OVLEnvPtr(new OVLEnv(eid, Wire::childText(node, "name"),
                                            readConfig(Wire::childByLocalName(node, "config")),
                                            readConfig(Wire::childByLocalName(node, "altConfig")))));
    }
    m_cache->update(std::move(list));
    m_initialized = true;
    m_error.clear();
    return 0;
}

OVLEnvCache::EnvValuesListPtr OVLAccessPointPrototype::getEnvList() const {
    return m_initialized ? m_cache->getEnvList() : nullptr;
}

std::string OVLAccessPointPrototype::getError() const {
    return m_error;
}

}  // namespace OVL
