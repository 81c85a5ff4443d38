// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "OVLCommon/AtomicFile.h"
#include "OVLCommon/Errors.h"
#include "OVLCommon/Files.h"
#include "OVLCommon/SysCall.h"
#include "test_utils.h"

using namespace OVL;

namespace {
HANDLE openWith(const std::string& path, unsigned long disposition,
                unsigned long access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileAU(path.c_str(), access, 7, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

TEST(Files, DispositionsFollowThePlatformRules) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f.dat");

    EXPECT_EQ(openWith(path, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(getLastError(), static_cast<unsigned long>(ENOENT));

    HANDLE h = openWith(path, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(::write(handleToFd(h), "abc", 3), 3);
    EXPECT_TRUE(CloseHandleU(h));

    EXPECT_EQ(openWith(path, CREATE_NEW), INVALID_HANDLE_VALUE);  // exists already
    EXPECT_EQ(getLastError(), static_cast<unsigned long>(EEXIST));

    h = openWith(path, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::filesystem::file_size(path), 3u);  // open-always keeps the contents
    CloseHandleU(h);

    h = openWith(path, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    CloseHandleU(h);

    h = openWith(dir.file("ro.dat"), OPEN_ALWAYS, GENERIC_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_LT(::write(handleToFd(h), "x", 1), 0);  // read-only descriptor
    CloseHandleU(h);

    EXPECT_EQ(openWith(path, 42), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileAU(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST(Files, HandlesCarryDescriptors) {
    EXPECT_EQ(handleToFd(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(handleToFd(nullptr), -1);
    EXPECT_EQ(handleToFd(fdToHandle(5)), 5);
    EXPECT_EQ(fdToHandle(-1), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandleU(INVALID_HANDLE_VALUE));
}

TEST(Files, RemoveFileReportsMissingFiles) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("gone.txt");
    std::ofstream(path) << "x";
    EXPECT_EQ(removeFile(path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(removeFile(path.c_str()), -1);
    EXPECT_EQ(getLastError(), static_cast<unsigned long>(ENOENT));
    EXPECT_EQ(removeFile(nullptr), -1);
}

TEST(Files, RetryOnEintrRepeatsOnlyInterruptedCalls) {
    int calls = 0;
    auto interruptedTwice = [&] {
        errno = ++calls <= 2 ? EINTR : 0;
        return calls <= 2 ? -1 : 7;
    };
    EXPECT_EQ(retryOnEintr(interruptedTwice), 7);
    EXPECT_EQ(calls, 3);
    calls = 0;
    auto failing = [&] {
        ++calls;
        errno = ENOSPC;
        return ssize_t(-1);
    };
    EXPECT_EQ(retryOnEintr(failing), -1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errno, ENOSPC);
}

namespace {
std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
int leftOvers(const ferrik_test::TempDir& dir) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        n += entry.path().filename().string().find(".tmp") != std::string::npos;
    }
    return n;
}
}  // namespace

TEST(Files, ReplaceFileAtomicallyKeepsTheOldFileOnEveryFailure) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("state.xml");
    std::string error;
    ASSERT_EQ(replaceFileAtomically(path, "first", error, 0600), 0) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(replaceFileAtomically(path, std::string(200000, 'x'), error), 0) << error;
    EXPECT_EQ(contentOf(path).size(), 200000u);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a replaced file keeps its mode";

    // A full disk half-way through: the old content stays, no temporary file is left.
    static int writes = 0;
    writes = 0;
    {
        sys::ScopedCalls restore;
        sys::calls().write = [](int fd, const void* data, size_t size) -> ssize_t {
            if (++writes > 1) {
                return errno = ENOSPC, -1;
            }
            return sys::defaultCalls().write(fd, data, size / 2);
        };
        EXPECT_EQ(replaceFileAtomically(path, "second", error), -1);
    }
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(contentOf(path).size(), 200000u);
    EXPECT_EQ(leftOvers(dir), 0);

    // A directory where the file should be is named as such.
    std::filesystem::create_directory(dir.file("sub.xml"));
    EXPECT_EQ(replaceFileAtomically(dir.file("sub.xml"), "x", error), -1);
    EXPECT_NE(error.find("a directory"), std::string::npos) << error;
    EXPECT_EQ(temporaryPrefix(path), path + ".tmp");
}
