// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// One connection used by several threads at once: writes made from the callers' threads and by the
// I/O thread must keep each thread's order and the stream's framing, every reply must reach the
// task it belongs to, every callback must come on the library's I/O thread, and every write must
// end in exactly one of onWriteFinished or onRequestError, also when the connection closes.

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <map>

#include "ClientTestSupport.h"
#include "IoThread.h"
#include "OVLMessage/OVLMessage.h"

using namespace client_test;

namespace {

// The echoed text of a reply ("" when there is none).
std::string echoed(const std::string& reply) {
    const std::string open = "<ns2:text>";
    const std::size_t begin = reply.find(open);
    const std::size_t end = reply.find("</ns2:text>");
    if (begin == std::string::npos || end == std::string::npos) {
        return {};
    }
    return reply.substr(begin + open.size(), end - begin - open.size());
}

// Records the tag before the first '.' of each echoed text (the padding of large packets follows
// it), counts writes and errors, and whether every callback came on the library's I/O thread.
class RecordingHandler : public OVL::OVLTaskHandlerPrototype, public Waitable {
public:
    int onReplyComplete(const OVL::OVLReplyPtr& reply) override {
        const std::string text = echoed(reply->text());
        change([&] {
            tags.push_back(text.substr(0, text.find('.')));
            ids.push_back(packetId(reply->text()));
            onIoThread = onIoThread && OVL::Agent::IoThread::isCurrent();
        });
        return reply->finish();
    }
    void onRequestError(const OVL::OVLRequestErrorData&) override {
        change([&] {
            ++errors;
            onIoThread = onIoThread && OVL::Agent::IoThread::isCurrent();
        });
    }
    void onWriteFinished() override {
        change([&] {
            ++writes;
            onIoThread = onIoThread && OVL::Agent::IoThread::isCurrent();
        });
    }

    std::vector<std::string> tags;  // guarded by m_mutex
    std::vector<std::string> ids;   // guarded by m_mutex
    int writes = 0;                 // guarded by m_mutex
    int errors = 0;                 // guarded by m_mutex
    bool onIoThread = true;         // guarded by m_mutex
};
using RecordingHandlerPtr = boost::intrusive_ptr<RecordingHandler>;

class ClientConcurrency : public WithAgent {};

// Each thread alternates parsed requests and raw packets without waiting for replies; every fifth
// packet is large, so that the socket buffer fills and writes go partly from the caller's thread
// and partly from the I/O thread's queue.
TEST_F(ClientConcurrency, ThreadsSendingAtOnceKeepTheirOrderAndGetTheirOwnReplies) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    RecordingHandlerPtr subscriber(new RecordingHandler);
    c.agent->createTask(c.eid, "", subscriber)->start();

    constexpr int kThreads = 6, kPerThread = 40;
    const std::string padding(std::size_t{512} * 1024, 'x');
    std::vector<RecordingHandlerPtr> requesters, rawWriters;
    std::vector<std::vector<std::string>> sentIds(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        requesters.emplace_back(new RecordingHandler);
        rawWriters.emplace_back(new RecordingHandler);
    }
    std::atomic<int> failedCalls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int j = 0; j < kPerThread; ++j) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(j);
                const std::string text = j % 5 == 4 ? tag + "." + padding : tag;
                if (j % 2 == 0) {
                    std::string id;
                    OVL::OVLTaskPtr task = c.agent->createTask(c.eid, "", requesters[t], id);
                    sentIds[t].push_back(id);
                    failedCalls += task->send(bodyOf(echoPacket(text))) != 0;
                } else {
                    const std::string frame = echoPacket(text) + '\0';
                    failedCalls += c.agent->createTask(c.eid, "", rawWriters[t], frame.data(), frame.size())
                                       ->startRaw() != 0;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failedCalls.load(), 0);

    constexpr std::size_t kEach = kPerThread / 2;
    ASSERT_TRUE(subscriber->waitFor([&] { return subscriber->tags.size() >= kThreads * kEach; }, 20s));
    std::map<std::string, std::vector<int>> rawOrder;  // thread -> sequence numbers as received
    {
        std::lock_guard<std::mutex> lock(subscriber->m_mutex);
        EXPECT_EQ(subscriber->tags.size(), kThreads * kEach) << "parsed replies went to the subscriber";
        EXPECT_TRUE(subscriber->onIoThread);
        for (const std::string& tag : subscriber->tags) {
            const std::size_t dash = tag.find('-');
            ASSERT_NE(dash, std::string::npos) << tag;
            rawOrder[tag.substr(0, dash)].push_back(std::stoi(tag.substr(dash + 1)));
        }
    }
    for (int t = 0; t < kThreads; ++t) {
        std::vector<int> expected;
        for (int j = 1; j < kPerThread; j += 2) {
            expected.push_back(j);
        }
        EXPECT_EQ(rawOrder[std::to_string(t)], expected) << "raw replies of thread " << t;

        RecordingHandler& requester = *requesters[t];
        ASSERT_TRUE(requester.waitFor([&] { return requester.tags.size() >= kEach; }, 20s)) << t;
        ASSERT_TRUE(rawWriters[t]->waitFor([&] { return rawWriters[t]->writes >= int(kEach); })) << t;
        std::lock_guard<std::mutex> lock(requester.m_mutex);
        std::vector<std::string> expectedTags;
        for (int j = 0; j < kPerThread; j += 2) {
            expectedTags.push_back(std::to_string(t) + "-" + std::to_string(j));
        }
        EXPECT_EQ(requester.tags, expectedTags) << "parsed replies of thread " << t;
        EXPECT_EQ(requester.ids, sentIds[t]);
        EXPECT_EQ(requester.writes, int(kEach));
        EXPECT_EQ(requester.errors, 0);
        EXPECT_TRUE(requester.onIoThread);
        std::lock_guard<std::mutex> rawLock(rawWriters[t]->m_mutex);
        EXPECT_EQ(rawWriters[t]->writes, int(kEach));
        EXPECT_TRUE(rawWriters[t]->tags.empty());
        EXPECT_TRUE(rawWriters[t]->onIoThread);
    }
    EXPECT_TRUE(c.agent->isConnected());
}

// A handler that keeps the default onWriteFinished is told once and then no more; the library
// still writes for it and its replies still come.
TEST_F(ClientConcurrency, DefaultWriteFinishedIsMadeOnceThenNoMore) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    struct Plain : OVL::OVLTaskHandlerPrototype {
        std::atomic<int> replies{0};
        int onReplyComplete(const OVL::OVLReplyPtr& reply) override {
            ++replies;
            return reply->finish();
        }
    };
    boost::intrusive_ptr<Plain> plain(new Plain);
    EXPECT_TRUE(plain->wantsWriteFinished());
    for (int i = 0; i < 20; ++i) {
        std::string id;
        c.agent->createTask(c.eid, "", plain, id)->send(bodyOf(echoPacket("p")));
    }
    for (int i = 0; i < 500 && plain->replies < 20; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(plain->replies.load(), 20);
    EXPECT_FALSE(plain->wantsWriteFinished());
}

// Threads keep sending while the caller disconnects: each request ends exactly once, with its reply
// or with onRequestError, and the connection handler hears nothing after disconnect().
TEST_F(ClientConcurrency, DisconnectWhileThreadsSendEndsEveryRequestExactlyOnce) {
    Connected c = connectOrFail(tcpInfo(agent));
    ASSERT_TRUE(c.agent);
    constexpr int kThreads = 4, kPerThread = 150;
    const std::string kSlowSample =
        "<packet><target>performance</target><data><performance><sample><counter>\\Memory\\Available "
        "Bytes</counter><interval>3000</interval></sample></performance></data></packet>";
    std::vector<RecordingHandlerPtr> handlers;
    for (int t = 0; t < kThreads; ++t) {
        handlers.emplace_back(new RecordingHandler);
    }
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++started;
            // The first request of each thread is a sample that the agent answers only after 3 s,
            // so the disconnect below certainly finds requests still waiting for their reply.
            std::string slowId;
            c.agent->createTask(c.eid, "", handlers[t], slowId)->send(bodyOf(kSlowSample));
            for (int j = 1; j < kPerThread; ++j) {
                std::string id;
                c.agent->createTask(c.eid, "", handlers[t], id)->send(bodyOf(echoPacket("d")));
            }
        });
    }
    while (started < kThreads) {
        std::this_thread::yield();
    }
    // Every thread has a request on the wire (its slow sample) and goes on sending meanwhile.
    for (auto& h : handlers) {
        ASSERT_TRUE(h->waitFor([&] { return h->writes > 0; }));
    }
    c.agent->disconnect();
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        RecordingHandler& h = *handlers[t];
        ASSERT_TRUE(h.waitFor([&] { return int(h.tags.size()) + h.errors >= kPerThread; })) << t;
    }
    std::this_thread::sleep_for(100ms);
    int errors = 0;
    for (int t = 0; t < kThreads; ++t) {
        std::lock_guard<std::mutex> lock(handlers[t]->m_mutex);
        EXPECT_EQ(int(handlers[t]->tags.size()) + handlers[t]->errors, kPerThread) << t;
        EXPECT_TRUE(handlers[t]->onIoThread);
        errors += handlers[t]->errors;
    }
    EXPECT_GE(errors, kThreads) << "the slow samples should all have been pending at the disconnect";
    EXPECT_EQ(c.handler->eventsNow(), std::vector<std::string>{"connected"});
    EXPECT_FALSE(c.agent->isConnected());
}

}  // namespace

// A peer that logs the client in and then reads nothing: raw writes pile up in the socket buffer
// and the library's queue. When the connection closes, each of them still ends in exactly one of
// onWriteFinished or onRequestError: none is dropped silently.
TEST(ClientConcurrencyFailures, RawWritesLeftWhenTheConnectionClosesEachGetAnAnswer) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::atomic<bool> release{false};
    std::thread peer([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        auto sendFrame = [fd](const std::string& text) {
            ::send(fd, text.c_str(), text.size() + 1, MSG_NOSIGNAL);
        };
        sendFrame("<packet><target>system</target><data><system><hello/></system></data></packet>");
        std::string login;
        char ch;
        while (::recv(fd, &ch, 1, 0) == 1 && ch != '\0') {
            login.push_back(ch);
        }
        sendFrame("<packet id=\"" + packetId(login) +
                  "\"><target>system</target><data><system><loginResult><eid>"
                  "6a9f7ffc-db33-4c55-b086-6a5d3f4b6e52</eid></loginResult></system></data></packet>");
        while (!release) {
            std::this_thread::sleep_for(5ms);
        }
        ::close(fd);
    });

    Connected c =
        connectOrFail(OVL::OVLConnectionInfo("TCP", "127.0.0.1", ntohs(addr.sin_port), testerAuth()));
    ASSERT_TRUE(c.agent);
    constexpr int kWrites = 24;
    const std::string frame = echoPacket(std::string(1 << 20, 'y')) + '\0';
    std::vector<RecordingHandlerPtr> writers;
    for (int i = 0; i < kWrites; ++i) {
        writers.emplace_back(new RecordingHandler);
        c.agent->createTask(c.eid, "", writers.back(), frame.data(), frame.size())->startRaw();
    }
    std::this_thread::sleep_for(200ms);
    c.agent->disconnect();
    int failed = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (auto& w : writers) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        EXPECT_TRUE(w->waitFor([&] { return w->writes + w->errors >= 1; }, std::max(left, 0ms)))
            << "a write got no answer";
        std::lock_guard<std::mutex> lock(w->m_mutex);
        EXPECT_EQ(w->writes + w->errors, 1);
        EXPECT_TRUE(w->onIoThread);
        failed += w->errors;
    }
    EXPECT_GT(failed, 0) << "the peer's buffers took everything; the test proved nothing";
    release = true;
    peer.join();
    ::close(listener);
}
