// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The transports other than TCP: Unix socket, TLS with trust on first use and a CA bundle, and
// ssh through a local sshd that the test starts.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ClientTestSupport.h"
#include "OVLWire/Protocol.h"
#include "UnixTransport.h"

using namespace client_test;

namespace {

void expectEcho(const OVL::OVLAccessAgentPrototypePtr& agent) {
    std::string reply, error;
    ASSERT_EQ(agent->requestSync(echoPacket("over the wire"), reply, error), 0) << error;
    EXPECT_NE(reply.find("<ns2:text>over the wire</ns2:text>"), std::string::npos);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

OVL::OVLRequestErrorData connectError(const OVL::OVLConnectionInfo& info) {
    auto agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    ConnHandlerPtr handler(new ConnHandler);
    agent->connect(info, handler);
    EXPECT_TRUE(handler->waitEvent());
    EXPECT_EQ(handler->eventsNow(), std::vector<std::string>{"error"});
    return handler->lastError();
}

class ClientTransports : public WithAgent {
protected:
    ferrik_test::TempDir dir;
};

TEST_F(ClientTransports, UnixSocketNamedByItsPath) {
    Connected c = connectOrFail(OVL::OVLConnectionInfo("NamedPipe", agent.socketPath(), 0, testerAuth()));
    ASSERT_TRUE(c.agent);
    EXPECT_EQ(c.eid.toString(), agentEid(agent));
    expectEcho(c.agent);
}

TEST_F(ClientTransports, UnixSocketThatIsMissingIsRefused) {
    const auto err =
        connectError(OVL::OVLConnectionInfo("NamedPipe", dir.file("none.sock"), 0, testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kRefused);
    EXPECT_NE(err.m_message.find(dir.file("none.sock")), std::string::npos) << err.m_message;
}

// The SHA-256 fingerprint of a PEM certificate as the openssl tool prints it ("AB:CD:..."), or "".
std::string opensslFingerprint(const std::string& pem) {
    FILE* pipe = ::popen(("openssl x509 -noout -fingerprint -sha256 -in " + pem).c_str(), "r");
    std::string out(256, '\0');
    out.resize(pipe != nullptr ? std::fread(out.data(), 1, out.size(), pipe) : 0);
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    const std::size_t eq = out.find('=');
    return eq == std::string::npos ? std::string() : out.substr(eq + 1, out.find('\n') - eq - 1);
}

// Another local user's socket, named by its path or at the default path, gets nothing: the
// connection fails naming the socket and its uid before the login (and its password) is sent,
// and the client does not go on to the service's socket.
TEST_F(ClientTransports, ASocketOfAnotherUserGetsNothing) {
    ::chmod(dir.path().c_str(), 0777);  // where the other user can make its socket
    const std::string path = dir.file("ovagent.sock");
    const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    for (const std::string& host : {path, std::string()}) {
        agent_test::ForeignListener listener(path, 1);
        const auto err = connectError(OVL::OVLConnectionInfo("NamedPipe", host, 0, testerAuth()));
        EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kRefused) << err.m_message;
        EXPECT_NE(err.m_message.find("the socket " + path + " belongs to a process of uid 65534"),
                  std::string::npos)
            << err.m_message;
        EXPECT_EQ(listener.received(), "") << "host '" << host << "'";
        std::filesystem::remove(path);
    }
}

// Without a path the user's own agent's socket comes first, then the service's; each socket that
// could not be reached is named. Who may listen: the user, root or the service's user.
TEST_F(ClientTransports, DefaultSocketsAreTriedInTurnAndOnlyTrustedListenersAreTaken) {
    {
        const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
        EXPECT_EQ(OVL::Wire::clientSocketPaths(),
                  (std::vector<std::string>{dir.file("ovagent.sock"), "/run/ovagent/ovagent.sock"}));
    }
    const std::string own = "/tmp/ovagent-" + std::to_string(::getuid()) + "/ovagent.sock";
    EXPECT_EQ(OVL::Wire::clientSocketPaths(), (std::vector<std::string>{own, "/run/ovagent/ovagent.sock"}));

    auto connect = [](const std::vector<std::string>& paths, std::string& described) {
        boost::asio::io_context io;
        OVL::Agent::UnixTransport transport(io, paths);
        OVL::OVLRequestErrorData result{OVL::OVLRequestErrorData::kFailed, "no answer"};
        transport.asyncConnect([&](const OVL::OVLRequestErrorData& e) { result = e; });
        io.run();
        described = transport.describe();
        transport.close();
        return result;
    };
    std::string described;
    auto result = connect({dir.file("none.sock"), agent.socketPath()}, described);
    EXPECT_EQ(result.m_code, OVL::OVLRequestErrorData::kNone) << result.m_message;
    EXPECT_EQ(described, "unix " + agent.socketPath());
    result = connect({dir.file("a.sock"), dir.file("b.sock")}, described);
    EXPECT_EQ(result.m_code, OVL::OVLRequestErrorData::kRefused);
    EXPECT_NE(result.m_message.find("cannot connect to the socket " + dir.file("a.sock") + ": "),
              std::string::npos)
        << result.m_message;
    EXPECT_NE(result.m_message.find("; nor to " + dir.file("b.sock") + ": "), std::string::npos)
        << result.m_message;

    using OVL::Agent::UnixTransport;
    EXPECT_TRUE(UnixTransport::trustedPeer(1000, 1000, -1));
    EXPECT_TRUE(UnixTransport::trustedPeer(0, 1000, -1));
    EXPECT_TRUE(UnixTransport::trustedPeer(998, 1000, 998));
    EXPECT_TRUE(UnixTransport::trustedPeer(0, 0, -1));
    EXPECT_FALSE(UnixTransport::trustedPeer(65534, 1000, 998));
    EXPECT_FALSE(UnixTransport::trustedPeer(1001, 0, -1));
}

TEST_F(ClientTransports, TlsTrustsOnFirstUseAndRemembersTheFingerprint) {
    const std::string store = dir.file("cfg/known_agents");
    ScopedEnv env("OVL_KNOWN_AGENTS_FILE", store);
    const OVL::OVLConnectionInfo info("SSL", "127.0.0.1", agent.tlsPort(), testerAuth());
    const std::string fingerprint = opensslFingerprint(agent.stateDir() + "/tls-cert.pem");
    ASSERT_EQ(fingerprint.size(), 95u) << fingerprint;
    {
        Connected c = connectOrFail(info);
        ASSERT_TRUE(c.agent);
        expectEcho(c.agent);
        // The caller hears of the first trust: the agent, the certificate's fingerprint, the store.
        const std::vector<OVL::OVLAgentTrust> trusts = c.handler->trustsNow();
        ASSERT_EQ(trusts.size(), 1u);
        EXPECT_EQ(trusts[0].host, "127.0.0.1");
        EXPECT_EQ(trusts[0].port, agent.tlsPort());
        EXPECT_EQ(trusts[0].fingerprint, fingerprint);
        EXPECT_EQ(trusts[0].store, store);
        EXPECT_EQ(trusts[0].describe(), "agent 127.0.0.1:" + std::to_string(agent.tlsPort()) +
                                            ", SHA-256 fingerprint " + fingerprint + ", remembered in " +
                                            store);
    }
    const std::string remembered = readFile(store);
    EXPECT_EQ(remembered, "127.0.0.1:" + std::to_string(agent.tlsPort()) + " " + fingerprint + "\n");
    Connected again = connectOrFail(info);
    ASSERT_TRUE(again.agent);
    EXPECT_EQ(readFile(store), remembered) << "a known certificate is not stored twice";
    EXPECT_TRUE(again.handler->trustsNow().empty()) << "a known certificate is no first trust";
}

// A store that cannot be written refuses the certificate as a TLS failure, not as a changed one.
TEST_F(ClientTransports, TlsWithAStoreThatCannotBeWrittenFailsAndTrustsNothing) {
    std::ofstream(dir.file("plain")) << "a file, not a directory\n";
    ScopedEnv env("OVL_KNOWN_AGENTS_FILE", dir.file("plain/known_agents"));
    auto client = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    ConnHandlerPtr handler(new ConnHandler);
    client->connect(OVL::OVLConnectionInfo("SSL", "127.0.0.1", agent.tlsPort(), testerAuth()), handler);
    ASSERT_TRUE(handler->waitEvent());
    EXPECT_EQ(handler->eventsNow(), std::vector<std::string>{"error"});
    EXPECT_EQ(handler->lastError().m_code, OVL::OVLRequestErrorData::kTlsFailure)
        << handler->lastError().m_message;
    EXPECT_NE(handler->lastError().m_message.find(dir.file("plain/known_agents")), std::string::npos);
    EXPECT_TRUE(handler->trustsNow().empty());
}

TEST_F(ClientTransports, TlsRefusesAChangedCertificateNamingBothFingerprints) {
    const std::string store = dir.file("known_agents");
    const std::string old = "AA:BB:CC";
    std::ofstream(store) << "127.0.0.1:" << agent.tlsPort() << " " << old << "\n";
    ScopedEnv env("OVL_KNOWN_AGENTS_FILE", store);
    const auto err = connectError(OVL::OVLConnectionInfo("SSL", "127.0.0.1", agent.tlsPort(), testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kCertificateChanged);
    EXPECT_NE(err.m_message.find(old), std::string::npos) << err.m_message;
    EXPECT_NE(err.m_message.find("presented "), std::string::npos) << err.m_message;
    // It says how to accept the new certificate, naming the line and the file.
    EXPECT_NE(err.m_message.find("To accept the new certificate, remove the line of 127.0.0.1:" +
                                 std::to_string(agent.tlsPort()) + " from " + store),
              std::string::npos)
        << err.m_message;
}

TEST_F(ClientTransports, TlsAcceptsACertificateOfAConfiguredBundle) {
    const std::string store = dir.file("known_agents");
    std::ofstream(store) << "localhost:" << agent.tlsPort() << " AA:BB\n";  // would be refused
    ScopedEnv known("OVL_KNOWN_AGENTS_FILE", store);
    ScopedEnv ca("OVL_CA_FILE", agent.stateDir() + "/tls-cert.pem");
    Connected c = connectOrFail(OVL::OVLConnectionInfo("SSL", "localhost", agent.tlsPort(), testerAuth()));
    ASSERT_TRUE(c.agent);
    expectEcho(c.agent);
}

TEST_F(ClientTransports, TlsToAPlainPortFailsTheHandshake) {
    ScopedEnv env("OVL_KNOWN_AGENTS_FILE", dir.file("known_agents"));
    const auto err = connectError(OVL::OVLConnectionInfo("SSL", "127.0.0.1", agent.tcpPort(), testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kTlsFailure) << err.m_message;
}

TEST_F(ClientTransports, MissingSshClientIsReported) {
    ScopedEnv env("OVL_SSH_PROGRAM", dir.file("no-such-ssh"));
    const auto err = connectError(OVL::OVLConnectionInfo("SSH1", "127.0.0.1", 0, testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kTransportMissing);
    EXPECT_NE(err.m_message.find("no-such-ssh"), std::string::npos) << err.m_message;
}

// A local sshd on a spare loopback port with its own keys, accepting the current user's test key.
class LocalSshd {
public:
    explicit LocalSshd(const ferrik_test::TempDir& dir) : m_dir(dir) {
        if (::access("/usr/sbin/sshd", X_OK) != 0) {
            m_why = "/usr/sbin/sshd is not installed";
            return;
        }
        if (std::system(("ssh-keygen -q -t ed25519 -N '' -f " + dir.file("host_key") +
                         " && ssh-keygen -q -t "
                         "ed25519 -N '' -f " +
                         dir.file("user_key") + " && cp " + dir.file("user_key.pub") + " " +
                         dir.file("authorized_keys"))
                            .c_str()) != 0) {
            m_why = "ssh-keygen failed";
            return;
        }
        ::mkdir("/run/sshd", 0755);
        m_port = sparePort();
        std::ofstream(dir.file("sshd_config"))
            << "Port " << m_port << "\nListenAddress 127.0.0.1\nHostKey " << dir.file("host_key")
            << "\nAuthorizedKeysFile " << dir.file("authorized_keys")
            << "\nStrictModes no\nUsePAM no\nPasswordAuthentication no\nPermitRootLogin prohibit-password\n"
            << "PidFile " << dir.file("sshd.pid") << "\n";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", dir.file("sshd_config").c_str(),
                    "-E", dir.file("sshd.log").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_why = "sshd exited: " + readFile(dir.file("sshd.log"));
                return;
            }
            try {
                agent_test::Client::tcp(m_port);
                return;
            } catch (const std::exception&) {
                std::this_thread::sleep_for(25ms);
            }
        }
        m_why = "sshd did not listen";
    }
    ~LocalSshd() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool ok() const { return m_why.empty(); }
    const std::string& why() const { return m_why; }
    int port() const { return m_port; }
    std::string options() const {
        return "-i " + m_dir.file("user_key") +
               " -o StrictHostKeyChecking=no -o UserKnownHostsFile=" + m_dir.file("known_hosts") +
               " -o LogLevel=ERROR";
    }

private:
    static int sparePort() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    const ferrik_test::TempDir& m_dir;
    std::string m_why;
    int m_port = 0;
    pid_t m_pid = -1;
};

TEST_F(ClientTransports, SshRunsTheAgentOnItsStandardStreams) {
    LocalSshd sshd(dir);
    if (!sshd.ok()) {
        GTEST_SKIP() << "cannot start a local sshd: " << sshd.why();
    }
    ScopedEnv options("OVL_SSH_OPTIONS", sshd.options());
    ScopedEnv command("OVL_SSH_COMMAND", std::string(OVAGENT_PATH) + " --stdio --config " +
                                             agent.configPath() + " --state-dir " + agent.stateDir());
    Connected c = connectOrFail(OVL::OVLConnectionInfo("SSH1", "127.0.0.1", sshd.port(), testerAuth()));
    ASSERT_TRUE(c.agent);
    EXPECT_EQ(c.eid.toString(), agentEid(agent));
    expectEcho(c.agent);
    OVL::OVLSystemAgent system(c.eid, c.agent);
    OVL::OVLRealmList realms;
    EXPECT_EQ(system.getRealm(realms), 0) << system.getError();
    EXPECT_EQ(realms.size(), 2u);
}

TEST_F(ClientTransports, SshFailureCarriesTheClientsMessage) {
    LocalSshd sshd(dir);
    if (!sshd.ok()) {
        GTEST_SKIP() << "cannot start a local sshd: " << sshd.why();
    }
    // No key given: BatchMode refuses to ask for a password, and ssh says why.
    ScopedEnv options("OVL_SSH_OPTIONS",
                      "-o StrictHostKeyChecking=no -o UserKnownHostsFile=" + dir.file("known_hosts") +
                          " -o IdentitiesOnly=yes -i " + dir.file("host_key"));
    const auto err = connectError(OVL::OVLConnectionInfo("SSH1", "127.0.0.1", sshd.port(), testerAuth()));
    EXPECT_EQ(err.m_code, OVL::OVLRequestErrorData::kClosed);
    EXPECT_NE(err.m_message.find("Permission denied"), std::string::npos) << err.m_message;
}

}  // namespace
