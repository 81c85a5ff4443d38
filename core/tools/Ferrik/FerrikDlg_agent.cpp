// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: the slots and operations of the agent link, each forwarding to FerrikAgentLink.
#include "FerrikDlg.h"

OVL::OVLConnectionInfo FerrikDlg::connectionInfo() {
    return link->connectionInfo();
}

void FerrikDlg::connectClicked() {
    link->connectClicked();
}

void FerrikDlg::onConnect(OVL::eid_t eid) {
    link->onConnect(eid);
}

void FerrikDlg::onDisconnect(const OVL::OVLRequestErrorData& err) {
    link->onDisconnect(err);
}

void FerrikDlg::cbRaw_toggled(bool isRaw) {
    link->setRaw(isRaw);
}

void FerrikDlg::updateCreds(const QString& s) {
    link->updateCreds(s);
}

int FerrikDlg::queue() {
    return link->queue();
}

void FerrikDlg::send() {
    link->send();
}

void FerrikDlg::onWriteFinished() {}

int FerrikDlg::substitute(QString& text) {
    return link->substitute(text);
}

bool FerrikDlg::configMatches(const OVL::OVLEnvConfig& config, const QString& field, const QString& value) {
    return link->configMatches(config, field, value);
}

void FerrikDlg::getRealms() {
    link->getRealms();
}

void FerrikDlg::realmsConnect(OVL::eid_t eid) {
    link->realmsConnect(eid);
}
