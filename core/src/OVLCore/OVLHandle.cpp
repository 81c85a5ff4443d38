// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLHandle.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "OVLCommon/Files.h"
#include "OVLCommon/SysCall.h"
#include "OVLFileLocks.h"

namespace OVL {

OVLHandle::OVLHandle() noexcept : m_handle(INVALID_HANDLE_VALUE) {}

OVLHandle::OVLHandle(void* handle) noexcept : m_handle(handle) {
    closeOnExec(true);
    closeOnFork(true);
}

OVLHandle::~OVLHandle() {
    simpleClose();
}

bool OVLHandle::isValid() const noexcept {
    return handleToFd(m_handle) >= 0;
}

void* OVLHandle::release() noexcept {
    closeOnFork(false);
    void* handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return handle;
}

int OVLHandle::simpleClose() noexcept {
    if (!isValid()) {
        return -1;
    }
    const int fd = handleToFd(release());
    return sys::calls().close(fd) == 0 ? 1 : 0;
}

int OVLHandle::closeOnExec(bool on) noexcept {
    const int fd = handleToFd(m_handle);
    if (fd < 0) {
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) {
        return -1;
    }
    const int wanted = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
    if (wanted != flags && ::fcntl(fd, F_SETFD, wanted) < 0) {
        return -1;
    }
    return 0;
}

bool OVLHandle::isCloseInExec() const noexcept {
    const int fd = handleToFd(m_handle);
    if (fd < 0) {
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

int OVLHandle::closeOnFork(bool /*on*/) noexcept {
    return 0;
}

bool OVLHandle::isCloseOnFork() const noexcept {
    return false;
}

int OVLHandle::lock(bool dontWait) noexcept {
    return detail::lockRange(handleToFd(m_handle), 0, kLockRange, dontWait) ? 0 : -1;
}

void OVLHandle::unlock() noexcept {
    detail::unlockRange(handleToFd(m_handle), 0, kLockRange);
}

}  // namespace OVL
