// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Many concurrent clients against one daemon: every request gets its own reply; floods of
// connections and of large frames.

#include <gtest/gtest.h>

#include <atomic>
#include <deque>

#include "AgentHarness.h"
#include "AgentLog.h"

using namespace agent_test;
using OVL::Wire::childText;

TEST(AgentLoad, ConcurrentClientsEachGetTheirOwnReplies) {
    constexpr int kClients = 64;
    // 1,000 requests per client; 250 under the sanitizers, which slow the daemon tenfold.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kRequests = 250;
#else
    constexpr int kRequests = 1000;
#endif
    constexpr int kWindow = 8;  // requests in flight per client
    AgentProcess agent(testConfig());
    std::atomic<int> good{0};
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            try {
                Client client =
                    c % 2 == 0 ? Client::tcp(agent.tcpPort()) : Client::unixSocket(agent.socketPath());
                if (client.login()->errorCode() != 0) {
                    ++bad;
                    return;
                }
                int sent = 0;
                int received = 0;
                auto sendOne = [&] {
                    const std::string tag = std::to_string(c) + "-" + std::to_string(sent++);
                    client.send(request(tag, "system", "system", "echo", "<text>" + tag + "</text>"));
                };
                while (sent < kWindow) {
                    sendOne();
                }
                while (received < kRequests) {
                    const std::string expected = std::to_string(c) + "-" + std::to_string(received);
                    auto reply = client.read(std::chrono::seconds(30));
                    ++received;
                    if (reply->id() == expected && childText(reply->result(), "text") == expected) {
                        ++good;
                    } else {
                        ++bad;
                    }
                    if (sent < kRequests) {
                        sendOne();
                    }
                }
            } catch (const std::exception&) {
                ++bad;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(good.load(), kClients * kRequests);
    EXPECT_TRUE(agent.running());
}

namespace {

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

}  // namespace

// One address connects as fast as it can and keeps its connections open without reading: it holds
// its 128 places of connections not logged in, and every further connection is refused (503)
// without taking a place, so correct clients from another address get in all along. The
// refusals write a few records and one that counts the rest.
TEST(AgentFlood, ConnectionsRefusedToOneAddressTakeNoPlaceAndFewLogRecords) {
    AgentProcess agent(testConfig("maxConnections=\"200\""));
    constexpr long kFlood = 3000;
    std::atomic<long> connects{0};
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        std::deque<int> open;
        while (connects.load() < kFlood) {
            try {
                open.push_back(connectLoopbackTcp(agent.tcpPort(), "127.0.0.1"));
                ++connects;
            } catch (const std::exception&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (open.size() > 1000) {  // the oldest go, as a flood's clients time out
                ::close(open.front());
                open.pop_front();
            }
        }
        // The newest stay open until the agent, however slow, has reached them and refused some.
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (int fd : open) {
            ::close(fd);
        }
    });
    while (connects.load() < 300) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int loggedIn = 0;
    for (int i = 0; i < 12; ++i) {
        try {
            Client user = Client::tcp(agent.tcpPort(), "127.0.0.2");
            loggedIn += user.greeting()->errorCode() == 0 && user.login()->errorCode() == 0;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "login " << i << ": " << e.what();
        }
    }
    for (int i = 0;
         i < 3000 && (connects.load() < kFlood || agent.log().find(": refused, ") == std::string::npos);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop = true;
    flood.join();
    EXPECT_EQ(loggedIn, 12);
    EXPECT_GE(connects.load(), kFlood);
    EXPECT_TRUE(agent.running());
    agent.stop(SIGTERM);

    std::istringstream log(agent.log());
    std::string line;
    long refused = 0, suppressed = 0;
    while (std::getline(log, line)) {
        refused += line.find(": refused, ") != std::string::npos;
        if (auto at = line.find("127.0.0.1: ");
            at != std::string::npos && line.find(" similar records suppressed") != std::string::npos) {
            suppressed += std::stol(line.substr(at + 11));
        }
    }
    // A few records per 10 s window (the flood takes seconds), and the count of the rest.
    EXPECT_GT(refused, 0) << agent.log().substr(agent.log().size() > 3000 ? agent.log().size() - 3000 : 0);
    EXPECT_LE(refused, 4 * ovagent::SessionLog::kBurst);
    EXPECT_GT(suppressed, 0) << agent.log().substr(0, 4000);
}

// Frames of 1 MiB of unclosed elements before any login, from 8 connections at once: each gets
// its 431 as soon as the check passes the depth limit, and the agent's resident size comes back
// to where it started.
TEST(AgentFlood, LargeDeepFramesBeforeLoginLeaveNoMemoryBehind) {
    AgentProcess agent(testConfig("maxPacketSize=\"2097152\" loginTimeoutMs=\"120000\""));
    constexpr int kConnections = 8;
    constexpr int kFrames = 100;
    std::string frame;
    while (frame.size() < std::size_t{1} << 20) {
        frame += "<a>";
    }
    std::vector<Client> clients;
    for (int i = 0; i < kConnections; ++i) {
        clients.push_back(Client::tcp(agent.tcpPort()));
        clients.back().greeting();
        EXPECT_EQ(clients.back().call("<a/>")->errorCode(), 400);  // threads and heaps exist now
    }
    [[maybe_unused]] const long before = rssKiB(agent.pid());
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kConnections; ++c) {
        threads.emplace_back([&, c] {
            for (int i = c; i < kFrames; i += kConnections) {
                clients[static_cast<std::size_t>(c)].send(frame);
                answered +=
                    clients[static_cast<std::size_t>(c)].read(std::chrono::seconds(60))->errorCode() == 431;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), kFrames);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they keep freed memory on purpose
    constexpr long kSlackKiB = 20L * 1024;
    long after = rssKiB(agent.pid());
    for (int i = 0; i < 100 && after > before + kSlackKiB; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = rssKiB(agent.pid());
    }
    EXPECT_LE(after, before + kSlackKiB) << "RSS before " << before << " KiB, after " << after << " KiB";
#endif
    for (Client& client : clients) {
        EXPECT_EQ(client.login()->errorCode(), 0);
    }
}
