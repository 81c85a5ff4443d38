// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/SysCall.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace OVL {
namespace sys {

namespace {

// open and fcntl are variadic: these give them the fixed signatures of the table.
int openCall(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int lockControlCall(int fd, int cmd, struct flock* lock) {
    return ::fcntl(fd, cmd, lock);
}

const Calls kDefaultCalls{
    &openCall,        &::read, &::write,  &::close, &::fsync,    &::rename,    &::unlink,
    &lockControlCall, &::mmap, &::munmap, &::msync, &::mprotect, &::ftruncate,
};

Calls g_calls = kDefaultCalls;

}  // namespace

Calls& calls() noexcept {
    return g_calls;
}

const Calls& defaultCalls() noexcept {
    return kDefaultCalls;
}

}  // namespace sys
}  // namespace OVL
