// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OVLCore/OVLLock.h"
#include "OVLCore/OVLLogMessage.h"
#include "OVLCore/OVLLogSystem.h"
#include "OVLCore/OVLSpinLock.h"
#include "OVLCore/OVLWaiter.h"

using namespace OVL;
using Clock = std::chrono::steady_clock;

namespace {

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(Waiter, TimesOutWithoutWakeup) {
    OVLWaiter w;
    const auto start = Clock::now();
    EXPECT_EQ(w.wait(50), -2);
    EXPECT_GE(millisSince(start), 50);
}

TEST(Waiter, PendingWakeupIsConsumedByOneWaitAndWakeupsDoNotAccumulate) {
    OVLWaiter w;
    EXPECT_EQ(w.wakeup(), 0);
    EXPECT_EQ(w.wakeup(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(w.wait(1000), 0);
    EXPECT_LT(millisSince(start), 500);
    EXPECT_EQ(w.wait(10), -2);
}

TEST(Waiter, WaitWithoutLimitReturnsOnlyAfterWakeup) {
    for (int unlimited : {0, -1}) {
        OVLWaiter w;
        std::atomic<bool> woken{false};
        std::thread waker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            woken = true;
            w.wakeup();
        });
        EXPECT_EQ(w.wait(unlimited), 0);
        EXPECT_TRUE(woken);
        waker.join();
    }
}

TEST(Waiter, OneWakeupReleasesOneOfTwoWaiters) {
    OVLWaiter w;
    std::atomic<int> released{0}, timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] { (w.wait(400) == 0 ? released : timedOut)++; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    w.wakeup();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released, 1);
    EXPECT_EQ(timedOut, 1);
}

TEST(Waiter, CopiesShareOneEventAndMovedFromHasNone) {
    OVLWaiter a;
    OVLWaiter b;
    b = a;
    EXPECT_EQ(b.wakeup(), 0);
    EXPECT_EQ(a.wait(10), 0);
    {
        OVLWaiter c(a);
        std::thread t([c]() mutable { c.wakeup(); });
        t.join();
    }
    EXPECT_EQ(a.wait(1000), 0);  // the copy's destruction did not free the shared event

    OVLWaiter moved(std::move(a));
    EXPECT_EQ(a.wait(10), -1);  // NOLINT(bugprone-use-after-move): a moved-from waiter has no event
    EXPECT_EQ(a.wakeup(), -1);
    EXPECT_EQ(moved.wakeup(), 0);
    EXPECT_EQ(b.wait(10), 0);
}

TEST(SpinLock, TwoThreadsCountExactly) {
    OVLSpinLock lock;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 1000000; ++i) {
            lock.lock();
            ++counter;
            lock.unlock();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2000000);
}

TEST(SpinLock, ExcludesWhileHeldAndAnyThreadMayUnlock) {
    OVLSpinLock lock;
    lock.lock();
    std::atomic<bool> entered{false};
    std::thread t([&] {
        lock.lock();
        entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    lock.unlock();
    t.join();
    EXPECT_TRUE(entered);
    std::thread([&] { lock.unlock(); }).join();  // held by the finished thread, released by another
    lock.lock();
    lock.unlock();
    schedYield();
}

TEST(Lock, IsRecursiveAndExcludesOtherThreads) {
    OVLLock lock;
    lock.lock();
    lock.lock();
    std::atomic<bool> entered{false};
    std::thread t([&] {
        lock.lock();
        entered = true;
        lock.unlock();
    });
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);  // still held once
    lock.unlock();
    t.join();
    EXPECT_TRUE(entered);
}

namespace {

class Collecting : public OVLLogWriterEngine {
public:
    void writeMessage(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.push_back(text);
    }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

}  // namespace

TEST(LogSystem, ThreadsQueueAndFlushConcurrently) {
    boost::intrusive_ptr<OVLLogSystem> sys(new OVLLogSystem(OVLLogSystem::LOG_ON, "/nonexistent-dir/x.log"));
    boost::intrusive_ptr<Collecting> engine(new Collecting);
    sys->addEngine(engine);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                *sys << (OVLLogMessage("t.cpp", 1, "L", "", OVLLogSystem::MSG_INFO) << t << ":" << i);
                if (i % 50 == 0) {
                    *sys << post;
                }
                if (i % 100 == 0) {
                    sys->setLogLevel(sys->getLogLevel());
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    sys->flush();
    const auto texts = engine->texts();
    EXPECT_EQ(texts.size(), 2000u);
    EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), 2000u);
}
