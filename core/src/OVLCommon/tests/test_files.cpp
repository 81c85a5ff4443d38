#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "OVLCommon/Errors.h"
#include "OVLCommon/Files.h"
#include "test_utils.h"

using namespace OVL;

namespace {
HANDLE openWith(const std::string& path, unsigned long disposition, unsigned long access = GENERIC_READ | GENERIC_WRITE) {
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
    EXPECT_EQ(CreateFileAU(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
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
