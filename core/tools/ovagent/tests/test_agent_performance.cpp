// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The performance target of a real ovagent process: counter listing, samples with and without an
// interval, per-counter errors, argument checks, and that a sample's wait blocks no I/O thread.

#include <gtest/gtest.h>

#include <cctype>

#include "AgentHarness.h"

using namespace agent_test;
using OVL::Wire::childText;

namespace {

constexpr const char* kCpu = "\\Processor(_Total)\\% Processor Time";
constexpr const char* kMemory = "\\Memory\\Available Bytes";
constexpr const char* kProcesses = "\\System\\Processes";

std::string sample(const std::string& id, const std::vector<std::string>& counters,
                   const std::string& interval) {
    std::string body;
    for (const std::string& c : counters) {
        body += "<counter>" + c + "</counter>";
    }
    if (!interval.empty()) {
        body += "<interval>" + interval + "</interval>";
    }
    return request(id, "performance", "performance", "sample", body);
}

struct CounterReply {
    std::string path;
    std::string value;
    std::string status;
    std::string message;
};

std::vector<CounterReply> counters(const Reply& reply) {
    std::vector<CounterReply> out;
    for (pugi::xml_node c : reply.result().children()) {
        if (OVL::Wire::localName(c) != "counter") {
            continue;
        }
        out.push_back(
            {childText(c, "path"), childText(c, "value"), childText(c, "status"), childText(c, "message")});
    }
    return out;
}

// `count` different spellings of the memory counter: names are case-insensitive, paths are not.
std::vector<std::string> memorySpellings(int first, int count) {
    std::vector<std::string> out;
    for (int i = first; i < first + count; ++i) {
        std::string path = "\\memory\\available bytes";
        int bit = 0;
        for (char& ch : path) {
            if (std::isalpha(static_cast<unsigned char>(ch)) && ((i >> bit++) & 1)) {
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
        }
        out.push_back(path);
    }
    return out;
}

class AgentPerformance : public ::testing::Test {
protected:
    // One I/O thread: a sample that slept on it would stall every other session.
    static void SetUpTestSuite() { s_agent = new AgentProcess(testConfig("workerThreads=\"1\"")); }
    static void TearDownTestSuite() {
        delete s_agent;
        s_agent = nullptr;
    }
    static AgentProcess* s_agent;
};

AgentProcess* AgentPerformance::s_agent = nullptr;

}  // namespace

TEST_F(AgentPerformance, ListsItsCountersAndSamplesGaugesAndRates) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);

    auto list = client.call(request("l", "performance", "performance", "listCounters"));
    ASSERT_EQ(list->errorCode(), 0) << list->text;
    std::vector<std::string> paths;
    for (pugi::xml_node c : list->result().children()) {
        paths.push_back(childText(c, "path"));
    }
    EXPECT_GE(paths.size(), 10u);
    EXPECT_NE(std::find(paths.begin(), paths.end(), kCpu), paths.end());
    // Every offered counter can be sampled.
    std::vector<std::string> offered(paths.begin(),
                                     paths.begin() + std::min<std::ptrdiff_t>(std::ssize(paths), 32));
    auto all = client.call(sample("all", offered, "100"));
    ASSERT_EQ(all->errorCode(), 0) << all->text;
    for (const CounterReply& c : counters(*all)) {
        EXPECT_FALSE(c.value.empty()) << c.path << ": " << c.status << " " << c.message;
    }

    // Gauges need one collection; unknown and malformed paths get their own status, the rest is answered.
    auto gauges = client.call(sample("g", {kMemory, "\\Nope\\Counter", kProcesses, "no path"}, "0"));
    ASSERT_EQ(gauges->errorCode(), 0) << gauges->text;
    EXPECT_EQ(gauges->id(), "g");
    auto g = counters(*gauges);
    ASSERT_EQ(g.size(), 4u) << gauges->text;
    EXPECT_EQ(g[0].path, kMemory);
    EXPECT_GT(std::stod(g[0].value), 0.0);
    EXPECT_EQ(g[1].status, "0xC0000BB8");
    EXPECT_EQ(g[1].message, "unknown object");
    EXPECT_TRUE(g[1].value.empty());
    EXPECT_GE(std::stod(g[2].value), 1.0);
    EXPECT_EQ(g[3].status, "0xC0000BC0");

    // A rate with interval 0: the first time there is no earlier sample; then it is the rate since it.
    Client fresh = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(fresh.login()->errorCode(), 0);
    auto first = counters(*fresh.call(sample("r1", {kCpu}, "")));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].status, "0xC0000BC6");
    EXPECT_NE(first[0].message.find("two samples"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto second = counters(*fresh.call(sample("r2", {kCpu}, "0")));
    ASSERT_EQ(second.size(), 1u);
    ASSERT_FALSE(second[0].value.empty()) << second[0].message;
    EXPECT_GE(std::stod(second[0].value), 0.0);
    EXPECT_LE(std::stod(second[0].value), 100.0);
}

TEST_F(AgentPerformance, TheIntervalWaitsWithoutBlockingAndKeepsRepliesInOrder) {
    Client sampler = Client::tcp(s_agent->tcpPort());
    Client other = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(sampler.login()->errorCode(), 0);
    ASSERT_EQ(other.login()->errorCode(), 0);

    const auto start = std::chrono::steady_clock::now();
    // Pipelined: the echo behind the sample is answered after it.
    sampler.send(sample("s", {kCpu, kMemory}, "600"));
    sampler.send(request("e", "system", "system", "echo", "<text>after</text>"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The single I/O thread serves another session meanwhile.
    auto echo = other.call(request("o", "system", "system", "echo", "<text>meanwhile</text>"));
    EXPECT_EQ(childText(echo->result(), "text"), "meanwhile");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    auto sampled = sampler.read();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_EQ(sampled->id(), "s");
    EXPECT_EQ(childText(sampled->result(), "interval"), "600");
    auto values = counters(*sampled);
    ASSERT_EQ(values.size(), 2u) << sampled->text;
    ASSERT_FALSE(values[0].value.empty()) << values[0].message;
    EXPECT_GE(std::stod(values[0].value), 0.0);
    EXPECT_LE(std::stod(values[0].value), 100.0);
    EXPECT_GT(std::stod(values[1].value), 0.0);
    EXPECT_EQ(sampler.read()->id(), "e");
}

TEST_F(AgentPerformance, BadArgumentsGet422AndTheSessionGoesOn) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    std::vector<std::string> tooMany(33, kMemory);
    for (const std::string& bad :
         {sample("b", {kMemory}, "5001"), sample("b", {kMemory}, "-1"), sample("b", {kMemory}, "1s"),
          sample("b", {}, "10"), sample("b", tooMany, "0"),
          request("b", "performance", "performance", "sample",
                  "<counter>" + std::string(kMemory) + "</counter><every>1</every>")}) {
        auto reply = client.call(bad);
        EXPECT_EQ(reply->errorCode(), 422) << bad << "\n" << reply->text;
        EXPECT_EQ(reply->id(), "b");
    }
    EXPECT_EQ(client.call(request("x", "performance", "performance", "watch"))->errorCode(), 405);
    EXPECT_EQ(client.call(request("x", "performance", "system", "sample"))->errorCode(), 404);
    auto good = client.call(sample("ok", {kMemory}, "1"));
    EXPECT_EQ(good->errorCode(), 0) << good->text;

    Client anonymous = Client::tcp(s_agent->tcpPort());
    anonymous.read();
    EXPECT_EQ(anonymous.call(sample("n", {kMemory}, "0"))->errorCode(), 401);
}

// The session keeps at most 64 counters: a request that needs more drops the ones it does not name,
// so an interval-0 rate needs a fresh start afterwards, and every named counter is still answered.
TEST_F(AgentPerformance, SessionCountersAreBounded) {
    Client client = Client::tcp(s_agent->tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    std::vector<std::string> firstBatch = memorySpellings(0, 31);
    firstBatch.emplace_back(kCpu);
    client.call(sample("1", firstBatch, "0"));
    ASSERT_FALSE(counters(*client.call(sample("2", {kCpu}, "0")))[0].value.empty());
    for (int batch = 1; batch <= 2; ++batch) {
        auto reply = client.call(sample("b", memorySpellings(batch * 32, 32), "0"));
        auto values = counters(*reply);
        ASSERT_EQ(values.size(), 32u);
        for (const CounterReply& c : values) {
            EXPECT_FALSE(c.value.empty()) << c.path << ": " << c.message;
        }
    }
    EXPECT_EQ(counters(*client.call(sample("3", {kCpu}, "0")))[0].status, "0xC0000BC6");
}

TEST(AgentPerformanceStop, ASampleInProgressDoesNotHoldUpShutdown) {
    AgentProcess agent(testConfig());
    Client client = Client::tcp(agent.tcpPort());
    ASSERT_EQ(client.login()->errorCode(), 0);
    client.send(sample("long", {kCpu}, "5000"));
    // The longest interval is accepted: no reply (an error would come at once) while it runs.
    EXPECT_THROW(client.read(std::chrono::milliseconds(300)), std::runtime_error);
    const auto start = std::chrono::steady_clock::now();
    const int status = agent.stop(SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
