// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLNamedMutex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "OVLCommon/Files.h"
#include "OVLCommon/SysCall.h"
#include "OVLFileLocks.h"

namespace OVL {
namespace detail {

namespace {

constexpr std::size_t kMaxEncoded = 200;

const std::string& runtimeDirectory() {
    static const std::string dir = [] {
        struct stat st;
        if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
            return std::string("/dev/shm");
        }
        return std::string("/tmp");
    }();
    return dir;
}

bool keptAsIs(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

}  // namespace

std::string namedMutexPath(const std::string& name) {
    std::string encoded;
    encoded.reserve(name.size());
    for (unsigned char c : name) {
        if (keptAsIs(c)) {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    if (encoded.size() > kMaxEncoded) {
        std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a over the whole name
        for (unsigned char c : name) {
            hash = (hash ^ c) * 1099511628211ULL;
        }
        char prefix[20];
        std::snprintf(prefix, sizeof prefix, "%016llx-", static_cast<unsigned long long>(hash));
        encoded = prefix + encoded.substr(encoded.size() - (kMaxEncoded - 17));
    }
    return runtimeDirectory() + "/ovl-mutex-" + encoded;
}

void* createNamedMutex(const std::string& name) noexcept {
    try {
        const std::string path = namedMutexPath(name);
        const int fd = retryOnEintr(
            [&] { return sys::calls().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666); });
        if (fd < 0) {
            return INVALID_HANDLE_VALUE;
        }
        ::fchmod(fd, 0666);  // other users' processes share the mutex too; umask would narrow it
        return fdToHandle(fd);
    } catch (...) {
        errno = ENOMEM;
        return INVALID_HANDLE_VALUE;
    }
}

int waitNamedMutex(void* mutex, unsigned int ms) noexcept {
    const int fd = handleToFd(mutex);
    if (fd < 0) {
        return -1;
    }
    // There is no timed form of the lock call: poll with a pause that doubles from kFirstPause
    // until it reaches kLongestPause.
    constexpr std::chrono::microseconds kFirstPause{50};
    constexpr std::chrono::milliseconds kLongestPause{2};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::chrono::microseconds pause = kFirstPause;
    for (;;) {
        if (lockRange(fd, 0, 1, true)) {
            return 0;
        }
        if (errno != EAGAIN && errno != EACCES) {
            return -1;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return -2;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        if (pause < kLongestPause) {
            pause *= 2;
        }
    }
}

void releaseNamedMutex(void* mutex) noexcept {
    unlockRange(handleToFd(mutex), 0, 1);
}

}  // namespace detail
}  // namespace OVL
