// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The window's connection handling against a real agent: the states of each transport, the form's
// parameters, credentials and realms remembered per host, and agents that fail or die.
#include "agent_window_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>

#include "OVLFunctionalityCore/OVLRealm.h"

using namespace ferrik_agent_test;

namespace {

const char* const kLabRealm = "8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80";

class ConnectionInfoForm : public ::testing::Test {};

TEST_F(ConnectionInfoForm, PortTypeAndRealmFromTheForm) {
    FerrikDlg window;
    fillForm(window, "agent.example:99", kTcp);
    OVL::OVLConnectionInfo info = window.connectionInfo();
    EXPECT_EQ(info.getHost(), "agent.example");
    EXPECT_EQ(info.getPort(), 99);
    EXPECT_EQ(info.getTypeName(), "TCP");
    EXPECT_EQ(info.getAuthName().getLogin(), "tester");
    EXPECT_EQ(info.getAuthName().getPassword(), agent_test::kPassword);
    EXPECT_EQ(info.getAuthName().getRealmID(), OVL::OVLRealm::systemRealmID);
    EXPECT_FALSE(output(window).contains("WARNING"));

    // Blanks and a sign are read as strtol reads them.
    fillForm(window, "agent.example: +77", kSsl);
    info = window.connectionInfo();
    EXPECT_EQ(info.getPort(), 77);
    EXPECT_EQ(info.getTypeName(), "SSL");

    // A letter after the digits: warning, the type's default port, host still cut.
    fillForm(window, "agent.example:99x", kTcp);
    info = window.connectionInfo();
    EXPECT_EQ(info.getHost(), "agent.example");
    EXPECT_EQ(info.getPort(), 4433);
    EXPECT_EQ(countIn(output(window), "WARNING: Invalid port, connecting to default one"), 1);
    fillForm(window, "agent.example:", kSsl);
    EXPECT_EQ(window.connectionInfo().getPort(), 0);  // nothing after the colon: the default

    fillForm(window, "agent.example", kSsh, "u", "p", "corp", QString::fromLatin1(kLabRealm));
    info = window.connectionInfo();
    EXPECT_EQ(info.getTypeName(), "SSH1");
    EXPECT_TRUE(info.hasDefaultPort());
    EXPECT_EQ(info.getAuthName().getDomain(), "corp");
    EXPECT_EQ(info.getAuthName().getRealmID().toString(), kLabRealm);
    fillForm(window, "/run/agent.sock", kNamedPipe, "u", "p", "", "not a realm");
    info = window.connectionInfo();
    EXPECT_EQ(info.getTypeName(), "NamedPipe");
    EXPECT_EQ(info.getHost(), "/run/agent.sock");
    EXPECT_FALSE(info.getAuthName().getRealmID().isValid());
}

TEST_F(ConnectionInfoForm, RealmNamesComeFromTheHostsRealmList) {
    FerrikDlg window;
    OVL::OVLGUID lab;
    ASSERT_EQ(lab.fromString(kLabRealm), 0);
    HostRecord& record = window.hostRecords["agent.example:99"];
    record.realms.push_back(OVL::OVLRealmPtr(new OVL::OVLRealm("standard", lab, "Lab")));

    // Looked up under the host text as typed, port included.
    fillForm(window, "agent.example:99", kTcp, "u", "p", "", "Lab");
    EXPECT_EQ(window.connectionInfo().getAuthName().getRealmID(), lab);
    fillForm(window, "agent.example:99", kTcp, "u", "p", "", "lab");  // names match exactly
    EXPECT_FALSE(window.connectionInfo().getAuthName().getRealmID().isValid());
    fillForm(window, "agent.example", kTcp, "u", "p", "", "Lab");  // no list for this text
    EXPECT_FALSE(window.connectionInfo().getAuthName().getRealmID().isValid());
    // A list without "System" and a record without list: the word is the system realm still.
    window.hostRecords["agent.example"];
    for (const char* host : {"agent.example:99", "agent.example"}) {
        fillForm(window, host, kTcp, "u", "p", "", "System");
        EXPECT_EQ(window.connectionInfo().getAuthName().getRealmID(), OVL::OVLRealm::systemRealmID) << host;
        fillForm(window, host, kTcp, "u", "p", "", QString::fromLatin1(kLabRealm));
        EXPECT_EQ(window.connectionInfo().getAuthName().getRealmID(), lab) << host;
    }
}

class Connection : public AgentWindowTest {};

struct Transport {
    const char* name;
    int type;
    QString (*host)();
};

void expectDisconnectedState(const FerrikDlg& window) {
    EXPECT_EQ(window.windowTitle(), "Ferrik");
    EXPECT_EQ(window.btnConnect->text(), "&Connect");
    EXPECT_FALSE(window.btnSend->isEnabled());
    EXPECT_FALSE(window.link->agent);
}

TEST_F(Connection, EachTransportConnectsAndDisconnects) {
    const Transport transports[] = {
        {"TCP", kTcp, &Connection::tcpHost},
        {"TLS", kSsl, &Connection::tlsHost},
        {"Unix socket", kNamedPipe, &Connection::socketPath},
    };
    for (const Transport& transport : transports) {
        SCOPED_TRACE(transport.name);
        FerrikDlg window;
        const QString host = transport.host();
        fillForm(window, host, transport.type);
        window.btnConnect->click();

        // Connecting: the title names login and host; the send button waits for the agent.
        EXPECT_EQ(window.windowTitle(), "Ferrik tester@" + host);
        EXPECT_EQ(window.btnConnect->text(), "&Connect");
        EXPECT_FALSE(window.btnSend->isEnabled());
        EXPECT_TRUE(output(window).contains("Connecting to " + host + " as tester"));

        ASSERT_TRUE(waitUntil([&] { return isConnected(window); })) << output(window).toStdString();
        const QString eid = QString::fromStdString(window.link->envId.toString());
        EXPECT_TRUE(window.link->envId.isValid());
        EXPECT_EQ(window.windowTitle(), "Ferrik tester@" + host + " <" + eid + ">");
        EXPECT_TRUE(window.btnSend->isEnabled());
        EXPECT_TRUE(output(window).contains("Connected to " + eid));
        EXPECT_FALSE(output(window).contains("WARNING"));

        window.btnConnect->click();
        expectDisconnectedState(window);
        EXPECT_TRUE(output(window).trimmed().endsWith("Disconnected:")) << output(window).toStdString();
        settle(100);
        EXPECT_EQ(countIn(output(window), "Disconnected:"), 1);
    }
}

TEST_F(Connection, DomainAndBadPortInTheStatusLines) {
    FerrikDlg window;
    // The agent is not on 4433: the bad port warns, the connection goes to the default and fails.
    fillForm(window, "127.0.0.1:1x", kTcp, "other", QString::fromStdString(agent_test::kPassword), "corp",
             "System");
    window.btnConnect->click();
    EXPECT_EQ(window.windowTitle(), "Ferrik other@127.0.0.1:1x");  // before the failure resets it
    EXPECT_TRUE(output(window).contains("WARNING: Invalid port, connecting to default one"));
    EXPECT_TRUE(output(window).contains("Connecting to 127.0.0.1:1x as corp\\other"));
    ASSERT_TRUE(waitUntil([&] { return output(window).contains("Disconnected:"); }));
    expectDisconnectedState(window);
    // The failure says why, not just that it happened.
    const QString text = output(window);
    EXPECT_GT(text.mid(text.lastIndexOf("Disconnected:")).trimmed().size(), QString("Disconnected:").size());
}

TEST_F(Connection, WrongPasswordEndsInDisconnectedWithTheAgentsMessage) {
    FerrikDlg window;
    fillForm(window, tcpHost(), kTcp, "tester", "wrong");
    window.btnConnect->click();
    ASSERT_TRUE(waitUntil([&] { return output(window).contains("Disconnected:"); }));
    expectDisconnectedState(window);
    EXPECT_FALSE(output(window).contains("Connected to"));
    // And the window can connect right after.
    EXPECT_TRUE(connectWindow(window, tcpHost(), kTcp));
}

// A peer that accepts connections and never says a word: the login stays pending.
class SilentListener {
public:
    SilentListener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::listen(fd, 8);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd;
    unsigned short port;
};

TEST_F(Connection, PressingConnectWhileConnectingTearsDown) {
    SilentListener silent;
    FerrikDlg window;
    fillForm(window, QStringLiteral("127.0.0.1:%1").arg(silent.port), kTcp);
    window.btnConnect->click();
    EXPECT_TRUE(window.link->agent);
    settle(200);
    EXPECT_FALSE(isConnected(window));

    window.btnConnect->click();
    expectDisconnectedState(window);
    EXPECT_TRUE(output(window).trimmed().endsWith("Disconnected:"));
    // The torn-down attempt reports nothing later, not even its time-out.
    settle(4500);
    EXPECT_EQ(countIn(output(window), "Disconnected:"), 1);
    EXPECT_EQ(window.windowTitle(), "Ferrik");
}

TEST_F(Connection, UnreachableAgentFailsWithinTheTimeOut) {
    SilentListener silent;
    FerrikDlg window;
    fillForm(window, QStringLiteral("127.0.0.1:%1").arg(silent.port), kTcp);
    QElapsedTimer timer;
    timer.start();
    window.btnConnect->click();
    EXPECT_LT(timer.elapsed(), 1000);  // the press itself never waits for the agent
    ASSERT_TRUE(waitUntil([&] { return output(window).contains("Disconnected:"); }, 15000));
    expectDisconnectedState(window);
}

TEST_F(Connection, CredentialsAreRememberedPerHostWithoutThePassword) {
    FerrikDlg window;
    const QString host = tcpHost();
    ASSERT_TRUE(connectWindow(window, host, kTcp));
    window.btnConnect->click();
    // A second connection to the same host does not add it again.
    ASSERT_TRUE(connectWindow(window, host, kTcp));
    window.btnConnect->click();
    EXPECT_EQ(window.leHost->findText(host), 0);
    EXPECT_EQ(window.leHost->count(), 1);
    ASSERT_EQ(window.hostRecords.count("127.0.0.1"), 1u);  // credentials under the host without port
    EXPECT_EQ(window.hostRecords.at("127.0.0.1").auth.getLogin(), "tester");

    // Another host, other credentials (the connection fails: nothing listens on port 1).
    fillForm(window, "localhost:1", kTcp, "alice", "secret-of-alice", "corp", QString::fromLatin1(kLabRealm));
    window.btnConnect->click();
    ASSERT_TRUE(waitUntil([&] { return !window.link->agent; }));
    EXPECT_EQ(window.leHost->count(), 2);

    // Choosing a host restores login, domain and realm; the password field keeps what it had.
    window.lePassword->setText("typed");
    window.updateCreds("127.0.0.1");
    EXPECT_EQ(window.leLogin->text(), "tester");
    EXPECT_EQ(window.leDomain->text(), "");
    EXPECT_EQ(window.leRealm->currentText(), "System");
    EXPECT_EQ(window.lePassword->text(), "typed");
    window.updateCreds("localhost");
    EXPECT_EQ(window.leLogin->text(), "alice");
    EXPECT_EQ(window.leDomain->text(), "corp");
    EXPECT_EQ(window.leRealm->currentText(), kLabRealm);

    // The settings file has both hosts' credentials and no password.
    window.saveSettings();
    QFile file(window.settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray settings = file.readAll();
    EXPECT_TRUE(settings.contains("alice"));
    EXPECT_FALSE(settings.contains("secret-of-alice"));
    EXPECT_FALSE(settings.contains(QByteArray::fromStdString(agent_test::kPassword)));

    // A new window restores them from the file.
    FerrikDlg restored;
    restored.updateCreds("localhost");
    EXPECT_EQ(restored.leLogin->text(), "alice");
    EXPECT_EQ(restored.leDomain->text(), "corp");
    EXPECT_EQ(restored.leRealm->currentText(), kLabRealm);
}

TEST_F(Connection, AgentKilledWhileConnectedLeavesAUsableWindow) {
    agent_test::AgentProcess doomed(agent_test::testConfig());
    FerrikDlg window;
    ASSERT_TRUE(connectWindow(window, QStringLiteral("127.0.0.1:%1").arg(doomed.tcpPort()), kTcp));
    doomed.stop(SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return output(window).contains("Disconnected:"); }));
    expectDisconnectedState(window);
    const QString text = output(window);
    EXPECT_GT(text.mid(text.lastIndexOf("Disconnected:")).trimmed().size(), QString("Disconnected:").size())
        << "the line should say why";

    // The window still works: another agent, another connection, a reply.
    ASSERT_TRUE(connectWindow(window, tcpHost(), kTcp));
    window.teInput->setPlainText(echoPacket("alive"));
    window.btnSend->click();
    EXPECT_TRUE(waitUntil([&] { return output(window).contains("alive</ns2:text>"); }));
}

TEST_F(Connection, RealmsAreFetchedOfferedAndUsedForTheNextLogin) {
    FerrikDlg window;
    const QString host = tcpHost();
    // The fetch logs in with the form's credentials (tester, system realm).
    fillForm(window, host, kTcp);
    window.btnGetRealms->click();
    EXPECT_FALSE(window.link->agent) << "the realm fetch never touches the main connection";
    ASSERT_TRUE(waitUntil([&] { return window.leRealm->count() == 2; })) << window.leRealm->count();
    EXPECT_EQ(window.leRealm->itemText(0), "System");
    EXPECT_EQ(window.leRealm->itemText(1), "Lab");
    EXPECT_FALSE(window.link->realmAgent);
    // No entry for the host existed: it was made with empty credentials, which updateCreds shows.
    EXPECT_EQ(window.leLogin->text(), "");
    EXPECT_EQ(window.leDomain->text(), "");
    ASSERT_EQ(window.hostRecords.count(host.toStdString()), 1u);
    EXPECT_EQ(window.hostRecords.at(host.toStdString()).realms.size(), 2u);

    // The realm chosen by name becomes the next login's realm: "other" may log in only in Lab.
    window.leLogin->setText("other");
    window.leDomain->setText("corp");
    window.leRealm->setCurrentIndex(1);
    window.btnConnect->click();
    ASSERT_TRUE(waitUntil([&] { return isConnected(window) || output(window).contains("Disconnected:"); }));
    EXPECT_TRUE(isConnected(window)) << output(window).toStdString();
    window.btnConnect->click();

    // The list is in the settings file, under the host as typed.
    FerrikDlg restored;
    ASSERT_EQ(restored.hostRecords.count(host.toStdString()), 1u);
    EXPECT_EQ(restored.hostRecords.at(host.toStdString()).realms.size(), 2u);
}

// The Unix socket's host text has no port, so the credentials are remembered under the very text
// that the next connect looks its realms up under: a record without realm list.
TEST_F(Connection, AHostsRecordWithoutRealmsConnectsAgainWithSystem) {
    const QString host = socketPath();
    {
        FerrikDlg window;
        ASSERT_TRUE(connectWindow(window, host, kNamedPipe)) << output(window).toStdString();
        window.btnConnect->click();
        ASSERT_EQ(window.hostRecords.count(host.toStdString()), 1u);
        EXPECT_TRUE(window.hostRecords.at(host.toStdString()).realms.empty());
        // Connect again with the form as it stands.
        window.btnConnect->click();
        ASSERT_TRUE(waitUntil([&] { return isConnected(window) || !window.link->agent; }));
        EXPECT_TRUE(isConnected(window)) << output(window).toStdString();
        EXPECT_EQ(window.hostRecords.at(host.toStdString()).auth.getRealmID(), OVL::OVLRealm::systemRealmID);
        window.btnConnect->click();
    }
    // Restarted on the saved settings: the host, its login and "System" come back.
    {
        FerrikDlg restored;
        EXPECT_EQ(restored.leHost->currentText(), host);
        EXPECT_EQ(restored.leLogin->text(), "tester");
        EXPECT_EQ(restored.leRealm->currentText(), "System");
        restored.cmbConnType->setCurrentIndex(kNamedPipe);
        restored.lePassword->setText(QString::fromStdString(agent_test::kPassword));
        restored.btnConnect->click();
        ASSERT_TRUE(waitUntil([&] { return isConnected(restored) || !restored.link->agent; }));
        EXPECT_TRUE(isConnected(restored)) << output(restored).toStdString();
        // A record that holds the nil realm (stored by a connect with a realm text that named no
        // realm) stands for the system realm when the host is chosen.
        restored.btnConnect->click();
        restored.hostRecords[host.toStdString()].auth.setRealmID(OVL::OVLGUID());
        restored.leRealm->setEditText("nothing");
        restored.updateCreds(host);
        EXPECT_EQ(restored.leRealm->currentText(), "System");
        EXPECT_EQ(restored.connectionInfo().getAuthName().getRealmID(), OVL::OVLRealm::systemRealmID);
    }
}

TEST_F(Connection, RealmFetchFromADeadAgentChangesNothing) {
    SilentListener closed;
    const unsigned short port = closed.port;
    ::close(closed.fd);
    closed.fd = -1;
    FerrikDlg window;
    fillForm(window, QStringLiteral("127.0.0.1:%1").arg(port), kTcp);
    window.btnGetRealms->click();
    settle(500);
    EXPECT_TRUE(window.hostRecords.empty());
    EXPECT_EQ(window.leRealm->count(), 1);
    EXPECT_EQ(window.leLogin->text(), "tester");
    EXPECT_FALSE(output(window).contains("Disconnected:"));
    // The user sees what became of the press, with the library's reason.
    const QString text = output(window);
    ASSERT_EQ(countIn(text, "Error: the realm list could not be fetched: "), 1) << text.toStdString();
    EXPECT_GT(text.mid(text.indexOf("fetched: ")).trimmed().size(), QString("fetched: ").size());
    EXPECT_FALSE(window.link->realmAgent);
}

// What a new user does first: start the demo agent and press Connect with the form as it comes.
TEST(DemoAgent, TheFormsDefaultsConnectToALocalDemoAgent) {
    ferrik_test::TempDir dir;
    // Read when the window connects, on this thread. The library's own time-outs, as a new user
    // has them: the demo account's hash costs the most of any login here, which takes a loaded
    // machine longer than the short time-outs the other suites set.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    ::setenv("OVL_KNOWN_AGENTS_FILE", dir.file("known_agents").c_str(), 1);
    ::unsetenv("OVL_CONNECT_TIMEOUT_MS");
    ::unsetenv("OVL_REQUEST_TIMEOUT_MS");
    // NOLINTEND(concurrency-mt-unsafe)
    QProcess agent;
    agent.start(QStringLiteral(OVAGENT_PATH),
                {"--demo", "--state-dir", QString::fromStdString(dir.file("state")), "--ports-file",
                 QString::fromStdString(dir.file("ports"))});
    ASSERT_TRUE(agent.waitForStarted());
    if (!waitUntil([&] { return QFile(QString::fromStdString(dir.file("ports"))).size() > 0; }, 10000)) {
        agent.kill();
        agent.waitForFinished();
        GTEST_SKIP() << "the demo agent could not listen on its fixed ports (another agent runs here?)";
    }

    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), "");
    window.btnConnect->click();
    ASSERT_TRUE(waitUntil([&] { return isConnected(window); }, 40000)) << output(window).toStdString();
    EXPECT_TRUE(output(window).contains("Connecting to  as peadmin"));

    // The demo's environments substitute.
    window.teInput->setPlainText(echoPacket("${type:database}"));
    EXPECT_EQ(window.queue(), 0);
    EXPECT_TRUE(output(window).contains("Successfully Initilized Access Point..."));
    window.btnConnect->click();
    agent.terminate();
    EXPECT_TRUE(agent.waitForFinished());
}

}  // namespace
