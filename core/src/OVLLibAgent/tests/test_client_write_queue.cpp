// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The write queue against a fake transport on a real io_context: order, one write in flight, a
// failed write, and writes from many threads at once through both the direct and the queued path.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "ClientTestSupport.h"
#include "WriteQueue.h"

namespace {

using client_test::TaskHandler;
using client_test::TaskHandlerPtr;
using OVL::Agent::WriteQueue;
using namespace std::chrono_literals;

// Records each write and completes it later on the io_context, or fails the write with index
// `failAt`. With a socket pair it writes to one end for real and offers it for direct writes.
class FakeTransport : public OVL::Agent::Transport {
public:
    explicit FakeTransport(boost::asio::io_context& context, bool withSocket = false)
        : m_context(context), m_socket(context) {
        if (withSocket) {
            int fds[2];
            EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
            // A small buffer, so that direct writes are cut short and queued writes wait.
            const int size = 4096;
            ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            m_socket.assign(boost::asio::local::stream_protocol(), fds[0]);
            peer = fds[1];
        }
    }
    ~FakeTransport() override {
        if (peer >= 0) {
            ::close(peer);
        }
    }

    void asyncConnect(ConnectHandler done) override {
        boost::asio::post(m_context, [done] { done({}); });
    }
    void asyncReadSome(boost::asio::mutable_buffer, IoHandler done) override {
        boost::asio::post(m_context, [done] { done(boost::asio::error::operation_not_supported, 0); });
    }
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override {
        maxInFlight = std::max(maxInFlight, ++inFlight);
        const auto finish = [this, done](const boost::system::error_code& ec, std::size_t n) {
            --inFlight;
            done(ec, n);
        };
        if (m_socket.is_open()) {
            boost::asio::async_write(m_socket, buffer, finish);
            return;
        }
        if (writes.size() == failAt) {
            boost::asio::post(m_context, [finish] { finish(boost::asio::error::broken_pipe, 0); });
            return;
        }
        writes.emplace_back(static_cast<const char*>(buffer.data()), buffer.size());
        boost::asio::post(m_context, [finish, n = buffer.size()] { finish({}, n); });
    }
    void close() override { m_socket.close(); }
    std::string describe() const override { return "fake"; }
    int directWriteSocket() override { return m_socket.is_open() ? m_socket.native_handle() : -1; }

    std::vector<std::string> writes;  // without a socket
    std::size_t failAt = SIZE_MAX;
    int inFlight = 0, maxInFlight = 0;
    int peer = -1;  // the socket pair's other end

private:
    boost::asio::io_context& m_context;
    boost::asio::local::stream_protocol::socket m_socket;
};

// A queue as a session wires it: a failed write closes it and shuts it down with an error.
struct QueueRig {
    boost::asio::io_context context;
    FakeTransport transport{context};
    std::shared_ptr<int> owner = std::make_shared<int>(0);
    int failures = 0;
    WriteQueue queue{context, [this] { return owner; },
                     [this](const boost::system::error_code& ec) {
                         ++failures;
                         queue.close();
                         transport.close();
                         queue.shutdown({OVL::OVLRequestErrorData::kClosed, "write failed: " + ec.message()});
                     }};
    QueueRig() { queue.attach(transport); }

    TaskHandlerPtr push(const std::string& bytes, bool request = false) {
        TaskHandlerPtr handler(new TaskHandler);
        EXPECT_TRUE(queue.push({bytes, handler, request}));
        return handler;
    }
};

TEST(WriteQueue, WritesHeldThenQueuedInOrderWithOneWriteInFlight) {
    QueueRig rig;
    bool accepted = false;
    EXPECT_FALSE(rig.queue.push({"refused", nullptr}, [&] { accepted = true; }))
        << "a write before hold() is refused";
    EXPECT_FALSE(accepted);

    rig.queue.hold();
    std::vector<TaskHandlerPtr> handlers{rig.push("a"), rig.push("b")};
    rig.context.run();
    EXPECT_TRUE(rig.transport.writes.empty()) << "held writes wait for open()";
    rig.context.restart();

    rig.queue.writeFirst("login");
    ASSERT_TRUE(rig.queue.open());
    for (const char* bytes : {"c", "d", "e"}) {
        handlers.push_back(rig.push(bytes));
    }
    rig.context.run();

    EXPECT_EQ(rig.transport.writes, (std::vector<std::string>{"login", "a", "b", "c", "d", "e"}));
    EXPECT_EQ(rig.transport.maxInFlight, 1);
    for (const auto& handler : handlers) {
        EXPECT_EQ(handler->writes, 1);
        EXPECT_TRUE(handler->errorsNow().empty());
    }
    EXPECT_EQ(rig.failures, 0);
}

TEST(WriteQueue, AFailedWriteFailsWhatIsQueuedAndNothingIsWrittenAfterIt) {
    QueueRig rig;
    rig.transport.failAt = 1;
    rig.queue.hold();
    ASSERT_TRUE(rig.queue.open());
    const TaskHandlerPtr first = rig.push("first");
    const TaskHandlerPtr failed = rig.push("second");
    const TaskHandlerPtr queued = rig.push("third");
    const TaskHandlerPtr request = rig.push("fourth", true);
    rig.context.run();

    EXPECT_EQ(rig.failures, 1);
    EXPECT_EQ(rig.transport.writes, std::vector<std::string>{"first"});
    EXPECT_EQ(first->writes, 1);
    EXPECT_TRUE(first->errorsNow().empty());
    for (const auto& handler : {failed, queued}) {
        ASSERT_EQ(handler->errorsNow().size(), 1u);
        EXPECT_EQ(handler->errorsNow()[0],
                  "write failed: " + boost::system::error_code(boost::asio::error::broken_pipe).message());
        EXPECT_EQ(handler->writes, 0);
    }
    // A parsed request hears of it with its reply's error (the pending table's), not from here.
    EXPECT_TRUE(request->errorsNow().empty());
    EXPECT_EQ(request->writes, 0);

    EXPECT_FALSE(rig.queue.push({"late", nullptr}));
    rig.context.restart();
    rig.context.run();
    EXPECT_EQ(rig.transport.writes.size(), 1u);
}

TEST(WriteQueue, TheWriteUnderWayAtShutdownEndsWithItsOwnOutcome) {
    QueueRig rig;
    rig.queue.hold();
    ASSERT_TRUE(rig.queue.open());
    const TaskHandlerPtr underWay = rig.push("under way");
    const TaskHandlerPtr waiting = rig.push("waiting");
    rig.context.run_one();  // starts the first write; its completion is still to run
    ASSERT_EQ(rig.transport.inFlight, 1);
    rig.queue.close();
    rig.queue.shutdown({OVL::OVLRequestErrorData::kNone, "disconnected"});
    EXPECT_EQ(waiting->errorsNow(), std::vector<std::string>{"disconnected"});
    EXPECT_EQ(underWay->writes, 0);
    rig.context.run();
    EXPECT_EQ(underWay->writes, 1);
    EXPECT_TRUE(underWay->errorsNow().empty());
    EXPECT_EQ(rig.transport.writes, std::vector<std::string>{"under way"});
}

// Frames of several threads at once, some larger than the socket's buffer: the direct writes are
// cut short and the I/O thread writes the rest, and the queued writes wait behind them. Whatever
// the path, every frame must arrive whole and each thread's frames in their order.
TEST(WriteQueue, WritesFromManyThreadsArriveWholeAndInEachThreadsOrder) {
    boost::asio::io_context context;
    FakeTransport transport(context, true);
    auto owner = std::make_shared<int>(0);
    std::atomic<int> failures{0};
    WriteQueue queue(
        context, [&] { return owner; }, [&](const boost::system::error_code&) { ++failures; });
    queue.attach(transport);
    queue.hold();
    ASSERT_TRUE(queue.open());
    auto work = boost::asio::make_work_guard(context);
    std::thread io([&] { context.run(); });

    constexpr int kThreads = 4, kFrames = 150;
    std::string received;
    std::thread reader([&] {
        const std::size_t total = [] {
            std::size_t bytes = 0;
            for (int t = 0; t < kThreads; ++t) {
                for (int i = 0; i < kFrames; ++i) {
                    bytes += 16 + static_cast<std::size_t>((i * 997 + t * 131) % 9000) + 1;
                }
            }
            return bytes;
        }();
        char buffer[8192];
        while (received.size() < total) {
            const ssize_t n = ::read(transport.peer, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
    std::vector<TaskHandlerPtr> handlers(std::size_t{kThreads} * kFrames);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kFrames; ++i) {
                char head[17];
                std::snprintf(head, sizeof head, "%c%07d:%07d", 'A' + t, i, t);
                std::string frame(head, 16);
                frame.append(static_cast<std::size_t>((i * 997 + t * 131) % 9000),
                             static_cast<char>('a' + t));
                frame += '\0';
                TaskHandlerPtr handler(new TaskHandler);
                handlers[static_cast<std::size_t>(t) * kFrames + static_cast<std::size_t>(i)] = handler;
                EXPECT_TRUE(queue.push({std::move(frame), handler}));
                // Now and then a pause, so that some writes come while the I/O thread is writing.
                if (i % 8 == 0) {
                    std::this_thread::sleep_for(200us);
                }
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    reader.join();

    std::map<char, int> next;
    std::size_t begin = 0, frames = 0;
    while (begin < received.size()) {
        const std::size_t end = received.find('\0', begin);
        ASSERT_NE(end, std::string::npos) << "a cut frame at the end";
        const std::string frame = received.substr(begin, end - begin);
        ASSERT_GE(frame.size(), 16u) << frame.substr(0, 40);
        const char who = frame[0];
        const int index = std::stoi(frame.substr(1, 7));
        const int t = who - 'A';
        EXPECT_EQ(index, next[who]++) << "thread " << who << " out of order";
        EXPECT_EQ(frame.size(), 16 + static_cast<std::size_t>((index * 997 + t * 131) % 9000))
            << "frame " << who << index;
        EXPECT_EQ(frame.find_first_not_of(static_cast<char>('a' + t), 16), std::string::npos)
            << "bytes of another frame inside " << who << index;
        begin = end + 1;
        ++frames;
    }
    EXPECT_EQ(frames, static_cast<std::size_t>(kThreads * kFrames));

    // Every write hears it went out once, on the I/O thread's side, once the posted notices ran.
    boost::asio::post(context, [&] { queue.notifyWritten(); });
    work.reset();
    io.join();
    for (const auto& handler : handlers) {
        EXPECT_EQ(handler->writes, 1);
    }
    EXPECT_EQ(failures.load(), 0);
    queue.close();
    transport.close();
    queue.shutdown({OVL::OVLRequestErrorData::kNone, "done"});
}

}  // namespace
