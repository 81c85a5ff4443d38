// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The system-call seam: the table through which the libraries (the common library's files and
// atomic replacement, the runtime's handles, locks, log files, mappings and counters, the message
// library's files) reach the operating system, and the retry of calls that a signal interrupted.
//
// Every entry starts out as the plain system call. Tests replace single entries (and restore
// them, for instance with a ScopedCalls) to force failures that a real system rarely gives:
// ENOSPC on write, EIO on fsync, a failing rename, a refused mmap. Entries are read without
// synchronisation: replace them only while no other thread uses the libraries.
//
// The diagnostics logger (Logger.h) writes with the plain calls, so that what a test forces on
// the seam still gets logged.

#include <fcntl.h>
#include <sys/types.h>

#include <cerrno>
#include <utility>

#include "OVLCommon/Export.h"

namespace OVL {

namespace sys {

struct Calls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*close)(int fd);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    // fcntl with a struct flock argument (F_OFD_SETLK, F_OFD_SETLKW, F_OFD_GETLK).
    int (*lockControl)(int fd, int cmd, struct flock* lock);
    void* (*mmap)(void* address, size_t length, int prot, int flags, int fd, off_t offset);
    int (*munmap)(void* address, size_t length);
    int (*msync)(void* address, size_t length, int flags);
    int (*mprotect)(void* address, size_t length, int prot);
    int (*ftruncate)(int fd, off_t length);
};

// The process-wide table.
OVLCOMMON_EXPORT Calls& calls() noexcept;

// The plain system calls, to delegate to from a replacement and to restore entries.
OVLCOMMON_EXPORT const Calls& defaultCalls() noexcept;

// Keeps the table as it is at construction and puts it back at destruction, whatever entries
// were replaced in between.
class ScopedCalls {
public:
    ScopedCalls() noexcept : m_saved(calls()) {}
    ~ScopedCalls() { calls() = m_saved; }
    ScopedCalls(const ScopedCalls&) = delete;
    ScopedCalls& operator=(const ScopedCalls&) = delete;

private:
    const Calls m_saved;
};

}  // namespace sys

// Calls `call()` until it returns a value other than a negative one with errno EINTR, and returns
// that value: for the calls that report failure by -1 (open, read, write, fcntl, getrandom...).
// errno is as the last call left it.
template <class Call>
auto retryOnEintr(Call&& call) -> decltype(call()) {
    for (;;) {
        auto result = call();
        if (!(result < 0) || errno != EINTR) {
            return result;
        }
    }
}

}  // namespace OVL
