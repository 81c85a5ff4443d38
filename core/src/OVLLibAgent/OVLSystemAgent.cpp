// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLLibAgent/OVLSystemAgent.h"

#include <pugixml.hpp>

#include "ClientPacket.h"
#include "OVLCommon/Errors.h"
#include "OVLFunctionalityCore/OVLRealmParserFactory.h"
#include "OVLWire/Request.h"

namespace OVL {

OVLSystemAgent::OVLSystemAgent(const OVLEID& eid, OVLAccessAgentPrototypePtr accessProvider)
    : m_eid(eid), m_agent(std::move(accessProvider)) {}

OVLSystemAgent::~OVLSystemAgent() = default;

int OVLSystemAgent::getRealm(OVLRealmList& realms) {
    auto fail = [this](int code, const std::string& message) {
        m_error = message;
        setErrorMessage("%s", message.c_str());
        return code;
    };
    if (!m_agent) {
        return fail(-1, "the system agent has no agent connection");
    }
    std::string reply, error;
    const int rc = m_agent->requestSync(
        "<packet><target>system</target><data><system><getRealms/></system></data></packet>", reply, error);
    if (rc != 0) {
        return fail(rc, "cannot get the realm list: " + error);
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(reply.data(), reply.size(), pugi::parse_default, pugi::encoding_utf8)) {
        return fail(-1, "the agent's realm list is not XML");
    }
    std::string message;
    if (const int code = Agent::replyError(doc, message); code != 0) {
        return fail(-1, "the agent refused the realm list: " + message + " (" + std::to_string(code) + ")");
    }
    const pugi::xml_node result = Agent::replyResult(doc);
    if (Wire::localName(result) != "getRealmsResult") {
        return fail(-1, "the agent's realm list has no getRealmsResult");
    }
    OVLRealmList found;
    for (pugi::xml_node node = result.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || Wire::localName(node) != "realm") {
            continue;
        }
        OVLGUID id;
        if (id.fromString(Wire::childText(node, "id").c_str()) != 0) {
            return fail(-1, "the agent's realm list holds a realm without a valid id");
        }
        OVLRealmPtr realm = OVLRealm::getParserFactory().create(Wire::childText(node, "type"));
        realm->setID(id);
        realm->setName(Wire::childText(node, "name"));
        found.push_back(realm);
    }
    for (const OVLRealmPtr& realm : found) {
        realms.push_back(realm);
    }
    m_error.clear();
    return 0;
}

}  // namespace OVL
