// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikAgentLink: fetching the realm list of a host over a second, short-lived connection.
#include <QtGlobal>

#include <memory>

#include "FerrikAgentLink.h"
#include "FerrikConnHandler.h"
#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLRealmList.h"
#include "OVLLibAgent/OVLSystemAgent.h"

void FerrikAgentLink::getRealms() {
    // A press replaces a fetch still under way.
    if (realmFetch) {
        realmFetch->disconnect(this);
        releaseLater(realmFetch);
    }
    endRealmFetch();
    const OVL::OVLConnectionInfo info = connectionInfo();
    FerrikConnHandlerPtr handler(new FerrikConnHandler);
    // Only the latest fetch counts: an earlier one's agent was replaced by this press.
    const unsigned generation = ++realmGeneration;
    const auto current = [this, generation] { return generation == realmGeneration; };
    connect(
        handler.get(), &FerrikConnHandler::agentConnected, this,
        [this, current](const OVL::eid_t& eid) {
            if (current()) {
                window.realmsConnect(eid);
            }
        },
        Qt::QueuedConnection);
    // A fetch that cannot connect, or whose connection is closed before it is confirmed, says
    // so; afterwards the failure of getRealm says it.
    const auto failed = [this, current](const OVL::OVLRequestErrorData& err) {
        if (current() && realmAgent) {
            showRealmFailure(QString::fromStdString(err.getMessage()));
        }
    };
    connect(handler.get(), &FerrikConnHandler::agentError, this, failed, Qt::QueuedConnection);
    connect(handler.get(), &FerrikConnHandler::agentDisconnected, this, failed, Qt::QueuedConnection);
    showFirstTrustOf(*handler, current);
    realmAgent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    realmConnection = realmAgent;
    realmAgent->connect(static_cast<const OVL::OVLConnectivityInfo&>(info), handler);
}

void FerrikAgentLink::realmsConnect(const OVL::eid_t& eid) {
    if (!realmAgent) {
        return;
    }
    OVL::OVLSystemAgentPtr systemAgent(new OVL::OVLSystemAgent(eid, realmAgent));
    realmAgent.reset();

    // The list comes over the network: the window goes on while it is fetched. The call keeps
    // the system agent (and so the connection) until it returns.
    auto realms = std::make_shared<OVL::OVLRealmList>();
    const unsigned generation = realmGeneration;
    realmFetch = std::make_unique<FerrikBlockingCall>(&window, pool, tr("Get Realms"));
    connect(realmFetch.get(), &FerrikBlockingCall::finished, this,
            [this, generation, systemAgent, realms](int r) {
                releaseLater(realmFetch);
                if (generation != realmGeneration) {
                    return;
                }
                endRealmFetch();
                if (r != 0) {
                    qWarning("Failed to get realm list (%d)", r);
                    showRealmFailure(QString::fromStdString(systemAgent->getError()));
                    return;
                }
                const QString host = window.leHost->currentText();
                window.hostRecords[host.toUtf8().toStdString()].realms = std::move(*realms);
                window.updateCreds(host);
                window.saveSettings();
            });
    connect(realmFetch.get(), &FerrikBlockingCall::cancelled, this, [this] {
        releaseLater(realmFetch);
        endRealmFetch();
        window.appendError(tr("the realm fetch was cancelled; the realm list is unchanged"));
    });
    realmFetch->start([systemAgent, realms] { return systemAgent->getRealm(*realms); });
}

void FerrikAgentLink::endRealmFetch() {
    realmAgent.reset();
    if (realmConnection) {
        realmConnection->disconnect();  // also ends a getRealm still waiting on its thread
        realmConnection.reset();
    }
}

void FerrikAgentLink::showRealmFailure(const QString& what) {
    endRealmFetch();
    window.appendError(tr("the realm list could not be fetched: %1").arg(what.toHtmlEscaped()));
}
