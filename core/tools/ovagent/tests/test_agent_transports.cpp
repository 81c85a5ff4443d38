// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// TLS with a peer we did not write (openssl s_client), --stdio over pipes, the demo start and the
// command-line tools.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "AgentHarness.h"

using namespace agent_test;
using OVL::Wire::childText;

namespace {

struct Child {
    pid_t pid = -1;
    int in = -1;   // the child's standard input
    int out = -1;  // the child's standard output
};

Child spawn(std::vector<std::string> args, bool mergeStderr = false) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        if (mergeStderr) {
            ::dup2(fromChild[1], 2);
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    child.in = toChild[1];
    child.out = fromChild[0];
    return child;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) {
            throw std::runtime_error("write");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Reads until `needle` shows up in the output or the time is over; returns everything read.
std::string readUntil(int fd, const std::string& needle, std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[4096];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

// Closes the child's input and waits for it; its output stays open until then, so a child still
// writing is not killed by SIGPIPE.
int finish(Child& child, bool kill = false) {
    if (kill) {
        ::kill(child.pid, SIGTERM);
    }
    if (child.in >= 0) {
        ::close(child.in);
    }
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    if (child.out >= 0) {
        ::close(child.out);
    }
    return status;
}

std::string loginPacket() {
    return "<packet id=\"tls-login\"><target>system</target><data><system><login><login>tester</login>"
           "<realm>System</realm><password>" +
           kPassword + "</password></login></system></data></packet>";
}

// Runs a command through the shell; its standard output, and its exit status in `status`.
std::string commandOutput(const std::string& command, int& status) {
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        out.append(chunk, n);
    }
    const int wait = ::pclose(pipe);
    status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return out;
}

// The listeners of testConfig() with the socket at `socket` (a path, or "" for the default).
std::string withSocket(std::string config, const std::string& socket, const std::string& attributes = {}) {
    const std::string listener = "<unix path=\"@SOCKET@\"/>";
    const std::string replacement =
        socket.empty() ? "<unix" + attributes + "/>" : "<unix path=\"" + socket + "\"" + attributes + "/>";
    config.replace(config.find(listener), listener.size(), replacement);
    return config;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000000;
}

// The ports file's lines once the agent wrote it (bounded wait).
std::string waitForPorts(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::string text; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (!(text = slurp(path)).empty()) {
            return text;
        }
    }
    return {};
}

}  // namespace

// Whatever sits at the socket path (a file, another user's listener), the agent starts and serves
// TCP and TLS, and its log says why there is no socket; only an agent with the socket as its one
// listener does not start.
TEST(AgentTransports, ASocketThatCannotBeSetUpFailsAloneUnlessItIsTheOnlyListener) {
    ferrik_test::TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string path = dir.file("taken.sock");
    {
        std::ofstream(path) << "keep me";
        AgentProcess agent(withSocket(testConfig(), path));
        EXPECT_EQ(Client::tcp(agent.tcpPort()).login()->errorCode(), 0);
        EXPECT_EQ(slurp(agent.portsFile()).find("unix"), std::string::npos) << slurp(agent.portsFile());
        EXPECT_NE(agent.log().find(path + " exists and is not a socket; serving on the other listeners"),
                  std::string::npos)
            << agent.log();
        EXPECT_EQ(slurp(path), "keep me");
        std::filesystem::remove(path);
    }
    {
        ForeignListener listener(path, 1);  // the agent's probe is its one connection
        AgentProcess agent(withSocket(testConfig(), path));
        EXPECT_EQ(Client::tcp(agent.tcpPort()).login()->errorCode(), 0);
        EXPECT_NE(agent.log().find("another agent is listening on " + path), std::string::npos)
            << agent.log();
        EXPECT_EQ(listener.received(), "");
        std::filesystem::remove(path);
    }
    std::ofstream(path) << "keep me";
    std::string config = withSocket(testConfig(), path);
    const std::string bothPorts = "<tcp port=\"0\"/><tls port=\"0\"/>";
    config.replace(config.find(bothPorts), bothPorts.size(),
                   "<tcp enabled=\"false\"/><tls enabled=\"false\"/>");
    std::ofstream(dir.file("only-unix.xml")) << config;
    Child alone =
        spawn({OVAGENT_PATH, "--config", dir.file("only-unix.xml"), "--state-dir", dir.file("s")}, true);
    EXPECT_NE(readUntil(alone.out, "\n", std::chrono::seconds(20)).find(path + " exists and is not a socket"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(alone)), 1);
}

// Without XDG_RUNTIME_DIR a user's agent keeps its socket in /tmp/ovagent-<uid>, a directory that
// must be the user's own with mode 0700: one that another user made first is refused (the agent
// serves TCP), one of its own is made, and the socket in it is 0600.
TEST(AgentTransports, ThePrivateSocketDirectoryIsTheUsersOwn) {
    ferrik_test::TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    std::ofstream(dir.file("agent.xml")) << withSocket(testConfig(), "");
    const std::string privateDir = "/tmp/ovagent-" + std::to_string(ForeignListener::kUid);
    const std::string socket = privateDir + "/ovagent.sock";
    std::filesystem::remove_all(privateDir);
    auto run = [&] {
        std::filesystem::remove(dir.file("ports"));
        return spawn({"env", "-u", "XDG_RUNTIME_DIR", "setpriv", "--reuid=65534", "--regid=65534",
                      "--clear-groups", OVAGENT_PATH, "--config", dir.file("agent.xml"), "--state-dir",
                      dir.file("s"), "--ports-file", dir.file("ports")},
                     true);
    };
    ASSERT_EQ(::mkdir(privateDir.c_str(), 0777), 0);
    ::chmod(privateDir.c_str(), 0777);  // made by root, open to all: not the agent's
    Child refused = run();
    const std::string ports = waitForPorts(dir.file("ports"));
    EXPECT_NE(ports.find("tcp "), std::string::npos) << ports;
    EXPECT_EQ(ports.find("unix"), std::string::npos) << ports;
    EXPECT_FALSE(std::filesystem::exists(socket));
    finish(refused, true);
    EXPECT_NE(slurp(dir.file("s/ovagent.log"))
                  .find("the socket directory " + privateDir +
                        " is not a directory of this user with mode 0700 (a directory of uid 0, mode 0777)"),
              std::string::npos)
        << slurp(dir.file("s/ovagent.log"));
    std::filesystem::remove_all(privateDir);

    Child served = run();
    EXPECT_NE(waitForPorts(dir.file("ports")).find("unix " + socket), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::lstat(privateDir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ForeignListener::kUid);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(modeOf(socket), 0600u);
    finish(served, true);
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the socket is removed at the end";
    std::filesystem::remove_all(privateDir);
}

// Every file the agent makes has its mode, whatever the umask: certificate 0644, key, state and
// socket 0600, log 0640, ports file 0644; the socket takes the mode the configuration gives.
TEST(AgentTransports, FilesGetTheirModesUnderAnyUmask) {
    ferrik_test::TempDir dir;
    const mode_t previous = ::umask(0);
    {
        AgentProcess agent(testConfig());
        const std::string& state = agent.stateDir();
        EXPECT_EQ(modeOf(state + "/tls-cert.pem"), 0644u);
        EXPECT_EQ(modeOf(state + "/tls-key.pem"), 0600u);
        EXPECT_EQ(modeOf(state + "/state.xml"), 0600u);
        EXPECT_EQ(modeOf(state + "/ovagent.log"), 0640u);
        EXPECT_EQ(modeOf(agent.portsFile()), 0644u);
        EXPECT_EQ(modeOf(agent.socketPath()), 0600u);
    }
    ::umask(0077);
    {
        AgentProcess agent(withSocket(testConfig(), dir.file("open.sock"), " mode=\"0666\""));
        EXPECT_EQ(modeOf(dir.file("open.sock")), 0666u);
        EXPECT_EQ(modeOf(agent.stateDir() + "/tls-cert.pem"), 0644u);
        EXPECT_EQ(modeOf(agent.portsFile()), 0644u);
        EXPECT_EQ(Client::unixSocket(dir.file("open.sock")).login()->errorCode(), 0);
    }
    ::umask(previous);
}

// A log path that is a symbolic link is not followed, and a FIFO is not taken (nor waited on): the
// agent says so and logs to standard error.
TEST(AgentTransports, ALogThatIsALinkOrAFifoIsRefused) {
    ferrik_test::TempDir dir;
    std::ofstream(dir.file("target.log")) << "";
    ASSERT_EQ(::symlink(dir.file("target.log").c_str(), dir.file("link.log").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
    const std::pair<const char*, const char*> cases[] = {
        {"link.log", "it is a symbolic link, which the agent does not follow"},
        {"fifo.log", "it is not a regular file"}};
    for (const auto& [name, why] : cases) {
        std::ofstream(dir.file("agent.xml"))
            << withSocket(testConfig({}, "<log file=\"" + dir.file(name) + "\"/>"), dir.file("a.sock"));
        Child agent =
            spawn({OVAGENT_PATH, "--config", dir.file("agent.xml"), "--state-dir", dir.file("s")}, true);
        const std::string out = readUntil(agent.out, " started", std::chrono::seconds(20));
        finish(agent, true);
        EXPECT_NE(
            out.find("cannot open the log " + dir.file(name) + ": " + why + "; logging to standard error"),
            std::string::npos)
            << out;
        EXPECT_NE(out.find(" started"), std::string::npos) << out;
    }
    EXPECT_EQ(slurp(dir.file("target.log")), "");
}

// openssl s_client, ended by a signal, closes without TLS close_notify: an ordinary close to the
// agent (a debug record, no "read failed").
TEST(AgentTransports, OpensslClientCompletesTheHandshakeAndLogsIn) {
    AgentProcess agent(testConfig("", "<log level=\"4\"/>"));
    const std::string cert = agent.stateDir() + "/tls-cert.pem";
    ASSERT_TRUE(std::filesystem::exists(cert));
    EXPECT_EQ(std::filesystem::status(agent.stateDir() + "/tls-key.pem").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    Child client = spawn({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(agent.tlsPort()),
                          "-CAfile", cert, "-verify_return_error", "-servername", "localhost", "-quiet"});
    std::string greeting = readUntil(client.out, "</ns1:packet>", std::chrono::seconds(10));
    EXPECT_NE(greeting.find("<ns2:hello>"), std::string::npos) << greeting;
    writeAll(client.in,
             loginPacket() + '\0' + request("e", "system", "system", "echo", "<text>over tls</text>") + '\0');
    std::string replies = readUntil(client.out, "over tls</ns2:text>", std::chrono::seconds(10));
    EXPECT_NE(replies.find("<ns2:loginResult>"), std::string::npos) << replies;
    EXPECT_NE(replies.find("<ns2:text>over tls</ns2:text>"), std::string::npos) << replies;
    finish(client, true);
    const auto closedBy = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (agent.log().find(": closed") == std::string::npos && std::chrono::steady_clock::now() < closedBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string log = agent.log();
    EXPECT_NE(log.find("the peer closed without TLS close_notify"), std::string::npos) << log;
    EXPECT_EQ(log.find("read failed"), std::string::npos) << log;

    // `ovagent fingerprint` names the served certificate as openssl does (SHA-256, upper-case hex).
    int status = -1;
    const std::string expected =
        commandOutput("openssl x509 -in " + cert + " -noout -fingerprint -sha256", status);
    ASSERT_EQ(status, 0);
    const std::string printed = commandOutput(std::string(OVAGENT_PATH) + " fingerprint --config " +
                                                  agent.configPath() + " --state-dir " + agent.stateDir(),
                                              status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(printed.size(), 32 * 3) << printed;
    EXPECT_EQ(expected.substr(expected.find('=') + 1), printed);

    // The certificate is kept: a restart serves the same one. An existing state directory keeps
    // only its search bits for others, so that clients may read the certificate by its path.
    const auto written = std::filesystem::last_write_time(cert);
    agent.stop(SIGTERM);
    ::chmod(agent.stateDir().c_str(), 0757);
    agent.start();
    EXPECT_EQ(std::filesystem::last_write_time(cert), written);
    struct stat mode {};
    ASSERT_EQ(::stat(agent.stateDir().c_str(), &mode), 0);
    EXPECT_EQ(mode.st_mode & 07777, 0711u);
}

TEST(AgentTransports, PlainTextOnTheTlsPortDoesNotDisturbOthers) {
    AgentProcess agent(testConfig());
    Client garbage = Client::tcp(agent.tlsPort());
    garbage.sendRaw("<packet>this is not a TLS record</packet>");
    EXPECT_TRUE(garbage.closedByPeer());
    Client client = Client::tcp(agent.tcpPort());
    EXPECT_EQ(client.login()->errorCode(), 0);
}

TEST(AgentTransports, StdioServesOneSessionOverPipes) {
    ferrik_test::TempDir dir;
    const std::string config = dir.file("agent.xml");
    std::ofstream(config) << testConfig();
    Child agent = spawn({OVAGENT_PATH, "--config", config, "--state-dir", dir.file("state"), "--stdio"});
    std::string greeting = readUntil(agent.out, std::string(1, '\0'), std::chrono::seconds(10));
    EXPECT_NE(greeting.find("<ns2:hello>"), std::string::npos);
    writeAll(agent.in,
             loginPacket() + '\0' + request("e", "system", "system", "echo", "<text>piped</text>") + '\0');
    std::string replies = readUntil(agent.out, "piped</ns2:text>", std::chrono::seconds(10));
    EXPECT_NE(replies.find("<ns2:loginResult>"), std::string::npos) << replies;
    // End of input ends the session and the process.
    ::close(agent.in);
    agent.in = -1;
    const int status = finish(agent);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// What ssh starts on a host whose daemon runs: both serve the same state file, and neither may
// lose the other's environment changes.
TEST(AgentTransports, StdioSessionAndDaemonKeepEachOthersEnvironmentChanges) {
    ferrik_test::TempDir dir, state;
    auto env = [](const std::string& id, const std::string& op, const std::string& body) {
        return request(id, "environments", "environments", op, body);
    };
    AgentProcess daemon(testConfig(), {}, &state);
    Client client = Client::tcp(daemon.tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    ASSERT_EQ(
        client.call(env("d1", "create", "<name>by-daemon</name><config><t>1</t></config>"))->errorCode(), 0);

    const std::string config = dir.file("agent.xml");
    std::ofstream(config) << testConfig();
    Child session =
        spawn({OVAGENT_PATH, "--config", config, "--state-dir", state.path().string(), "--stdio"});
    readUntil(session.out, std::string(1, '\0'), std::chrono::seconds(10));
    writeAll(session.in, loginPacket() + '\0' +
                             env("s1", "create", "<name>by-ssh</name><config><t>2</t></config>") + '\0' +
                             env("s2", "list", "") + '\0');
    const std::string replies = readUntil(session.out, "</ns2:listResult>", std::chrono::seconds(10));
    EXPECT_NE(replies.find("by-daemon"), std::string::npos) << replies;

    // The daemon sees the session's environment and keeps it when it changes the file itself.
    ASSERT_EQ(
        client.call(env("d2", "create", "<name>by-daemon-2</name><config><t>3</t></config>"))->errorCode(),
        0);
    const std::string list = client.call(env("d3", "list", ""))->text;
    for (const char* name : {"by-daemon", "by-ssh", "by-daemon-2"}) {
        EXPECT_NE(list.find(std::string(">") + name + "<"), std::string::npos) << name << " in " << list;
    }
    EXPECT_EQ(finish(session), 0);
}

TEST(AgentTransports, HashPasswordVersionHelpAndBadArguments) {
    Child hasher = spawn({OVAGENT_PATH, "hash-password", "--iterations", "1000"});
    writeAll(hasher.in, "pa ss\n");
    ::close(hasher.in);
    hasher.in = -1;
    std::string hash = readUntil(hasher.out, "\n", std::chrono::seconds(10));
    EXPECT_EQ(finish(hasher), 0);
    hash.pop_back();
    EXPECT_EQ(hash.rfind("pbkdf2-sha256$1000$", 0), 0u);
    EXPECT_TRUE(ovagent::PasswordHash::verify("pa ss", hash));

    Child version = spawn({OVAGENT_PATH, "--version"});
    EXPECT_NE(readUntil(version.out, "\n", std::chrono::seconds(5)).find("ovagent 0.1.0"), std::string::npos);
    EXPECT_EQ(finish(version), 0);

    Child help = spawn({OVAGENT_PATH, "--help"});
    EXPECT_NE(readUntil(help.out, "SIGHUP", std::chrono::seconds(5)).find("--stdio"), std::string::npos);
    EXPECT_EQ(finish(help), 0);

    // fingerprint: before the first start there is no certificate; a configured one that is not a
    // certificate is named.
    ferrik_test::TempDir empty;
    Child none = spawn({OVAGENT_PATH, "fingerprint", "--state-dir", empty.path().string()}, true);
    EXPECT_NE(readUntil(none.out, "first start", std::chrono::seconds(5)).find("tls-cert.pem"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(none)), 1);
    std::ofstream(empty.file("cert.pem")) << "not a certificate\n";
    std::ofstream(empty.file("tls.xml"))
        << "<ovagent><listen><tls certificate=\"" << empty.file("cert.pem") << "\" key=\""
        << empty.file("cert.pem") << "\"/></listen></ovagent>";
    Child notCert = spawn({OVAGENT_PATH, "fingerprint", "--config", empty.file("tls.xml")}, true);
    EXPECT_NE(readUntil(notCert.out, "\n", std::chrono::seconds(5)).find("holds no PEM certificate"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(notCert)), 1);
    Child badFingerprint = spawn({OVAGENT_PATH, "fingerprint", "--demo"}, true);
    EXPECT_NE(
        readUntil(badFingerprint.out, "Usage", std::chrono::seconds(5)).find("unknown fingerprint argument"),
        std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(badFingerprint)), 2);

    Child bad = spawn({OVAGENT_PATH, "--frobnicate"}, true);
    EXPECT_NE(readUntil(bad.out, "Usage", std::chrono::seconds(5)).find("unknown argument"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(bad)), 2);

    ferrik_test::TempDir dir;
    std::ofstream(dir.file("plain.xml"))
        << "<ovagent><users><user login=\"a\" password=\"secret\"/></users></ovagent>";
    Child plain =
        spawn({OVAGENT_PATH, "--config", dir.file("plain.xml"), "--state-dir", dir.file("s")}, true);
    EXPECT_NE(readUntil(plain.out, "hash-password", std::chrono::seconds(5)).find("must be a hash"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(finish(plain)), 1);
}
