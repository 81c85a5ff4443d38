// FerrikDlg: connecting to the agent, the per-host credentials and fetching realms.
#include <QtGlobal>

#include <cerrno>
#include <cstdlib>

#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLFunctionalityCore/OVLRealmList.h"
#include "OVLLibAgent/OVLSystemAgent.h"

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

OVL::OVLGUID parseGuid(const std::string& text) {
    OVL::OVLGUID id;
    id.fromString(text.c_str());  // a failed parse leaves the nil identifier
    return id;
}

}  // namespace

OVL::OVLConnectionInfo FerrikDlg::connectionInfo() {
    OVL::OVLConnectionInfo info;
    std::string host = leHost->currentText().toUtf8().toStdString();

    OVL::OVLAuthName auth;
    auth.setPassword(lePassword->text().toUtf8().toStdString());
    auth.setLogin(leLogin->text().toUtf8().toStdString());
    auth.setDomain(leDomain->text().toUtf8().toStdString());

    const std::string realmText = leRealm->currentText().toUtf8().toStdString();
    const auto record = hostRecords.find(host);
    if (record != hostRecords.end()) {
        const OVL::OVLRealm* named = nullptr;
        for (const OVL::OVLRealmPtr& realm : record->second.realms) {
            if (realm->getName() == realmText) {
                named = realm.get();
                break;
            }
        }
        auth.setRealmID(named != nullptr ? named->getID() : parseGuid(realmText));
    } else if (realmText == "System") {
        auth.setRealmID(OVL::OVLRealm::systemRealmID);
    } else {
        auth.setRealmID(parseGuid(realmText));
    }
    info.setAuthName(std::move(auth));

    const int index = cmbConnType->currentIndex();
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
            appendText(histOutput,
                       tr("<font color='red'><b>WARNING:</b> Invalid port, connecting to default one</font>"),
                       true, true);
        }
        host.erase(colon);
    }
    info.setHost(std::move(host));
    return info;
}

void FerrikDlg::connectClicked() {
    if (agent) {
        onDisconnect(OVL::OVLRequestErrorData(0, std::string()));
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
                onConnect(eid);
            }
        },
        Qt::QueuedConnection);
    const auto ended = [this, current](const OVL::OVLRequestErrorData& err) {
        if (current()) {
            onDisconnect(err);
        }
    };
    connect(handler.get(), &FerrikConnHandler::agentDisconnected, this, ended, Qt::QueuedConnection);
    connect(handler.get(), &FerrikConnHandler::agentError, this, ended, Qt::QueuedConnection);

    setWindowTitle(tr("Ferrik %1@%2").arg(leLogin->text(), leHost->currentText()));
    QString who = leLogin->text();
    if (!leDomain->text().isEmpty()) {
        who = leDomain->text() + QLatin1Char('\\') + who;
    }
    appendText(histOutput, tr("Connecting to ") + leHost->currentText() + tr(" as ") + who, false, false);

    accessPoint.reset();
    agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    agent->connect(info, handler);
    handler.reset();

    if (hostRecords.find(info.getHost()) == hostRecords.end()) {
        leHost->addItem(leHost->currentText());
    }
    hostRecords[info.getHost()].auth = info.getAuthName();
}

void FerrikDlg::onConnect(OVL::eid_t eid) {
    if (!agent) {
        return;
    }
    envId = eid;
    const QString eidText = QString::fromStdString(eid.toString());
    appendText(histOutput, tr("<b>Connected to</b> ") + eidText, true, true);
    setWindowTitle(QStringLiteral("%1 <%2>").arg(windowTitle(), eidText));

    FerrikHandlerPtr handler(new FerrikHandler);
    connect(handler.get(), &FerrikHandler::agentReadFinished, this, &FerrikDlg::onReadFinished,
            Qt::QueuedConnection);
    connect(handler.get(), &FerrikHandler::agentWriteFinished, this, &FerrikDlg::onWriteFinished,
            Qt::QueuedConnection);
    agent->createTask(envId, std::string(), handler)->start();

    taskHandler = handler;
    taskHandler->setRaw(false);

    btnSend->setEnabled(true);
    btnConnect->setText(tr("Dis&connect"));
    cbRaw_toggled(raw);
}

void FerrikDlg::onDisconnect(OVL::OVLRequestErrorData err) {
    ++connectionGeneration;
    btnSend->setEnabled(false);
    appendText(histOutput, tr("<b>Disconnected:</b>") + fromUtf8(err.getMessage()).toHtmlEscaped(), true,
               true);
    if (agent) {
        accessPoint.reset();
        agent->disconnect();
        agent.reset();
    }
    btnConnect->setText(tr("&Connect"));
    setWindowTitle(tr("Ferrik"));
}

void FerrikDlg::cbRaw_toggled(bool isRaw) {
    if (!taskHandler) {
        return;
    }
    taskHandler->setRaw(isRaw);
    if (isRaw && agent) {
        agent->createTask(envId, std::string(), taskHandler)->start();
    }
}

void FerrikDlg::updateCreds(const QString& s) {
    const auto found = hostRecords.find(s.toUtf8().toStdString());
    if (found == hostRecords.end()) {
        return;
    }
    const HostRecord& record = found->second;
    leLogin->setText(fromUtf8(record.auth.getLogin()));
    leDomain->setText(fromUtf8(record.auth.getDomain()));
    if (record.realms.empty()) {
        leRealm->setEditText(record.auth.getRealmID() == OVL::OVLRealm::systemRealmID
                                 ? QStringLiteral("System")
                                 : QString::fromStdString(record.auth.getRealmID().toString()));
        return;
    }
    leRealm->clear();
    const OVL::OVLRealm* chosen = nullptr;
    for (const OVL::OVLRealmPtr& realm : record.realms) {
        leRealm->addItem(fromUtf8(realm->getName()));
        if (realm->getID() == record.auth.getRealmID()) {
            chosen = realm.get();
        }
    }
    if (chosen != nullptr) {
        leRealm->setEditText(fromUtf8(chosen->getName()));
    }
}

void FerrikDlg::getRealms() {
    const OVL::OVLConnectionInfo info = connectionInfo();
    FerrikConnHandlerPtr handler(new FerrikConnHandler);
    // Only the latest fetch counts: an earlier one's agent was replaced by this press.
    const unsigned generation = ++realmGeneration;
    connect(
        handler.get(), &FerrikConnHandler::agentConnected, this,
        [this, generation](const OVL::eid_t& eid) {
            if (generation == realmGeneration) {
                realmsConnect(eid);
            }
        },
        Qt::QueuedConnection);
    realmAgent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    realmAgent->connect(static_cast<const OVL::OVLConnectivityInfo&>(info), handler);
}

void FerrikDlg::realmsConnect(OVL::eid_t eid) {
    if (!realmAgent) {
        return;
    }
    OVL::OVLSystemAgentPtr systemAgent(new OVL::OVLSystemAgent(eid, realmAgent));
    realmAgent.reset();

    OVL::OVLRealmList realms;
    const int r = systemAgent->getRealm(realms);
    if (r != 0) {
        qWarning("Failed to get realm list (%d)", r);
        return;
    }
    const std::string host = leHost->currentText().toUtf8().toStdString();
    hostRecords[host].realms = std::move(realms);
    updateCreds(leHost->currentText());
    saveSettings();
}
