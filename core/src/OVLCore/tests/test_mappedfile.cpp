// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "OVLCommon/Files.h"
#include "OVLCommon/SysCall.h"
#include "OVLCore/OVLHandle.h"
#include "OVLCore/OVLMemoryMappedFile.h"
#include "child_process.h"
#include "test_utils.h"

using namespace OVL;
using Clock = std::chrono::steady_clock;
using Options = OVLMemoryMappedFile::tFileMappingOptions;

namespace {

constexpr const char* kSequenceError =
    "[OVL::OVLMemoryMappedFile::remap]: Wrong function sequence: OVLMemoryMappedFile::remap call while "
    "m_pMemory "
    "has been already set.";
constexpr const char* kMapFailedPrefix =
    "[OVL::OVLMemoryMappedFile::remap] Failed to map file on to memory. Cause: ";

long long fileSize(const std::string& path) {
    return static_cast<long long>(std::filesystem::file_size(path));
}

void writeFile(const std::string& path, std::size_t size, char fill) {
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// A scratch directory that also removes the lock files of the named mutexes of its files when the
// test ends: the library leaves them (removing a lock file could let two openers end up on
// different files), and they are named after the file's path, which holds the directory's
// unique name.
class ScratchDir : public ferrik_test::TempDir {
public:
    ~ScratchDir() {
        const std::string unique = path().filename().string();
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
                const std::string name = entry.path().filename().string();
                if (startsWith(name, "ovl-mutex-") && name.find(unique) != std::string::npos) {
                    std::filesystem::remove(entry.path(), ec);
                }
            }
        }
    }
};

}  // namespace

TEST(MappedFile, MutexNameReplacesBackslashes) {
    EXPECT_EQ(OVLMemoryMappedFile::mutexName("C:\\cache\\x.dat"), "Global\\C:%cache%x.dat");
    EXPECT_EQ(OVLMemoryMappedFile::mutexName("/tmp/x"), "Global\\/tmp/x");
}

TEST(MappedFile, NewFileIsExtendedAndLaterMapsCoverTheFileSize) {
    ScratchDir dir;
    const std::string path = dir.file("cache.dat");
    OVLMemoryMappedFile a;
    EXPECT_EQ(a.getMemory(), nullptr);
    EXPECT_EQ(a.getSize(), 0u);
    char* view = static_cast<char*>(a.map(path, 4096));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(a.getMemory(), view);
    EXPECT_EQ(a.getSize(), 4096u);
    EXPECT_EQ(fileSize(path), 4096);
    view[4095] = 'z';

    OVLMemoryMappedFile b;
    char* other = static_cast<char*>(b.map(path, 100));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(b.getSize(), 4096u);
    EXPECT_EQ(other[4095], 'z');

    OVLMemoryMappedFile c;
    ASSERT_NE(c.map(path, 100, Options(7, 2, 1, 0)), nullptr);
    EXPECT_EQ(c.getSize(), 100u);
    EXPECT_EQ(fileSize(path), 4096);

    a.unmap();
    EXPECT_EQ(a.getMemory(), nullptr);
    EXPECT_EQ(a.getSize(), 0u);
    EXPECT_EQ(a.lock(true), -3);  // unmap released the handles
    a.unmap();
}

TEST(MappedFile, SizeZeroMapsTheWholeFileButReportsZero) {
    ScratchDir dir;
    const std::string path = dir.file("f");
    writeFile(path, 5000, 'q');
    OVLMemoryMappedFile m;
    const char* view = static_cast<const char*>(m.map(path, 0, Options(7, 1, 1, 0)));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[4999], 'q');
    EXPECT_EQ(m.getSize(), 0u);
    EXPECT_EQ(m.protectMemory(true), -1);
}

TEST(MappedFile, FilesThatCannotBeOpenedGiveNullWithoutLogging) {
    ScratchDir dir;
    ferrik_test::LogCapture log;
    writeFile(dir.file("exists"), 10, 'e');
    struct Case {
        std::string path;
        Options options;
    } cases[] = {
        {dir.file("missing"), Options(7, 1, 1, 1)},  // open existing only
        {dir.file("exists"), Options(7, 0, 1, 1)},   // create new only
        {dir.file("no/such/dir/f"), Options()},      // unwritable path
        {dir.path().string(), Options()},            // a directory, read-write
        {"", Options()},
    };
    for (const Case& c : cases) {
        OVLMemoryMappedFile m;
        EXPECT_EQ(m.map(c.path, 4096, c.options), nullptr) << c.path;
        EXPECT_EQ(m.getSize(), 0u);
        EXPECT_EQ(m.lock(true), -3);
        EXPECT_EQ(m.protectMemory(false), -1);
        m.syncMemory();
        m.unlock();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    EXPECT_EQ(fileSize(dir.file("exists")), 10);
    EXPECT_TRUE(log.lines().empty());
}

TEST(MappedFile, MappingFailuresAreLoggedWithTheirCause) {
    ScratchDir dir;
    ferrik_test::LogCapture log;
    writeFile(dir.file("small"), 10, 's');
    OVLMemoryMappedFile m;
    // A directory opened read-only, an empty file, a read-only file smaller than the mapping.
    EXPECT_EQ(m.map(dir.path().string(), 0, Options(7, 1, 0, 1)), nullptr);
    EXPECT_EQ(m.map(dir.file("empty"), 0), nullptr);
    EXPECT_EQ(m.map(dir.file("small"), 4096, Options(7, 1, 0, 1)), nullptr);
    EXPECT_EQ(m.getSize(), 0u);
    EXPECT_EQ(m.lock(true), -3);  // the file handle was released
    EXPECT_EQ(fileSize(dir.file("small")), 10);
    {
        sys::ScopedCalls guard;
        sys::calls().ftruncate = [](int, off_t) { return errno = ENOSPC, -1; };
        EXPECT_EQ(m.map(dir.file("small"), 4096), nullptr);
    }
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        EXPECT_TRUE(startsWith(line, kMapFailedPrefix)) << line;
    }
    EXPECT_NE(lines[3].find(std::generic_category().message(ENOSPC)), std::string::npos) << lines[3];
    EXPECT_EQ(log.levels()[0], OVL::Logger::kWarning);
}

TEST(MappedFile, RefusedViewGivesNullQuietly) {
    ScratchDir dir;
    ferrik_test::LogCapture log;
    OVLMemoryMappedFile m;
    {
        sys::ScopedCalls guard;
        sys::calls().mmap = [](void*, size_t, int, int, int, off_t) { return errno = ENOMEM, MAP_FAILED; };
        EXPECT_EQ(m.map(dir.file("f"), 4096), nullptr);
    }
    EXPECT_EQ(m.getSize(), 0u);
    EXPECT_TRUE(log.lines().empty());
    // The file stayed open: remap maps it.
    ASSERT_NE(m.remap(4096), nullptr);
    EXPECT_EQ(m.getSize(), 4096u);
}

TEST(MappedFile, RemapWhileMappedIsASequenceErrorAndKeepsTheView) {
    ScratchDir dir;
    OVLMemoryMappedFile m;
    char* view = static_cast<char*>(m.map(dir.file("f"), 4096));
    ASSERT_NE(view, nullptr);
    ferrik_test::LogCapture log;
    EXPECT_EQ(m.remap(4096), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kSequenceError});
    EXPECT_EQ(log.levels(), std::vector<int>{OVL::Logger::kError});
    EXPECT_EQ(m.getMemory(), view);
    view[0] = 'a';
    EXPECT_EQ(m.getSize(), 4096u);

    OVLMemoryMappedFile fresh;
    EXPECT_EQ(fresh.remap(4096), nullptr);  // no file: quiet
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(MappedFile, RemapOfAnotherObjectSharesItsFile) {
    ScratchDir dir;
    OVLMemoryMappedFile a;
    char* first = static_cast<char*>(a.map(dir.file("f"), 4096));
    ASSERT_NE(first, nullptr);
    OVLMemoryMappedFile b;
    char* second = static_cast<char*>(b.remap(4096, nullptr, &a));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first[10] = 'k';
    EXPECT_EQ(second[10], 'k');
    a.unmap();  // b still holds the file
    EXPECT_EQ(b.lock(true), 0);
    b.unlock();
}

TEST(MappedFile, MapsAtTheRequestedAddress) {
    ScratchDir dir;
    const std::size_t length = std::size_t{4} * OVLMemoryMappedFile::getMemoryPageSize();
    void* spot = ::mmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(spot, MAP_FAILED);
    OVLMemoryMappedFile busy;
    EXPECT_EQ(busy.map(dir.file("f"), static_cast<unsigned>(length), Options(), spot), nullptr);
    ::munmap(spot, length);
    OVLMemoryMappedFile m;
    EXPECT_EQ(m.map(dir.file("f"), static_cast<unsigned>(length), Options(), spot), spot);
}

TEST(MappedFile, ProtectMemory) {
    ScratchDir dir;
    EXPECT_EQ(OVLMemoryMappedFile::getMemoryPageSize(), static_cast<unsigned>(::sysconf(_SC_PAGESIZE)));
    OVLMemoryMappedFile m;
    EXPECT_EQ(m.protectMemory(true), -1);
    char* view = static_cast<char*>(m.map(dir.file("f"), 4096));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m.protectMemory(true), 0);
    EXPECT_EQ(m.protectMemory(false), 0);
    view[0] = 'w';
    m.syncMemory();

    OVLMemoryMappedFile readOnly;
    ASSERT_NE(readOnly.map(dir.file("f"), 4096, Options(7, 1, 0, 1)), nullptr);
    EXPECT_EQ(readOnly.protectMemory(true), 0);
    EXPECT_EQ(readOnly.protectMemory(false), 1);  // the file was opened read-only
}

TEST(MappedFile, FailedByteLockReleasesTheMutex) {
    ScratchDir dir;
    const std::string path = dir.file("f");
    OVLMemoryMappedFile a, b;
    ASSERT_NE(a.map(path, 4096), nullptr);
    ASSERT_NE(b.map(path, 4096), nullptr);
    OVLHandle blocker(
        CreateFileAU(path.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_EQ(blocker.lock(true), 0);

    auto start = Clock::now();
    EXPECT_EQ(a.lock(true), -1);
    // b gets the mutex at once, so a did not keep it; its byte lock fails like a's.
    EXPECT_EQ(b.lock(true), -1);
    EXPECT_LT(millisSince(start), 1000);

    blocker.unlock();
    ASSERT_EQ(a.lock(true), 0);
    a.unlock();
    ASSERT_EQ(b.lock(true), 0);
    b.unlock();
}

TEST(MappedFile, TwoProcessesSeeEachOthersWrites) {
    ScratchDir dir;
    const std::string path = dir.file("shared");
    ferrik_test::ChildProcess child([&](const ferrik_test::ParentLink& parent) {
        OVLMemoryMappedFile m;
        char* view = static_cast<char*>(m.map(path, 4096));
        if (view == nullptr || m.lock(false) != 0) {
            return 1;
        }
        std::strcpy(view, "from child");
        m.syncMemory();
        m.unlock();
        parent.signal();
        parent.wait();
        return std::strcmp(view + 100, "from parent") == 0 ? 0 : 2;
    });
    ASSERT_TRUE(child.waitFor(5000));
    OVLMemoryMappedFile m;
    char* view = static_cast<char*>(m.map(path, 4096, Options(7, 1, 1, 1)));
    ASSERT_NE(view, nullptr);
    EXPECT_STREQ(view, "from child");
    ASSERT_EQ(m.lock(false), 0);
    std::strcpy(view + 100, "from parent");
    m.unlock();
    child.signal();
    EXPECT_EQ(child.join(), 0);
}

TEST(MappedFile, LockHeldByAnotherProcessTimesOutAfterFiveSeconds) {
    ScratchDir dir;
    const std::string path = dir.file("f");
    ferrik_test::ChildProcess child([&](const ferrik_test::ParentLink& parent) {
        OVLMemoryMappedFile m;
        if (m.map(path, 4096) == nullptr || m.lock(false) != 0) {
            return 1;
        }
        parent.signal();
        parent.wait();
        m.unlock();
        return 0;
    });
    ASSERT_TRUE(child.waitFor(5000));
    OVLMemoryMappedFile m;
    ASSERT_NE(m.map(path, 4096), nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(m.lock(true), -2);
    EXPECT_GE(millisSince(start), 4900);
    child.signal();
    EXPECT_EQ(child.join(), 0);
    EXPECT_EQ(m.lock(true), 0);
    m.unlock();
}

TEST(MappedFile, MutexOfAKilledHolderIsReleased) {
    ScratchDir dir;
    const std::string path = dir.file("f");
    ferrik_test::ChildProcess child([&](const ferrik_test::ParentLink& parent) {
        OVLMemoryMappedFile m;
        if (m.map(path, 4096) == nullptr || m.lock(false) != 0) {
            return 1;
        }
        parent.signal();
        parent.wait();
        return 0;
    });
    ASSERT_TRUE(child.waitFor(5000));
    child.kill();
    child.join();
    OVLMemoryMappedFile m;
    ASSERT_NE(m.map(path, 4096), nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(m.lock(true), 0);
    EXPECT_LT(millisSince(start), 1000);
    m.unlock();
}

TEST(MappedFile, RemoveLockedCacheFileLogsAndDeletes) {
    ScratchDir dir;
    ferrik_test::LogCapture log;
    writeFile(dir.file("c"), 1, 'c');
    EXPECT_EQ(removeLockedCacheFile(dir.file("c").c_str(), 7), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("c")));
    EXPECT_EQ(removeLockedCacheFile(dir.file("c").c_str(), -3), -1);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"Removing cache file " + dir.file("c") + ", reason 7",
                                        "Removing cache file " + dir.file("c") + ", reason -3"}));
    EXPECT_EQ(log.levels(), (std::vector<int>{OVL::Logger::kWarning, OVL::Logger::kWarning}));
}
