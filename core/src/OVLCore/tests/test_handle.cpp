// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "OVLCommon/Files.h"
#include "OVLCore/OVLHandle.h"
#include "child_process.h"
#include "test_utils.h"

using namespace OVL;
using Clock = std::chrono::steady_clock;

namespace {

void* openFile(const std::string& path) {
    return CreateFileAU(path.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool fdIsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) >= 0;
}

struct ClosableHandle : OVLHandle {
    using OVLHandle::OVLHandle;
    using OVLHandle::simpleClose;
};

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(Handle, InvalidValuesAreNotValidAndCloseNothing) {
    ClosableHandle none;
    EXPECT_FALSE(none.isValid());
    EXPECT_EQ(none.getHandle(), INVALID_HANDLE_VALUE);
    ClosableHandle null(nullptr);
    ClosableHandle minusOne(INVALID_HANDLE_VALUE);
    for (ClosableHandle* h : {&none, &null, &minusOne}) {
        EXPECT_FALSE(h->isValid());
        EXPECT_EQ(h->simpleClose(), -1);
        EXPECT_EQ(h->lock(true), -1);
        EXPECT_EQ(h->lock(false), -1);
        h->unlock();
        EXPECT_EQ(h->closeOnExec(true), -1);
        EXPECT_FALSE(h->isCloseInExec());
    }
}

TEST(Handle, OwnsItsDescriptorUntilReleased) {
    ferrik_test::TempDir dir;
    int fd;
    {
        OVLHandle h(openFile(dir.file("f")));
        ASSERT_TRUE(h.isValid());
        fd = handleToFd(h.getHandle());
        EXPECT_TRUE(h.isCloseInExec());
        EXPECT_EQ(h.closeOnExec(false), 0);
        EXPECT_FALSE(h.isCloseInExec());
        EXPECT_EQ(h.closeOnFork(true), 0);
    }
    EXPECT_FALSE(fdIsOpen(fd));

    OVLHandle h(openFile(dir.file("f")));
    void* raw = h.release();
    EXPECT_FALSE(h.isValid());
    EXPECT_EQ(h.getHandle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fdIsOpen(handleToFd(raw)));
    ClosableHandle owner(raw);
    EXPECT_EQ(owner.simpleClose(), 1);
    EXPECT_FALSE(owner.isValid());
    EXPECT_FALSE(fdIsOpen(handleToFd(raw)));
}

TEST(Handle, TwoHandlesOfOneProcessConflict) {
    ferrik_test::TempDir dir;
    OVLHandle a(openFile(dir.file("f")));
    OVLHandle b(openFile(dir.file("f")));
    ASSERT_EQ(a.lock(true), 0);
    EXPECT_EQ(b.lock(true), -1);
    a.unlock();
    EXPECT_EQ(b.lock(true), 0);
    EXPECT_EQ(a.lock(true), -1);
}

TEST(Handle, LockOfAnotherProcessFailsAtOnceOrWaitsForItsUnlock) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f");
    ferrik_test::ChildProcess child([&](const ferrik_test::ParentLink& parent) {
        OVLHandle h(openFile(path));
        if (h.lock(false) != 0) {
            return 1;
        }
        parent.signal();
        parent.wait();  // then unlock after a pause
        ::usleep(300 * 1000);
        h.unlock();
        parent.wait();
        return 0;
    });
    ASSERT_TRUE(child.waitFor(5000));

    OVLHandle mine(openFile(path));
    auto start = Clock::now();
    EXPECT_EQ(mine.lock(true), -1);
    EXPECT_LT(millisSince(start), 200);

    child.signal();
    start = Clock::now();
    EXPECT_EQ(mine.lock(false), 0);
    EXPECT_GE(millisSince(start), 200);
    child.signal();
    EXPECT_EQ(child.join(), 0);
}

TEST(Handle, LockOfAKilledHolderIsReleased) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f");
    ferrik_test::ChildProcess child([&](const ferrik_test::ParentLink& parent) {
        OVLHandle h(openFile(path));
        if (h.lock(false) != 0) {
            return 1;
        }
        parent.signal();
        parent.wait();
        return 0;
    });
    ASSERT_TRUE(child.waitFor(5000));
    OVLHandle mine(openFile(path));
    EXPECT_EQ(mine.lock(true), -1);
    child.kill();
    child.join();
    EXPECT_EQ(mine.lock(true), 0);
}
