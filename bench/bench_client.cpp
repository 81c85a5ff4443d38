// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The agent client library against a raw socket client, over TCP to the same ovagent in the same
// run: small-packet round trips (parsed and raw sending, and the synchronous request), and what
// 1,000 connect/disconnect cycles leave behind (descriptors, threads, resident memory). The round
// trips run with one client and with 8 clients at once (each on its own connection and thread).
//
// The agent is started by this program as a child process. Run with the release preset:
//   build/release/bin/bench_client [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/socket.h>

#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "AgentHarness.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLMessage/OVLMessage.h"

namespace {

std::unique_ptr<agent_test::AgentProcess> g_agent;
const std::string kEcho =
    "<packet><target>system</target><data><system><echo><text>ping</text></echo></system></data></packet>";

OVL::OVLConnectionInfo tcpInfo() {
    OVL::OVLGUID realm;
    realm.fromString(agent_test::kSystemRealm);
    return OVL::OVLConnectionInfo("TCP", "127.0.0.1", g_agent->tcpPort(),
                                  OVL::OVLAuthName("tester", "", realm, agent_test::kPassword));
}

// Counts complete replies; the benchmark thread waits for the count.
class CountingHandler : public OVL::OVLTaskHandlerPrototype, public OVL::OVLConnectionHandlerPrototype {
public:
    int onReplyComplete(const OVL::OVLReplyPtr& reply) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_replies;
        }
        m_cv.notify_all();
        return reply->finish();
    }
    void onConnected(const OVL::eid_t& id) override { setState(1, id); }
    void onError(const OVL::OVLRequestErrorData&) override { setState(2, {}); }

    void waitReplies(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_replies >= n; });
    }
    bool waitConnected() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_state != 0; });
        return m_state == 1;
    }
    OVL::eid_t eid;  // set before the connected state is published

private:
    void setState(int state, const OVL::eid_t& id) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            eid = id;
            m_state = state;
        }
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_replies = 0;  // guarded by m_mutex
    int m_state = 0;    // guarded by m_mutex
};

struct LibraryClient {
    OVL::OVLAccessAgentPrototypePtr agent =
        OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    boost::intrusive_ptr<CountingHandler> handler{new CountingHandler};

    LibraryClient() {
        agent->connect(tcpInfo(), OVL::OVLConnectionHandlerPrototypePtr(handler.get()));
        if (!handler->waitConnected()) {
            throw std::runtime_error("library client did not connect");
        }
    }
};

void BM_RawSocketRoundTrip(benchmark::State& state) {
    agent_test::Client client = agent_test::Client::tcp(g_agent->tcpPort());
    client.login();
    const std::string frame = kEcho + '\0';
    for (auto _ : state) {
        client.sendRaw(frame);
        benchmark::DoNotOptimize(client.readFrame());
    }
    state.SetItemsProcessed(state.iterations());
}

// The least any client with its own reading thread can do: the raw socket client, but a second
// thread reads the replies and signals the benchmark thread (like a library's I/O thread calling a
// handler). No library code: it shows what the hand-over alone costs on this machine.
void BM_RawSocketReaderThreadRoundTrip(benchmark::State& state) {
    agent_test::Client client = agent_test::Client::tcp(g_agent->tcpPort());
    client.login();
    std::mutex mutex;
    std::condition_variable cv;
    long replies = 0;  // guarded by mutex
    std::thread reader([&] {
        while (!client.closed) {
            const std::string frame = client.readFrame(std::chrono::hours(1));
            {
                std::lock_guard<std::mutex> lock(mutex);
                replies += client.closed ? 0 : 1;
            }
            cv.notify_all();
        }
    });
    const std::string frame = kEcho + '\0';
    long expected = 0;
    for (auto _ : state) {
        client.sendRaw(frame);
        std::unique_lock<std::mutex> lock(mutex);
        ++expected;
        cv.wait(lock, [&] { return replies >= expected; });
    }
    ::shutdown(client.fd(), SHUT_RDWR);
    reader.join();
    state.SetItemsProcessed(state.iterations());
}

void BM_LibraryParsedRoundTrip(benchmark::State& state) {
    LibraryClient c;
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    message->parse(kEcho.c_str());
    const OVL::OVLMessageBodyPtr body = message->getBody(0);
    OVL::OVLTaskHandlerPrototypePtr handler(c.handler.get());
    int expected = 0;
    for (auto _ : state) {
        std::string id;
        c.agent->createTask(c.handler->eid, "", handler, id)->send(body);
        c.handler->waitReplies(++expected);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LibraryRawRoundTrip(benchmark::State& state) {
    LibraryClient c;
    OVL::OVLTaskHandlerPrototypePtr handler(c.handler.get());
    c.agent->createTask(c.handler->eid, "", handler)->start();
    const std::string frame = kEcho + '\0';
    int expected = 0;
    for (auto _ : state) {
        c.agent->createTask(c.handler->eid, "", handler, frame.data(), frame.size())->startRaw();
        c.handler->waitReplies(++expected);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LibraryRequestSync(benchmark::State& state) {
    LibraryClient c;
    std::string reply, error;
    for (auto _ : state) {
        if (c.agent->requestSync(kEcho, reply, error) != 0) {
            state.SkipWithError(error.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations());
}

int countEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d)) {
            n += e->d_name[0] != '.';
        }
        ::closedir(d);
    }
    return n;
}

long rssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// 1,000 connect/login/disconnect cycles per iteration; the counters are what is left afterwards.
void BM_ConnectDisconnectCycles(benchmark::State& state) {
    { LibraryClient warm; }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int fds = countEntries("/proc/self/fd"), threads = countEntries("/proc/self/task");
    const long rss = rssKiB();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            LibraryClient c;
            if (i % 2 == 0) {
                c.agent->disconnect();
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    state.counters["cycles"] = static_cast<double>(state.iterations() * 1000);
    state.counters["fds_left"] = countEntries("/proc/self/fd") - fds;
    state.counters["threads_left"] = countEntries("/proc/self/task") - threads;
    state.counters["rss_growth_KiB"] = static_cast<double>(rssKiB() - rss);
}

}  // namespace

BENCHMARK(BM_RawSocketRoundTrip)->UseRealTime();
BENCHMARK(BM_RawSocketReaderThreadRoundTrip)->UseRealTime();
BENCHMARK(BM_LibraryParsedRoundTrip)->UseRealTime();
BENCHMARK(BM_LibraryRawRoundTrip)->UseRealTime();
BENCHMARK(BM_LibraryRequestSync)->UseRealTime();
// Load: 8 clients at once, each on its own connection and thread, one request outstanding each.
BENCHMARK(BM_RawSocketRoundTrip)->UseRealTime()->Threads(8);
BENCHMARK(BM_LibraryParsedRoundTrip)->UseRealTime()->Threads(8);
BENCHMARK(BM_LibraryRawRoundTrip)->UseRealTime()->Threads(8);
BENCHMARK(BM_LibraryRequestSync)->UseRealTime()->Threads(8);
BENCHMARK(BM_ConnectDisconnectCycles)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char** argv) {
    // A password check with few iterations keeps the connect cycles about the client, not PBKDF2.
    g_agent = std::make_unique<agent_test::AgentProcess>(agent_test::testConfig("maxConnections=\"4096\""));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_agent.reset();
    return 0;
}
