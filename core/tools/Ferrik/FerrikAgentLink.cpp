// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikAgentLink: connecting to the agent and the per-host credentials.
#include "FerrikAgentLink.h"

#include <QAction>
#include <QtGlobal>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "FerrikConnHandler.h"
#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLFunctionalityCore/OVLRealmList.h"

namespace {

struct ConnectionType {
    const char* typeName;
    int defaultPort;
};

// By index of cmbConnType: "SSH", "Named PIPE", "TCP", "SSL".
constexpr ConnectionType kConnectionTypes[] = {
    {"SSH1", OVL::OVLConnectionInfo::kDefaultPort},
    {"NamedPipe", OVL::OVLConnectionInfo::kDefaultPort},
    {"TCP", 4433},
    {"SSL", 4434},
};

QString fromUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The realm of a realm text that no realm list names: the word "System" is the system realm,
// anything else is read as identifier text (a failed parse gives the nil identifier, which the
// agent refuses).
OVL::OVLGUID realmOfText(const std::string& text) {
    if (text == "System") {
        return OVL::OVLRealm::systemRealmID;
    }
    OVL::OVLGUID id;
    id.fromString(text.c_str());
    return id;
}

}  // namespace

FerrikAgentLink::FerrikAgentLink(FerrikDlg& window) : window(window) {
    pool.setMaxThreadCount(4);
}

FerrikAgentLink::~FerrikAgentLink() {
    // Closing the connections ends the blocking calls still running on the pool at once.
    substitution.reset();
    realmFetch.reset();
    for (OVL::OVLAccessAgentPrototypePtr* link : {&agent, &realmAgent, &realmConnection}) {
        if (*link) {
            (*link)->disconnect();
            link->reset();
        }
    }
    accessPoint.reset();
    pool.waitForDone();
}

OVL::OVLConnectionInfo FerrikAgentLink::connectionInfo() {
    OVL::OVLConnectionInfo info;
    std::string host = window.leHost->currentText().toUtf8().toStdString();

    OVL::OVLAuthName auth;
    auth.setPassword(window.lePassword->text().toUtf8().toStdString());
    auth.setLogin(window.leLogin->text().toUtf8().toStdString());
    auth.setDomain(window.leDomain->text().toUtf8().toStdString());

    // A realm name from the host's realm list first; a text that the list does not name (or a
    // host without list) by the rule of realmOfText, so that "System" is the system realm also
    // for a host that has a record without realms.
    const std::string realmText = window.leRealm->currentText().toUtf8().toStdString();
    OVL::OVLGUID realmId = realmOfText(realmText);
    const auto record = window.hostRecords.find(host);
    if (record != window.hostRecords.end()) {
        for (const OVL::OVLRealmPtr& realm : record->second.realms) {
            if (realm->getName() == realmText) {
                realmId = realm->getID();
                break;
            }
        }
    }
    auth.setRealmID(realmId);
    info.setAuthName(std::move(auth));

    const int index = window.cmbConnType->currentIndex();
    if (index >= 0 && index < static_cast<int>(std::size(kConnectionTypes))) {
        info.setTypeName(kConnectionTypes[index].typeName);
        info.setPort(kConnectionTypes[index].defaultPort);
    }

    const std::size_t colon = host.find(':');
    if (colon != std::string::npos) {
        const char* digits = host.c_str() + colon + 1;
        char* end = nullptr;
        errno = 0;
        const long port = std::strtol(digits, &end, 10);
        if (*end == '\0' && errno == 0 && port >= INT_MIN && port <= INT_MAX) {
            info.setPort(static_cast<int>(port));
        } else {
            window.appendWarning(tr("Invalid port, connecting to default one"));
        }
        host.erase(colon);
    }
    info.setHost(std::move(host));
    return info;
}

void FerrikAgentLink::connectClicked() {
    if (agent) {
        cancelWaits();  // the user's Disconnect ends whatever waits for an agent
        window.onDisconnect(OVL::OVLRequestErrorData(0, std::string()));
        return;
    }
    const OVL::OVLConnectionInfo info = connectionInfo();

    // Signals are delivered only while their connection is the current one: a confirmation or an
    // error already on its way when the user tore the connection down belongs to no connection.
    FerrikConnHandlerPtr handler(new FerrikConnHandler);
    const unsigned generation = ++connectionGeneration;
    const auto current = [this, generation] { return generation == connectionGeneration; };
    connect(
        handler.get(), &FerrikConnHandler::agentConnected, this,
        [this, current](const OVL::eid_t& eid) {
            if (current()) {
                window.onConnect(eid);
            }
        },
        Qt::QueuedConnection);
    const auto ended = [this, current](const OVL::OVLRequestErrorData& err) {
        if (current()) {
            window.onDisconnect(err);
        }
    };
    connect(handler.get(), &FerrikConnHandler::agentDisconnected, this, ended, Qt::QueuedConnection);
    connect(handler.get(), &FerrikConnHandler::agentError, this, ended, Qt::QueuedConnection);
    showFirstTrustOf(*handler, current);

    const QString hostText = window.leHost->currentText();
    window.setWindowTitle(tr("Ferrik %1@%2").arg(window.leLogin->text(), hostText));
    QString who = window.leLogin->text();
    if (!window.leDomain->text().isEmpty()) {
        who = window.leDomain->text() + QLatin1Char('\\') + who;
    }
    window.appendText(window.histOutput, tr("Connecting to ") + hostText + tr(" as ") + who, false, false);

    accessPoint.reset();
    agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    agent->connect(info, handler);
    handler.reset();

    if (window.hostRecords.find(info.getHost()) == window.hostRecords.end()) {
        window.leHost->addItem(hostText);
    }
    window.hostRecords[info.getHost()].auth = info.getAuthName();
}

void FerrikAgentLink::onConnect(const OVL::eid_t& eid) {
    if (!agent) {
        return;
    }
    envId = eid;
    const QString eidText = QString::fromStdString(eid.toString());
    window.appendText(window.histOutput, tr("<b>Connected to</b> ") + eidText, true, true);
    window.setWindowTitle(QStringLiteral("%1 <%2>").arg(window.windowTitle(), eidText));

    FerrikHandlerPtr handler(new FerrikHandler);
    // The figures of a reply reach the window before the reply itself (same thread, same order).
    replyTimes.clear();
    connect(
        handler.get(), &FerrikHandler::agentReplyTimed, this,
        [this](const QString& id, qint64 at, qint64 bytes, bool piece) {
            window.showReplyFigures(piece ? replyTimes.rawPiece(at, bytes)
                                          : replyTimes.parsedReply(id, at, bytes));
        },
        Qt::QueuedConnection);
    connect(handler.get(), &FerrikHandler::agentReadFinished, &window, &FerrikDlg::onReadFinished,
            Qt::QueuedConnection);
    connect(handler.get(), &FerrikHandler::agentWriteFinished, &window, &FerrikDlg::onWriteFinished,
            Qt::QueuedConnection);
    // A request that failed or got no reply in time. A disconnect that the user asked for
    // (code 0) is said by its own "Disconnected:" line.
    connect(
        handler.get(), &FerrikHandler::agentRequestError, this,
        [this](const OVL::OVLRequestErrorData& err) {
            if (err.getCode() != OVL::OVLRequestErrorData::kNone) {
                window.appendError(fromUtf8(err.getMessage()).toHtmlEscaped());
            }
        },
        Qt::QueuedConnection);
    agent->createTask(envId, std::string(), handler)->start();

    taskHandler = handler;
    taskHandler->setRaw(false);

    confirmed = true;
    updateSendState();
    window.btnConnect->setText(tr("Dis&connect"));
    window.cbRaw_toggled(window.raw);
}

void FerrikAgentLink::onDisconnect(const OVL::OVLRequestErrorData& err) {
    ++connectionGeneration;
    confirmed = false;
    if (substitution) {
        substitution->cancel();
    }
    updateSendState();
    QString line = tr("<b>Disconnected:</b>") + fromUtf8(err.getMessage()).toHtmlEscaped();
    if (err.getCode() == OVL::OVLRequestErrorData::kCertificateChanged) {
        // A refusal that the user must act on (the message says how to accept the new certificate).
        line = QStringLiteral("<font color='red'>%1</font>").arg(line);
    }
    window.appendText(window.histOutput, line, true, true);
    if (agent) {
        accessPoint.reset();
        agent->disconnect();
        agent.reset();
    }
    window.btnConnect->setText(tr("&Connect"));
    window.setWindowTitle(tr("Ferrik"));
}

void FerrikAgentLink::showFirstTrustOf(const FerrikConnHandler& handler,
                                       const std::function<bool()>& current) {
    connect(
        &handler, &FerrikConnHandler::agentTrusted, this,
        [this, current](const QString& what) {
            if (current()) {
                showFirstTrust(what);
            }
        },
        Qt::QueuedConnection);
}

void FerrikAgentLink::showFirstTrust(const QString& what) {
    window.appendText(window.histOutput, tr("<b>Trusted on first use:</b> ") + what.toHtmlEscaped(), true,
                      false);
}

void FerrikAgentLink::setRaw(bool isRaw) {
    if (!taskHandler) {
        return;
    }
    taskHandler->setRaw(isRaw);
    if (isRaw && agent) {
        agent->createTask(envId, std::string(), taskHandler)->start();
    }
}

void FerrikAgentLink::updateSendState() {
    window.btnSend->setEnabled(confirmed && !substitution);
    window.queueAction->setEnabled(!substitution);
}

void FerrikAgentLink::updateCreds(const QString& host) {
    const auto found = window.hostRecords.find(host.toUtf8().toStdString());
    if (found == window.hostRecords.end()) {
        return;
    }
    const HostRecord& record = found->second;
    window.leLogin->setText(fromUtf8(record.auth.getLogin()));
    window.leDomain->setText(fromUtf8(record.auth.getDomain()));
    const OVL::OVLGUID& realmId = record.auth.getRealmID();
    if (record.realms.empty()) {
        // The nil identifier is no realm (the agent refuses it); a record holding it comes from a
        // connect with a realm text that named none, and stands for the system realm again.
        window.leRealm->setEditText(realmId == OVL::OVLRealm::systemRealmID || !realmId.isValid()
                                        ? QStringLiteral("System")
                                        : QString::fromStdString(realmId.toString()));
        return;
    }
    window.leRealm->clear();
    const OVL::OVLRealm* chosen = nullptr;
    for (const OVL::OVLRealmPtr& realm : record.realms) {
        window.leRealm->addItem(fromUtf8(realm->getName()));
        if (realm->getID() == realmId) {
            chosen = realm.get();
        }
    }
    if (chosen != nullptr) {
        window.leRealm->setEditText(fromUtf8(chosen->getName()));
    }
}
