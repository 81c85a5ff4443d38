// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <boost/intrusive_ptr.hpp>
#include <thread>
#include <type_traits>
#include <vector>

#include "OVLCore/OVLConnectivityInfo.h"
#include "OVLCore/OVLLoggedRefCounter.h"
#include "OVLCore/OVLRefCounter.h"
#include "test_utils.h"

using namespace OVL;

namespace {

std::atomic<int> g_deleted{0};

struct Counted : OVLRefCounter {
    ~Counted() override { ++g_deleted; }
};

struct Traced : OVLLoggedRefCounter {
    ~Traced() override { ++g_deleted; }
};

}  // namespace

static_assert(!std::is_copy_constructible_v<OVLRefCounter>);
static_assert(!std::is_copy_assignable_v<OVLLoggedRefCounter>);

TEST(RefCounter, LastPointerDeletes) {
    g_deleted = 0;
    auto* raw = new Counted;
    EXPECT_EQ(raw->refCount(), 0);
    {
        boost::intrusive_ptr<Counted> p(raw);
        EXPECT_EQ(raw->refCount(), 1);
        // The copy is what the test is about.
        // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
        boost::intrusive_ptr<Counted> q = p;
        EXPECT_EQ(raw->refCount(), 2);
    }
    EXPECT_EQ(g_deleted, 1);
}

TEST(RefCounter, ConcurrentCopiesKeepTheCountExact) {
    g_deleted = 0;
    boost::intrusive_ptr<Counted> p(new Counted);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([p] {
            for (int i = 0; i < 100000; ++i) {
                boost::intrusive_ptr<Counted> copy = p;
                copy.reset();
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(p->refCount(), 1);
    EXPECT_EQ(g_deleted, 0);
    p.reset();
    EXPECT_EQ(g_deleted, 1);
}

TEST(LoggedRefCounter, LogsEveryChangeAndDeletesAtZero) {
    ferrik_test::LogCapture capture;
    g_deleted = 0;
    auto* t = new Traced;
    t->addRef();
    EXPECT_TRUE(t->unique());
    t->addRef();
    EXPECT_FALSE(t->unique());
    t->release();
    t->release();
    EXPECT_EQ(g_deleted, 1);
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("+++Increment ", 0), 0u);
    EXPECT_TRUE(lines[0].ends_with(" (1)"));
    EXPECT_TRUE(lines[1].ends_with(" (2)"));
    EXPECT_EQ(lines[2].rfind("---Decrement ", 0), 0u);
    EXPECT_TRUE(lines[2].ends_with(" (1)"));
    EXPECT_TRUE(lines[3].ends_with(" (0)"));
    // Every line names the same type, whatever class derives from the counter.
    const std::string name = lines[0].substr(13, lines[0].size() - 13 - 4);
    EXPECT_EQ(lines[3], "---Decrement " + name + " (0)");
}

TEST(ConnectivityInfo, SecondStringIsTheMajorKey) {
    const OVLConnectivityInfo ba1("b", "a", 1), ab0("a", "b", 0);
    EXPECT_TRUE(ba1 < ab0);
    EXPECT_FALSE(ab0 < ba1);
    EXPECT_TRUE(OVLConnectivityInfo("a", "x", -1) < OVLConnectivityInfo("a", "x", 0));
    EXPECT_TRUE(OVLConnectivityInfo("a", "x", 5) < OVLConnectivityInfo("b", "x", 0));
    EXPECT_FALSE(OVLConnectivityInfo("a", "x", 0) < OVLConnectivityInfo("a", "x", 0));
    EXPECT_EQ(OVLConnectivityInfo(), OVLConnectivityInfo());
    EXPECT_NE(OVLConnectivityInfo("a", "b", 1), OVLConnectivityInfo("a", "b", 2));
    OVLConnectivityInfo copy;
    copy = ab0;
    EXPECT_EQ(copy, ab0);
}
