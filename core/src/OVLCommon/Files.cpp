// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/Files.h"
#include "OVLCommon/SysCall.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace OVL {

HANDLE CreateFileAU(const char* path, unsigned long desiredAccess, unsigned long /*shareMode*/,
                    void* /*securityAttributes*/, unsigned long creationDisposition,
                    unsigned long /*flagsAndAttributes*/, HANDLE /*templateFile*/) noexcept {
    if (path == nullptr) {
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    const bool read = desiredAccess & GENERIC_READ;
    const bool write = desiredAccess & GENERIC_WRITE;
    int flags = O_CLOEXEC;
    if (read && write) {
        flags |= O_RDWR;
    } else if (write) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }

    switch (creationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            errno = EINVAL;
            return INVALID_HANDLE_VALUE;
    }
    if ((flags & O_TRUNC) && !write) {  // truncation needs write access on POSIX
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    return fdToHandle(retryOnEintr([&] { return sys::calls().open(path, flags, 0644); }));
}

bool CloseHandleU(HANDLE h) noexcept {
    int fd = handleToFd(h);
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    return sys::calls().close(fd) == 0;
}

int removeFile(const char* path) noexcept {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return sys::calls().unlink(path) == 0 ? 0 : -1;
}

}  // namespace OVL
