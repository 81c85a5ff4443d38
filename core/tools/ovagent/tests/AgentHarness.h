// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Test helpers: a real ovagent child process on ephemeral ports, and a blocking client that
// speaks the framing over a TCP or Unix socket.

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <pugixml.hpp>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Dispatcher.h"
#include "OVLWire/Request.h"
#include "OVLWire/WellFormed.h"
#include "PasswordHash.h"
#include "test_utils.h"

namespace agent_test {

inline const std::string kPassword = "s3cret pass";
inline const char* kSystemRealm = "00000000-0000-0000-0000-000000000001";

// A configuration with user "tester" (password kPassword) in the system realm and realm "Lab",
// "other" (same password) in "Lab" only, two environments, and `extra` inserted before </ovagent>.
inline std::string testConfig(const std::string& limits = {}, const std::string& extra = {}) {
    static const std::string hash = ovagent::PasswordHash::create(kPassword, 1000);
    return "<ovagent>\n<listen><tcp port=\"0\"/><tls port=\"0\"/><unix path=\"@SOCKET@\"/></listen>\n"
           "<limits failedLoginDelayMs=\"200\" " +
           limits +
           "/>\n"
           "<realms><realm id=\"8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80\" name=\"Lab\" "
           "type=\"standard\"/></realms>\n"
           "<users><user login=\"tester\" password=\"" +
           hash +
           "\"><realm>System</realm><realm>Lab</realm></user>"
           "<user login=\"other\" domain=\"corp\" password=\"" +
           hash +
           "\"><realm>Lab</realm></user></users>\n"
           "<environments>"
           "<environment id=\"0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60\" name=\"prod-db\">"
           "<config><name>prod-db</name><type>database</type></config><altConfig><role>primary</role></"
           "altConfig>"
           "</environment>"
           "<environment id=\"3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70\" name=\"test-web\">"
           "<config><name>test-web</name><type>webserver</type></config></environment>"
           "</environments>\n" +
           extra + "</ovagent>\n";
}

class AgentProcess {
public:
    // Starts ovagent with `config` (the text @SOCKET@ becomes a socket path in the temp dir).
    // extraArgs go after the generated ones.
    explicit AgentProcess(std::string config, const std::vector<std::string>& extraArgs = {},
                          const ferrik_test::TempDir* stateDir = nullptr)
        : m_stateDir(stateDir != nullptr ? stateDir->path().string() : m_dir.file("state")) {
        m_socketPath = m_dir.file("agent.sock");
        constexpr std::string_view kSocketMark = "@SOCKET@";
        for (auto pos = config.find(kSocketMark); pos != std::string::npos; pos = config.find(kSocketMark)) {
            config.replace(pos, kSocketMark.size(), m_socketPath);
        }
        m_configPath = m_dir.file("agent.xml");
        std::ofstream(m_configPath) << config;
        start(extraArgs);
    }
    ~AgentProcess() { stop(SIGTERM); }
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    void start(const std::vector<std::string>& extraArgs = {}) {
        std::remove(portsFile().c_str());
        std::vector<std::string> args = {OVAGENT_PATH, "--config",     m_configPath, "--state-dir",
                                         m_stateDir,   "--ports-file", portsFile()};
        for (auto& a : extraArgs) {
            args.push_back(a);
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // A test program that dies (a failed assertion in a child, a sanitizer report) takes its
            // agent along instead of leaving it running with the test runner's output pipe open.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::vector<char*> argv;
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(portsFile());
            std::string kind, address, port;
            m_ports.clear();
            while (in >> kind) {
                if (kind == "unix") {
                    in >> address;
                } else {
                    in >> address >> port;
                    m_ports[kind] = static_cast<unsigned short>(std::stoi(port));
                }
            }
            if (!m_ports.empty()) {
                return;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("ovagent exited during start-up");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        throw std::runtime_error("ovagent did not write its ports file");
    }

    // Sends `signal` and waits for the exit. Returns the wait status.
    int stop(int signal) {
        if (m_pid <= 0) {
            return 0;
        }
        ::kill(m_pid, signal);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }
    void signal(int signal) { ::kill(m_pid, signal); }
    pid_t pid() const { return m_pid; }
    bool running() {
        int status = 0;
        return m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0;
    }

    unsigned short tcpPort() const { return m_ports.at("tcp"); }
    unsigned short tlsPort() const { return m_ports.at("tls"); }
    const std::string& socketPath() const { return m_socketPath; }
    const std::string& stateDir() const { return m_stateDir; }
    const std::string& configPath() const { return m_configPath; }
    std::string portsFile() const { return m_dir.file("ports"); }
    std::string log() const {
        std::ifstream in(m_stateDir + "/ovagent.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    ferrik_test::TempDir m_dir;
    std::string m_stateDir;
    std::string m_socketPath;
    std::string m_configPath;
    std::map<std::string, unsigned short> m_ports;
    pid_t m_pid = -1;
};

// A parsed reply frame.
struct Reply {
    pugi::xml_document doc;
    std::string text;
    pugi::xml_node packet() const { return doc.document_element(); }
    std::string id() const { return packet().attribute("id").value(); }
    pugi::xml_node data() const { return OVL::Wire::childByLocalName(packet(), "data"); }
    // Error code, or 0 when the reply is not an error.
    int errorCode() const {
        pugi::xml_node error = OVL::Wire::childByLocalName(data(), "error");
        return error ? std::stoi(OVL::Wire::childText(error, "code")) : 0;
    }
    // <data>/<interface>/<operationResult>
    pugi::xml_node result() const { return OVL::Wire::firstElement(OVL::Wire::firstElement(data())); }
};

// A TCP connection to 127.0.0.1:port (TCP_NODELAY), from the local address `source` when given
// (another 127.x address is another peer address to the agent). Throws on failure.
inline int connectLoopbackTcp(unsigned short port, const char* source = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto fail = [fd](const char* what) {
        ::close(fd);
        throw std::runtime_error(what);
    };
    if (source != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            fail("bind");
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        fail("connect");
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// A connection to the Unix-domain socket at path. Throws on failure.
inline int connectUnixSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("connect");
    }
    return fd;
}

// A Unix-socket listener at `path` in a child process that runs as another user (uid and gid
// 65534, "nobody"): the socket a local attacker puts where a client or an agent looks. It greets
// each connection as an agent does (so a client that does not check who listens sends its login
// next), serves `connections` connections, reading each to its end, then exits; received() gives
// every byte they sent. The directory of `path` must be writable by that user.
class ForeignListener {
public:
    static constexpr uid_t kUid = 65534;

    ForeignListener(const std::string& path, int connections) {
        std::string greeting;
        ovagent::Dispatcher::appendGreeting(greeting);
        int data[2], ready[2];
        if (::pipe2(data, O_CLOEXEC) != 0 || ::pipe2(ready, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::setgroups(0, nullptr) != 0 || ::setgid(kUid) != 0 || ::setuid(kUid) != 0) {
                ::_exit(3);
            }
            // The listener's credentials, which a client reads with SO_PEERCRED, are taken at listen().
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
                ::write(ready[1], "R", 1) != 1) {
                ::_exit(4);
            }
            for (int served = 0; served < connections; ++served) {
                const int c = ::accept(fd, nullptr, nullptr);
                if (c >= 0 && ::send(c, greeting.data(), greeting.size(), MSG_NOSIGNAL) < 0) {
                    ::close(c);
                    continue;
                }
                char chunk[4096];
                for (ssize_t n; c >= 0 && (n = ::read(c, chunk, sizeof chunk)) > 0;) {
                    if (::write(data[1], chunk, static_cast<std::size_t>(n)) != n) {
                        ::_exit(5);
                    }
                }
                ::close(c);
            }
            ::_exit(0);
        }
        ::close(data[1]);
        ::close(ready[1]);
        char mark = 0;
        const bool started = ::read(ready[0], &mark, 1) == 1;
        ::close(ready[0]);
        m_data = data[0];
        if (!started) {
            finish();
            throw std::runtime_error("the listener of uid 65534 did not start at " + path);
        }
    }
    ~ForeignListener() {
        ::kill(m_pid, SIGKILL);
        finish();
    }
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    // Waits until the listener has served its connections (for at most `bound`, after which it
    // is stopped); everything they sent.
    std::string received(std::chrono::seconds bound = std::chrono::seconds(30)) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{m_data, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                ::kill(m_pid, SIGKILL);
                break;
            }
            char chunk[4096];
            const ssize_t n = ::read(m_data, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            text.append(chunk, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    void finish() {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        if (m_data >= 0) {
            ::close(m_data);
            m_data = -1;
        }
    }
    pid_t m_pid = -1;
    int m_data = -1;
};

class Client {
public:
    // `source`: the local address to connect from (another 127.x address is another peer address).
    static Client tcp(unsigned short port, const char* source = nullptr) {
        return Client(connectLoopbackTcp(port, source));
    }
    static Client unixSocket(const std::string& path) { return Client(connectUnixSocket(path)); }
    Client(Client&& other) noexcept
        : closed(other.closed),
          m_fd(other.m_fd),
          m_buffer(std::move(other.m_buffer)),
          m_greeted(other.m_greeted) {
        other.m_fd = -1;
    }
    Client& operator=(Client&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        std::swap(m_buffer, other.m_buffer);
        std::swap(m_greeted, other.m_greeted);
        std::swap(closed, other.closed);
        return *this;
    }
    ~Client() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    void sendRaw(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                throw std::runtime_error("send failed");
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void send(const std::string& packet) { sendRaw(std::string_view(packet.data(), packet.size() + 1)); }

    // The next frame, or an empty string with `closed` set when the agent closed the connection.
    // Throws on time-out.
    std::string readFrame(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto zero = m_buffer.find('\0');
            if (zero != std::string::npos) {
                std::string frame = m_buffer.substr(0, zero);
                m_buffer.erase(0, zero + 1);
                return frame;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                throw std::runtime_error("no reply in time");
            }
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char chunk[65536];
            ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed = true;
                return {};
            }
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    std::unique_ptr<Reply> read(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        auto reply = std::make_unique<Reply>();
        reply->text = readFrame(timeout);
        if (closed && reply->text.empty()) {
            throw std::runtime_error("connection closed");
        }
        // Every frame of the agent is checked as strictly as a conforming XML parser would.
        if (std::string why; !OVL::Wire::checkWellFormed(reply->text, why)) {
            throw std::runtime_error("reply is not well-formed XML (" + why + "): " + reply->text);
        }
        if (!reply->doc.load_string(reply->text.c_str())) {
            throw std::runtime_error("unparsable reply: " + reply->text);
        }
        return reply;
    }
    // True when the agent closes the connection within `timeout` (after any frames still queued).
    bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        try {
            while (!closed) {
                readFrame(timeout);
            }
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }
    std::unique_ptr<Reply> call(const std::string& packet) {
        send(packet);
        return read();
    }
    std::unique_ptr<Reply> greeting() {
        m_greeted = true;
        return read();
    }
    // Reads the greeting (unless greeting() did) and logs in; returns the login reply.
    std::unique_ptr<Reply> login(const std::string& login = "tester", const std::string& password = kPassword,
                                 const std::string& realm = kSystemRealm, const std::string& domain = {}) {
        if (!m_greeted) {
            read();
        }
        m_greeted = true;
        return call("<packet id=\"login\"><target>system</target><data><system><login><login>" + login +
                    "</login><domain>" + domain + "</domain><realm>" + realm + "</realm><password>" +
                    password + "</password></login></system></data></packet>");
    }
    int fd() const { return m_fd; }
    void disconnect() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }
    bool closed = false;

private:
    explicit Client(int fd) : m_fd(fd) {}
    int m_fd;
    std::string m_buffer;
    bool m_greeted = false;
};

inline std::string loginRequest(const std::string& login, const std::string& password,
                                const std::string& realm = kSystemRealm) {
    return "<packet id=\"login\"><target>system</target><data><system><login><login>" + login +
           "</login><domain></domain><realm>" + realm + "</realm><password>" + password +
           "</password></login></system></data></packet>";
}

inline std::string request(const std::string& id, const std::string& target, const std::string& interface,
                           const std::string& operation, const std::string& body = {}) {
    return "<packet id=\"" + id + "\"><target>" + target + "</target><data><" + interface + "><" + operation +
           ">" + body + "</" + operation + "></" + interface + "></data></packet>";
}

}  // namespace agent_test
