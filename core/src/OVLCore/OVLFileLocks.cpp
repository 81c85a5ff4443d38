// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFileLocks.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "OVLCommon/SysCall.h"

namespace OVL {
namespace detail {

namespace {

struct flock rangeOf(short type, long long start, long long length) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);  // OFD locks require l_pid == 0
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    return fl;
}

}  // namespace

bool lockRange(int fd, long long start, long long length, bool dontWait) noexcept {
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    struct flock fl = rangeOf(F_WRLCK, start, length);
    return retryOnEintr(
               [&] { return sys::calls().lockControl(fd, dontWait ? F_OFD_SETLK : F_OFD_SETLKW, &fl); }) == 0;
}

void unlockRange(int fd, long long start, long long length) noexcept {
    if (fd < 0) {
        return;
    }
    struct flock fl = rangeOf(F_UNLCK, start, length);
    sys::calls().lockControl(fd, F_OFD_SETLK, &fl);
}

}  // namespace detail
}  // namespace OVL
