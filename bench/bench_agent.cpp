// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Load benchmark of ovagent: round trips per second and p50/p99 latency for 1 and 8 clients, small
// and 64 KiB replies, over TCP, TLS and the Unix socket, next to a bare NUL-frame echo server
// (bench_echo_server) over the same transport in the same run; and the memory one idle connection
// costs each of them (1,000 idle connections held); the agent's memory with 18 MB of stored
// environments and after they are destroyed. Under attack: the time a correct login takes
// while 50 wrong logins (real password checks) are in flight, and echo round trips while 4 clients
// change environments as fast as the agent lets them; and a remembered and a new user's login while
// 50 addresses keep wrong logins in flight.
//
// Both servers are started by this program as child processes. Run with the release preset:
//   build/release/bin/bench_agent [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AgentHarness.h"
#include "PasswordHash.h"

namespace {

enum class Transport { tcp, tls, unixSocket };
enum class Server { agent, echo };

struct ServerProcess {
    pid_t pid = -1;
    unsigned short tcpPort = 0;
    unsigned short tlsPort = 0;
    std::string socketPath;
};

std::string g_dir;
ServerProcess g_agent;
ServerProcess g_echo;
SSL_CTX* g_tls = nullptr;
const std::string kPassword = "bench password";
constexpr int kFreshUsers = 5;  // users who never logged in, one per round of the many-addresses case

ServerProcess spawnServer(std::vector<std::string> args, const std::string& portsFile) {
    ServerProcess server;
    server.pid = ::fork();
    if (server.pid == 0) {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(portsFile);
        std::string kind, a, b;
        while (in >> kind >> a) {
            if (kind == "unix") {
                server.socketPath = a;
            } else if (in >> b) {
                (kind == "tcp" ? server.tcpPort : server.tlsPort) = static_cast<unsigned short>(std::stoi(b));
            }
        }
        if (server.tcpPort != 0 && server.tlsPort != 0 && !server.socketPath.empty()) {
            return server;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("server did not start: " + args[0]);
}

class BenchClient {
public:
    // `source`: the local address of a TCP connection (another 127.x address is another peer).
    BenchClient(const ServerProcess& server, Transport transport, const char* source = nullptr) {
        if (transport == Transport::unixSocket) {
            m_fd = agent_test::connectUnixSocket(server.socketPath);
        } else {
            m_fd = agent_test::connectLoopbackTcp(
                transport == Transport::tls ? server.tlsPort : server.tcpPort, source);
        }
        if (transport == Transport::tls) {
            m_ssl = SSL_new(g_tls);
            SSL_set_fd(m_ssl, m_fd);
            if (SSL_connect(m_ssl) != 1) {
                throw std::runtime_error("TLS handshake failed");
            }
        }
    }
    ~BenchClient() {
        if (m_ssl != nullptr) {
            SSL_free(m_ssl);
        }
        ::close(m_fd);
    }
    BenchClient(const BenchClient&) = delete;
    BenchClient& operator=(const BenchClient&) = delete;

    void send(const std::string& frame) {
        std::size_t done = 0;
        while (done < frame.size()) {
            int n =
                m_ssl != nullptr
                    ? SSL_write(m_ssl, frame.data() + done, static_cast<int>(frame.size() - done))
                    : static_cast<int>(::send(m_fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL));
            if (n <= 0) {
                throw std::runtime_error("send");
            }
            done += static_cast<std::size_t>(n);
        }
    }
    // Reads one frame, into `frame` when given; returns its length.
    std::size_t readFrame(std::string* frame = nullptr) {
        for (;;) {
            auto zero = m_buffer.find('\0', m_scanned);
            if (zero != std::string::npos) {
                if (frame != nullptr) {
                    frame->assign(m_buffer, 0, zero);
                }
                m_buffer.erase(0, zero + 1);
                m_scanned = 0;
                return zero;
            }
            m_scanned = m_buffer.size();
            char chunk[65536];
            int n = m_ssl != nullptr ? SSL_read(m_ssl, chunk, sizeof chunk)
                                     : static_cast<int>(::recv(m_fd, chunk, sizeof chunk, 0));
            if (n <= 0) {
                throw std::runtime_error("connection closed");
            }
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void login() {
        readFrame();  // greeting
        send(loginFrame("bench", kPassword));
        readFrame();
    }
    static std::string loginFrame(const std::string& login, const std::string& password) {
        return "<packet id=\"l\"><target>system</target><data><system><login><login>" + login +
               "</login><realm>System</realm><password>" + password +
               "</password></login></system></data></packet>" + std::string(1, '\0');
    }

private:
    int m_fd = -1;
    SSL* m_ssl = nullptr;
    std::string m_buffer;
    std::size_t m_scanned = 0;
};

std::string echoRequest(std::size_t textSize) {
    return "<packet id=\"b\"><target>system</target><data><system><echo><text>" + std::string(textSize, 'x') +
           "</text></echo></system></data></packet>" + std::string(1, '\0');
}

void echoLoop(benchmark::State& state, BenchClient& client, const std::string& frame) {
    std::vector<double> latencies;
    latencies.reserve(100000);
    std::size_t replyBytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        client.send(frame);
        replyBytes = client.readFrame();
        latencies.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations());
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["p50_us"] =
            benchmark::Counter(latencies[latencies.size() / 2], benchmark::Counter::kAvgThreads);
        state.counters["p99_us"] =
            benchmark::Counter(latencies[latencies.size() * 99 / 100], benchmark::Counter::kAvgThreads);
    }
    state.counters["reply_bytes"] =
        benchmark::Counter(static_cast<double>(replyBytes), benchmark::Counter::kAvgThreads);
}

void roundTrips(benchmark::State& state, Server server, Transport transport, std::size_t textSize) {
    const ServerProcess& target = server == Server::agent ? g_agent : g_echo;
    BenchClient client(target, transport);
    if (server == Server::agent) {
        client.login();
    }
    echoLoop(state, client, echoRequest(textSize));
}

// The time from connect to the reply of a correct login (user "slow", a hash of the default cost)
// while `attackers` connections wait for the verdict on a wrong password for the same user, sent
// from 127.0.0.2 (another peer address) or from the user's own address.
void loginUnderAttack(benchmark::State& state, int attackers, bool sameAddress) {
    double worst = 0;
    int loggedIn = 0, answered403 = 0, answered408 = 0, answeredOther = 0, unanswered = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<BenchClient>> flood;
        for (int i = 0; i < attackers; ++i) {
            flood.push_back(
                std::make_unique<BenchClient>(g_agent, Transport::tcp, sameAddress ? nullptr : "127.0.0.2"));
            flood.back()->readFrame();
            flood.back()->send(BenchClient::loginFrame("slow", "wrong"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the checks are queued
        const auto start = std::chrono::steady_clock::now();
        std::string reply;
        {
            BenchClient user(g_agent, Transport::tcp);
            user.readFrame();
            user.send(BenchClient::loginFrame("slow", kPassword));
            user.readFrame(&reply);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
        loggedIn += reply.find("loginResult") != std::string::npos;
        // Every attacker gets its answer (403, or 408 when its check waited past the login
        // time-out) before the next round; a close without a frame counts as unanswered.
        for (auto& client : flood) {
            try {
                client->readFrame(&reply);
                if (reply.find("<ns1:code>403</ns1:code>") != std::string::npos) {
                    ++answered403;
                } else if (reply.find("<ns1:code>408</ns1:code>") != std::string::npos) {
                    ++answered408;
                } else {
                    ++answeredOther;
                }
            } catch (const std::exception&) {
                ++unanswered;
            }
        }
    }
    const double rounds = static_cast<double>(state.iterations());
    state.counters["logged_in"] = loggedIn / rounds;
    state.counters["worst_login_ms"] = worst * 1000;
    state.counters["attackers_403"] = answered403 / rounds;
    state.counters["attackers_408"] = answered408 / rounds;
    state.counters["attackers_other"] = answeredOther / rounds;
    state.counters["attackers_no_frame"] = unanswered / rounds;
}

// The code of an error reply, 0 for any other frame.
int errorCodeOf(const std::string& reply) {
    const auto at = reply.find("<ns1:code>");
    return at == std::string::npos ? 0 : std::atoi(reply.c_str() + at + 10);
}

// 50 addresses (127.0.1.1 to .50) each keep one wrong login for "slow" in flight, a new one as
// soon as the last is answered. Measured meanwhile: the login of "slow", who logged in
// successfully before (remembered), from 127.0.0.2; and the login of a user who never did
// ("fresh<n>", a hash of the default cost) from 127.0.0.3: its answer and how long it took. For
// the attackers: their answers by code and the longest wait for one, from the login sent.
void loginUnderAttackManyAddresses(benchmark::State& state) {
    constexpr int kAttackers = 50;
    {
        BenchClient earlier(g_agent, Transport::tcp, "127.0.0.2");
        earlier.readFrame();
        earlier.send(BenchClient::loginFrame("slow", kPassword));
        earlier.readFrame();
    }
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::map<int, long> codes;  // guarded by mutex
    double longestWait = 0;     // guarded by mutex
    long noFrame = 0;           // guarded by mutex
    std::vector<std::thread> attackers;
    for (int i = 1; i <= kAttackers; ++i) {
        attackers.emplace_back([&, i] {
            const std::string source = "127.0.1." + std::to_string(i);
            while (!stop.load()) {
                try {
                    BenchClient client(g_agent, Transport::tcp, source.c_str());
                    client.readFrame();
                    const auto sent = std::chrono::steady_clock::now();
                    client.send(BenchClient::loginFrame("slow", "wrong"));
                    std::string reply;
                    client.readFrame(&reply);
                    const double waited =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
                    std::lock_guard<std::mutex> lock(mutex);
                    ++codes[errorCodeOf(reply)];
                    longestWait = std::max(longestWait, waited);
                } catch (const std::exception&) {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++noFrame;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the gate's queue fills
    double worstRemembered = 0, worstFresh = 0;
    int remembered = 0, freshRound = 0;
    std::map<int, int> freshCodes;
    for (auto _ : state) {
        auto timed = [](const char* login, const char* source, std::string& reply) {
            const auto start = std::chrono::steady_clock::now();
            BenchClient user(g_agent, Transport::tcp, source);
            user.readFrame();
            user.send(BenchClient::loginFrame(login, kPassword));
            user.readFrame(&reply);
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        std::string reply;
        const double seconds = timed("slow", "127.0.0.2", reply);
        state.SetIterationTime(seconds);
        worstRemembered = std::max(worstRemembered, seconds);
        remembered += reply.find("loginResult") != std::string::npos;
        const std::string fresh = "fresh" + std::to_string(++freshRound);
        worstFresh = std::max(worstFresh, timed(fresh.c_str(), "127.0.0.3", reply));
        ++freshCodes[errorCodeOf(reply)];
    }
    stop = true;
    for (auto& thread : attackers) {
        thread.join();
    }
    const double rounds = static_cast<double>(state.iterations());
    state.counters["remembered_logged_in"] = remembered / rounds;
    state.counters["remembered_worst_ms"] = worstRemembered * 1000;
    state.counters["fresh_worst_ms"] = worstFresh * 1000;
    state.counters["fresh_ok"] = freshCodes[0];
    state.counters["fresh_503"] = freshCodes[503];
    state.counters["fresh_408"] = freshCodes[408];
    state.counters["attackers_403"] = static_cast<double>(codes[403]);
    state.counters["attackers_503"] = static_cast<double>(codes[503]);
    state.counters["attackers_408"] = static_cast<double>(codes[408]);
    state.counters["attackers_no_frame"] = static_cast<double>(noFrame);
    state.counters["attackers_longest_wait_ms"] = longestWait * 1000;
}

// Echo round trips while `writers` other clients each change an environment of their own in a
// loop (every change rewrites and fsyncs the state file).
void echoWithWriters(benchmark::State& state, int writers) {
    static std::atomic<int> s_round{0};
    std::atomic<bool> stop{false};
    std::atomic<long> changes{0};
    std::vector<std::thread> threads;
    if (state.thread_index() == 0) {
        const int round = s_round++;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w, round] {
                BenchClient client(g_agent, Transport::tcp);
                client.login();
                auto request = [](const std::string& op, const std::string& body) {
                    return "<packet id=\"w\"><target>environments</target><data><environments><" + op + ">" +
                           body + "</" + op + "></environments></data></packet>" + std::string(1, '\0');
                };
                std::string reply;
                client.send(request("create", "<name>writer-" + std::to_string(round) + "-" +
                                                  std::to_string(w) + "</name><config><n>0</n></config>"));
                client.readFrame(&reply);
                const auto begin = reply.find("<ns2:id>");
                const auto end = reply.find("</ns2:id>");
                if (begin == std::string::npos || end == std::string::npos) {
                    return;
                }
                const std::string id = reply.substr(begin + 8, end - begin - 8);
                for (long n = 1; !stop.load(); ++n) {
                    client.send(request(
                        "change", "<id>" + id + "</id><config><n>" + std::to_string(n) + "</n></config>"));
                    client.readFrame();
                    ++changes;
                }
                client.send(request("destroy", "<id>" + id + "</id>"));
                client.readFrame();
            });
        }
    }
    BenchClient client(g_agent, Transport::tcp);
    client.login();
    const auto start = std::chrono::steady_clock::now();
    echoLoop(state, client, echoRequest(16));
    if (state.thread_index() == 0) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stop = true;
        for (auto& thread : threads) {
            thread.join();
        }
        state.counters["changes_per_s"] = static_cast<double>(changes.load()) / seconds;
    }
}

long rssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void idleConnections(benchmark::State& state, Server server, Transport transport) {
    const ServerProcess& target = server == Server::agent ? g_agent : g_echo;
    constexpr int kConnections = 1000;
    for (auto _ : state) {
        // Warm-up connections, so that thread stacks and allocator arenas exist before the baseline.
        {
            std::vector<std::unique_ptr<BenchClient>> warm;
            for (int i = 0; i < 16; ++i) {
                warm.push_back(std::make_unique<BenchClient>(target, transport));
                if (server == Server::agent) {
                    warm.back()->login();
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long before = rssKiB(target.pid);
        std::vector<std::unique_ptr<BenchClient>> clients;
        for (int i = 0; i < kConnections; ++i) {
            clients.push_back(std::make_unique<BenchClient>(target, transport));
            if (server == Server::agent) {
                clients.back()->login();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long after = rssKiB(target.pid);
        state.counters["connections"] = kConnections;
        state.counters["bytes_per_conn"] = static_cast<double>(after - before) * 1024.0 / kConnections;
        clients.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

// Memory following the stored state: RSS of the agent before, with 20 environments of 900 KB
// configurations created and listed once, and after they are destroyed.
void stateMemory(benchmark::State& state) {
    constexpr int kEnvironments = 20;
    constexpr std::size_t kConfigBytes = std::size_t{900} * 1000;
    auto id = [](int i) {
        char text[40];
        std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", i + 1);
        return std::string(text);
    };
    auto environments = [](const std::string& op, const std::string& body) {
        return "<packet id=\"m\"><target>environments</target><data><environments><" + op + ">" + body +
               "</" + op + "></environments></data></packet>" + std::string(1, '\0');
    };
    for (auto _ : state) {
        auto owned = std::make_unique<BenchClient>(g_agent, Transport::tcp);
        BenchClient& client = *owned;
        client.login();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long before = rssKiB(g_agent.pid);
        const std::string blob(kConfigBytes, 'c');
        for (int i = 0; i < kEnvironments; ++i) {
            client.send(environments("create", "<id>" + id(i) + "</id><name>big" + std::to_string(i) +
                                                   "</name><config><blob>" + blob + "</blob></config>"));
            client.readFrame();
        }
        client.send(environments("list", {}));
        const std::size_t listBytes = client.readFrame();
        const long full = rssKiB(g_agent.pid);
        for (int i = 0; i < kEnvironments; ++i) {
            client.send(environments("destroy", "<id>" + id(i) + "</id>"));
            client.readFrame();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long after = rssKiB(g_agent.pid);
        owned.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        state.counters["rss_closed_MB"] = static_cast<double>(rssKiB(g_agent.pid)) / 1024.0;
        state.counters["list_MB"] = static_cast<double>(listBytes) / 1e6;
        state.counters["rss_before_MB"] = static_cast<double>(before) / 1024.0;
        state.counters["rss_full_MB"] = static_cast<double>(full) / 1024.0;
        state.counters["rss_after_MB"] = static_cast<double>(after) / 1024.0;
    }
}

const char* name(Transport t);

// 32 clients, 8 requests in flight each, for 6 s over one transport, while the agent is stopped
// (SIGSTOP) for 1 s and then gets 100 SIGHUPs 10 ms apart: every reply must be the one asked for.
void loadWithFaults(benchmark::State& state, Transport transport) {
    constexpr int kClients = 32;
    constexpr int kWindow = 8;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::atomic<long> good{0}, bad{0}, failed{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                try {
                    BenchClient client(g_agent, transport);
                    client.login();
                    long sent = 0, received = 0;
                    auto frame = [c](long n) {
                        const std::string tag = std::to_string(c) + "-" + std::to_string(n);
                        return "<packet id=\"" + tag +
                               "\"><target>system</target><data><system><echo><text>" + tag +
                               "</text></echo></system></data></packet>" + std::string(1, '\0');
                    };
                    while (sent < kWindow) {
                        client.send(frame(sent++));
                    }
                    std::string reply;
                    while (received < sent) {
                        client.readFrame(&reply);
                        const std::string tag = std::to_string(c) + "-" + std::to_string(received++);
                        (reply.find("id=\"" + tag + "\"") != std::string::npos &&
                                 reply.find(">" + tag + "<") != std::string::npos
                             ? good
                             : bad)++;
                        if (!stop.load()) {
                            client.send(frame(sent++));
                        }
                    }
                } catch (const std::exception&) {
                    ++failed;
                }
            });
        }
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ::kill(g_agent.pid, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ::kill(g_agent.pid, SIGCONT);
        for (int i = 0; i < 100; ++i) {
            ::kill(g_agent.pid, SIGHUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_until(start + std::chrono::seconds(6));
        stop = true;
        for (auto& thread : clients) {
            thread.join();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.counters["replies"] = static_cast<double>(good.load());
        state.counters["replies_per_s"] = static_cast<double>(good.load()) / seconds;
        state.counters["wrong_replies"] = static_cast<double>(bad.load());
        state.counters["clients_failed"] = static_cast<double>(failed.load());
    }
}

long logRecords(const std::string& text) {
    std::ifstream in(g_dir + "/state/ovagent.log");
    std::string line;
    long n = 0;
    while (std::getline(in, line)) {
        n += line.find(text) != std::string::npos;
    }
    return n;
}

// 800 connections per second from 127.0.0.1 for 3 s, the newest 2,000 (2.5 s of them) held open
// and never read, against maxConnections 1100,
// while a client from 127.0.0.2 logs in 12 times; and the "refused" records this wrote.
void connectionFlood(benchmark::State& state) {
    constexpr int kRate = 800;
    constexpr int kSeconds = 3;
    for (auto _ : state) {
        const long refusedBefore = logRecords(": refused, ");
        std::atomic<long> connects{0};
        std::thread flood([&] {
            std::deque<int> open;
            const auto start = std::chrono::steady_clock::now();
            for (long n = 0; n < long{kRate} * kSeconds; ++n) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000 / kRate));
                try {
                    open.push_back(agent_test::connectLoopbackTcp(g_agent.tcpPort, "127.0.0.1"));
                    ++connects;
                } catch (const std::exception&) {
                }
                if (open.size() > 2000) {
                    ::close(open.front());
                    open.pop_front();
                }
            }
            for (int fd : open) {
                ::close(fd);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        int loggedIn = 0;
        double worst = 0;
        for (int i = 0; i < 12; ++i) {
            const auto begin = std::chrono::steady_clock::now();
            try {
                BenchClient user(g_agent, Transport::tcp, "127.0.0.2");
                std::string reply;
                user.readFrame(&reply);
                user.send(BenchClient::loginFrame("bench", kPassword));
                user.readFrame(&reply);
                loggedIn += reply.find("loginResult") != std::string::npos;
            } catch (const std::exception&) {
            }
            worst = std::max(worst,
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        flood.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        state.counters["flood_connects"] = static_cast<double>(connects.load());
        state.counters["logins_ok_of_12"] = loggedIn;
        state.counters["login_worst_ms"] = worst * 1000;
        state.counters["refused_records"] = static_cast<double>(logRecords(": refused, ") - refusedBefore);
    }
}

// 100 frames of (almost) 1 MiB of unclosed <a> from 8 connections that never log in: the agent's
// RSS before, at its highest seen, and 1 s after the last reply.
void deepFramesMemory(benchmark::State& state) {
    constexpr int kConnections = 8;
    constexpr int kFrames = 100;
    std::string frame;
    while (frame.size() + 4 < std::size_t{1} << 20) {
        frame += "<a>";
    }
    frame += '\0';
    for (auto _ : state) {
        std::vector<std::unique_ptr<BenchClient>> clients;
        for (int i = 0; i < kConnections; ++i) {
            clients.push_back(std::make_unique<BenchClient>(g_agent, Transport::tcp));
            clients.back()->readFrame();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const long before = rssKiB(g_agent.pid);
        std::atomic<long> peak{before};
        std::atomic<int> tooDeep{0};
        std::atomic<bool> done{false};
        std::thread watch([&] {
            while (!done.load()) {
                peak = std::max(peak.load(), rssKiB(g_agent.pid));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        std::vector<std::thread> senders;
        for (int c = 0; c < kConnections; ++c) {
            senders.emplace_back([&, c] {
                std::string reply;
                for (int i = c; i < kFrames; i += kConnections) {
                    clients[static_cast<std::size_t>(c)]->send(frame);
                    clients[static_cast<std::size_t>(c)]->readFrame(&reply);
                    tooDeep += errorCodeOf(reply) == 431;
                }
            });
        }
        for (auto& thread : senders) {
            thread.join();
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        done = true;
        watch.join();
        state.counters["answered_431"] = tooDeep.load();
        state.counters["rss_before_MB"] = static_cast<double>(before) / 1024.0;
        state.counters["rss_peak_MB"] = static_cast<double>(peak.load()) / 1024.0;
        state.counters["rss_after_MB"] = static_cast<double>(rssKiB(g_agent.pid)) / 1024.0;
    }
}

const char* name(Transport t) {
    return t == Transport::tcp ? "tcp" : t == Transport::tls ? "tls" : "unix";
}

void registerAll() {
    for (Transport t : {Transport::tcp, Transport::tls, Transport::unixSocket}) {
        for (std::size_t size : {std::size_t{16}, std::size_t{65536}}) {
            for (int threads : {1, 8}) {
                for (Server s : {Server::echo, Server::agent}) {
                    std::string label = std::string(s == Server::agent ? "agent" : "echo") + "/" + name(t) +
                                        "/" + (size == 16 ? "small" : "64KiB");
                    benchmark::RegisterBenchmark(label.c_str(), roundTrips, s, t, size)
                        ->Threads(threads)
                        ->UseRealTime()
                        ->MinTime(1.0);
                }
            }
        }
    }
    for (int threads : {1, 8}) {
        for (int writers : {0, 4}) {
            benchmark::RegisterBenchmark(("writers/agent/tcp/small/w:" + std::to_string(writers)).c_str(),
                                         echoWithWriters, writers)
                ->Threads(threads)
                ->UseRealTime()
                ->MinTime(2.0);
        }
    }
    benchmark::RegisterBenchmark("login_under_attack/other_address/attackers:50", loginUnderAttack, 50, false)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("login_under_attack/same_address/attackers:50", loginUnderAttack, 50, true)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("login_under_attack/many_addresses/attackers:50",
                                 loginUnderAttackManyAddresses)
        ->UseManualTime()
        ->Iterations(kFreshUsers)
        ->Unit(benchmark::kMillisecond);
    for (Transport t : {Transport::tcp, Transport::tls, Transport::unixSocket}) {
        for (Server s : {Server::echo, Server::agent}) {
            std::string label =
                std::string("idle_memory/") + (s == Server::agent ? "agent/" : "echo/") + name(t);
            benchmark::RegisterBenchmark(label.c_str(), idleConnections, s, t)->Iterations(1)->UseRealTime();
        }
    }
    benchmark::RegisterBenchmark("state_memory/agent", stateMemory)->Iterations(1)->UseRealTime();
    for (Transport t : {Transport::tcp, Transport::tls, Transport::unixSocket}) {
        benchmark::RegisterBenchmark((std::string("load_with_faults/clients:32/") + name(t)).c_str(),
                                     loadWithFaults, t)
            ->Iterations(1)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("flood/connections_one_address", connectionFlood)
        ->Iterations(1)
        ->UseRealTime();
    benchmark::RegisterBenchmark("flood/deep_frames_memory", deepFramesMemory)->Iterations(1)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    struct rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    char pattern[] = "/tmp/bench-agent-XXXXXX";
    g_dir = ::mkdtemp(pattern);
    // Appending instead of operator+ keeps g++ 12's -Wrestrict false positive away.
    auto path = [](const char* name) {
        std::string p = g_dir;
        p.append("/").append(name);
        return p;
    };
    const std::string hash = ovagent::PasswordHash::create(kPassword, 1000);
    std::ofstream(path("agent.xml")) << "<ovagent><listen><tcp port=\"0\"/><tls port=\"0\"/><unix path=\""
                                     << path("agent.sock") << "\"/></listen>"
                                     << "<log level=\"2\"/><limits maxConnections=\"1100\"/>"
                                     << "<users><user login=\"bench\" password=\"" << hash << "\"/>"
                                     << "<user login=\"slow\" password=\""
                                     << ovagent::PasswordHash::create(kPassword) << "\"/>";
    for (int i = 1; i <= kFreshUsers; ++i) {
        std::ofstream(path("agent.xml"), std::ios::app) << "<user login=\"fresh" << i << "\" password=\""
                                                        << ovagent::PasswordHash::create(kPassword) << "\"/>";
    }
    std::ofstream(path("agent.xml"), std::ios::app) << "</users></ovagent>";
    // BENCH_OVAGENT: another agent binary to measure (an older build, for a comparison in one run).
    const char* agentPath =
        std::getenv("BENCH_OVAGENT") != nullptr ? std::getenv("BENCH_OVAGENT") : OVAGENT_PATH;
    g_agent = spawnServer({agentPath, "--config", path("agent.xml"), "--state-dir", path("state"),
                           "--ports-file", path("agent.ports")},
                          path("agent.ports"));
    g_echo = spawnServer(
        {ECHO_SERVER_PATH, "--cert", path("state/tls-cert.pem"), "--key", path("state/tls-key.pem"),
         "--socket", path("echo.sock"), "--ports-file", path("echo.ports")},
        path("echo.ports"));
    g_tls = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(g_tls, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_load_verify_locations(g_tls, path("state/tls-cert.pem").c_str(), nullptr);

    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (pid_t pid : {g_agent.pid, g_echo.pid}) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    SSL_CTX_free(g_tls);
    std::filesystem::remove_all(g_dir);
    return 0;
}
