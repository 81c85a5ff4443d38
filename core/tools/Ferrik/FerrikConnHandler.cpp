// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikConnHandler.h"

FerrikConnHandler::FerrikConnHandler() = default;

FerrikConnHandler::~FerrikConnHandler() = default;

void FerrikConnHandler::onError(const OVL::OVLRequestErrorData& err) {
    emit agentError(err);
}

void FerrikConnHandler::onConnected(const OVL::eid_t& eid) {
    emit agentConnected(eid);
}

void FerrikConnHandler::onDisconnected(const OVL::OVLRequestErrorData& err) {
    emit agentDisconnected(err);
}

void FerrikConnHandler::onAgentTrusted(const OVL::OVLAgentTrust& trust) {
    emit agentTrusted(QString::fromStdString(trust.describe()));
}
