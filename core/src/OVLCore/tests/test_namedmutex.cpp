// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The lock files behind the mapped files' named mutexes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <unistd.h>

#include "OVLCommon/Files.h"
#include "OVLNamedMutex.h"

using namespace OVL;
using Clock = std::chrono::steady_clock;

namespace {

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

struct Mutex {
    explicit Mutex(const std::string& name) : handle(detail::createNamedMutex(name)) {}
    ~Mutex() { CloseHandleU(handle); }
    void* handle;
};

}  // namespace

TEST(NamedMutex, LockFileNamesAreDistinctSafeAndShort) {
    const std::string a = detail::namedMutexPath("Global\\/tmp/x.dat");
    EXPECT_EQ(baseName(a), "ovl-mutex-Global%5C%2Ftmp%2Fx.dat");
    EXPECT_NE(a, detail::namedMutexPath("Global\\/tmp/x_dat"));
    EXPECT_EQ(a, detail::namedMutexPath("Global\\/tmp/x.dat"));

    // Long names keep a hash of the whole name, so names that differ only early stay apart.
    const std::string tail(400, 'd');
    const std::string longA = detail::namedMutexPath("Global\\/a/" + tail);
    const std::string longB = detail::namedMutexPath("Global\\/b/" + tail);
    EXPECT_NE(longA, longB);
    EXPECT_LE(baseName(longA).size(), 255u);
    EXPECT_EQ(baseName(longA).find('/'), std::string::npos);
}

TEST(NamedMutex, WaitTimesOutWhileAnotherDescriptorHoldsIt) {
    const std::string name = "Global\\ovl-test-" + std::to_string(::getpid());
    Mutex first(name), second(name), other(name + "-other");
    ASSERT_EQ(detail::waitNamedMutex(first.handle, 0), 0);
    const auto start = Clock::now();
    EXPECT_EQ(detail::waitNamedMutex(second.handle, 150), -2);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(detail::waitNamedMutex(other.handle, 0), 0);
    detail::releaseNamedMutex(first.handle);
    EXPECT_EQ(detail::waitNamedMutex(second.handle, 150), 0);
    EXPECT_EQ(detail::waitNamedMutex(INVALID_HANDLE_VALUE, 10), -1);
    ::unlink(detail::namedMutexPath(name).c_str());
    ::unlink(detail::namedMutexPath(name + "-other").c_str());
}
