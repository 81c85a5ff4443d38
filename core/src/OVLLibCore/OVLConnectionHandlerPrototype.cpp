// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"

namespace OVL {

OVLConnectionHandlerPrototype::~OVLConnectionHandlerPrototype() = default;

void OVLConnectionHandlerPrototype::onError(const OVLRequestErrorData&) {}
void OVLConnectionHandlerPrototype::onConnected(const eid_t&) {}
void OVLConnectionHandlerPrototype::onDisconnected(const OVLRequestErrorData&) {}
void OVLConnectionHandlerPrototype::onAgentTrusted(const OVLAgentTrust&) {}

std::string OVLAgentTrust::describe() const {
    return "agent " + host + ":" + std::to_string(port) + ", SHA-256 fingerprint " + fingerprint +
           ", remembered in " + store;
}

}  // namespace OVL
