// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "OVLCore/OVLGUIDBase.h"

using OVL::OVLGUIDBase;

TEST(GUID, NilValue) {
    OVLGUIDBase a, b;
    EXPECT_FALSE(a.isValid());
    EXPECT_EQ(a.toString(), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(a < b);
    EXPECT_EQ(OVLGUIDBase::m_uuidstrlen, 37);
}

TEST(GUID, TextFormFollowsTheFieldLayout) {
    const unsigned char raw[16] = {0x78, 0x56, 0x34, 0x12, 0xbc, 0x9a, 0xf0, 0xde,
                                   0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    OVLGUIDBase g(raw);
    EXPECT_EQ(g.toString(), "12345678-9abc-def0-0123-456789abcdef");
    EXPECT_EQ(memcmp(g.toBinary(), raw, 16), 0);
    EXPECT_EQ(g.Data1, 0x12345678u);
    EXPECT_EQ(g.Data2, 0x9abcu);
    EXPECT_EQ(g.Data3, 0xdef0u);

    OVLGUIDBase parsed;
    ASSERT_EQ(parsed.fromString("12345678-9ABC-DEF0-0123-456789ABCDEF"), 0);
    EXPECT_EQ(parsed, g);
    EXPECT_EQ(parsed.toString(), "12345678-9abc-def0-0123-456789abcdef");
}

TEST(GUID, BracedFormAndTrailingText) {
    OVLGUIDBase g;
    EXPECT_EQ(g.fromString("{12345678-9abc-def0-0123-456789abcdef}"), 0);
    EXPECT_EQ(g.toString(), "12345678-9abc-def0-0123-456789abcdef");
    EXPECT_EQ(g.fromString("{12345678-9abc-def0-0123-456789abcdef}tail"), 0);
    EXPECT_EQ(g.fromString("{12345678-9abc-def0-0123-456789abcdef"), -1);   // 37 characters
    EXPECT_EQ(g.fromString("{12345678-9abc-def0-0123-456789abcdefX"), -1);  // no closing brace
    EXPECT_FALSE(g.isValid());
}

class GUIDBadText : public ::testing::TestWithParam<const char*> {};

TEST_P(GUIDBadText, FailsAndLeavesNil) {
    OVLGUIDBase g;
    g.generate();
    ASSERT_TRUE(g.isValid());
    EXPECT_EQ(g.fromString(GetParam()), -1);
    EXPECT_FALSE(g.isValid());
}

INSTANTIATE_TEST_SUITE_P(Malformed, GUIDBadText,
                         ::testing::Values(nullptr, "", "1234", "12345678-9abc-def0-0123-456789abcde",
                                           "12345678-9abc-def0-0123-456789abcdef0",
                                           "12345678-9abc-def0-0123-456789abcdeg",
                                           "12345678x9abc-def0-0123-456789abcdef",
                                           "123456789-abc-def0-0123-456789abcdef",
                                           "12345678-9abc-def0-0123-456789abc\xff"
                                           "f",
                                           " 2345678-9abc-def0-0123-456789abcdef"));

TEST(GUID, BinaryAndIntegerConstruction) {
    OVLGUIDBase g;
    g.generate();
    EXPECT_EQ(g.fromBinary(nullptr), 0);
    EXPECT_FALSE(g.isValid());

    OVLGUIDBase h(0x0102030405060708LL, -1LL);
    unsigned long long first, second;
    h.getData(first, second);
    EXPECT_EQ(first, 0x0102030405060708ULL);
    EXPECT_EQ(second, ~0ULL);
    EXPECT_EQ(static_cast<const unsigned char*>(h.toBinary())[0], 0x08);
}

TEST(GUID, OrderingUsesUnsignedLittleEndianHalves) {
    OVLGUIDBase a(1, 0), b(0, 5);
    EXPECT_TRUE(b < a);
    EXPECT_TRUE(a > b);
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(a < a);
    EXPECT_FALSE(a > a);
    EXPECT_TRUE(OVLGUIDBase(-1, 0) > OVLGUIDBase(1, 0));
    EXPECT_TRUE(OVLGUIDBase(7, 1) < OVLGUIDBase(7, 2));
}

TEST(GUID, GenerateGivesVersion4Values) {
    std::set<std::string> seen;
    const std::regex v4("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    for (int i = 0; i < 1000; ++i) {
        OVLGUIDBase g;
        ASSERT_EQ(g.generate(), 0);
        std::string text = g.toString();
        ASSERT_TRUE(std::regex_match(text, v4)) << text;
        seen.insert(text);
        OVLGUIDBase back;
        ASSERT_EQ(back.fromString(text.c_str()), 0);
        ASSERT_EQ(back, g);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(GenerateID, FormatAndCounter) {
    std::string a, b;
    generateID(a);
    generateID(b);
    // The counter may itself hold the digit c; the time (eight hex digits until 2106) ends at
    // the first t, which no hex digit can be, so the split is unambiguous.
    const std::regex shape("^([0-9a-f]+)c([0-9a-f]{8})t([0-9a-f]+)r([0-9a-f]+)$");
    std::smatch ma, mb;
    ASSERT_TRUE(std::regex_match(a, ma, shape)) << a;
    ASSERT_TRUE(std::regex_match(b, mb, shape)) << b;
    EXPECT_EQ(std::stoul(mb[1], nullptr, 16), std::stoul(ma[1], nullptr, 16) + 1);
    EXPECT_NE(a, b);
}

// The last field is the calling thread's id: right on every thread, and in a forked child too,
// although the id is asked of the kernel only once per thread.
TEST(GenerateID, EndsWithTheCallingThreadsIdAlsoAfterFork) {
    auto threadField = [](const std::string& id) {
        return std::stoul(id.substr(id.rfind('r') + 1), nullptr, 16);
    };
    auto kernelTid = [] { return static_cast<unsigned long>(syscall(SYS_gettid)); };
    std::string id;
    generateID(id);
    generateID(id);
    EXPECT_EQ(threadField(id), kernelTid());
    unsigned long inThread = 0, expected = 1;
    std::thread([&] {
        std::string other;
        generateID(other);
        inThread = threadField(other);
        expected = kernelTid();
    }).join();
    EXPECT_EQ(inThread, expected);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string inChild;
        generateID(inChild);
        _exit(threadField(inChild) == kernelTid() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child's ids carry the parent's thread id";
}

TEST(GenerateID, UniqueAcrossThreads) {
    std::mutex mutex;
    std::set<std::string> ids;
    std::vector<std::thread> threads;
    constexpr int kThreads = 4, kPerThread = 5000;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<std::string> local(kPerThread);
            for (auto& id : local) {
                generateID(id);
            }
            std::lock_guard<std::mutex> lock(mutex);
            ids.insert(local.begin(), local.end());
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads * kPerThread));
}
