// Many concurrent clients against one daemon: every request gets its own reply.

#include <gtest/gtest.h>

#include <atomic>

#include "AgentHarness.h"

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
