// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// File helpers with the platform's file-open semantics, mapped onto POSIX.
//
// Handles are void* values that carry a file descriptor. INVALID_HANDLE_VALUE (-1) and null are
// invalid. On failure the thread's last error (getLastError) holds the errno value.

#include <cstdint>

#include "OVLCommon/Export.h"

namespace OVL {

using HANDLE = void*;
// A handle carries a descriptor in a pointer; integer-to-pointer casts are how it is made.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// Desired access bits.
constexpr unsigned long GENERIC_READ = 0x80000000UL;
constexpr unsigned long GENERIC_WRITE = 0x40000000UL;
// Share bits: accepted and ignored, since POSIX has no share modes.
constexpr unsigned long FILE_SHARE_READ = 1, FILE_SHARE_WRITE = 2, FILE_SHARE_DELETE = 4;
// Creation dispositions.
constexpr unsigned long CREATE_NEW = 1, CREATE_ALWAYS = 2, OPEN_EXISTING = 3, OPEN_ALWAYS = 4,
                        TRUNCATE_EXISTING = 5;
constexpr unsigned long FILE_ATTRIBUTE_NORMAL = 0x80;

// Descriptor carried by a handle, or -1 for an invalid handle.
inline int handleToFd(HANDLE h) noexcept {
    auto v = reinterpret_cast<intptr_t>(h);
    return (h == nullptr || v < 0 || v > INT32_MAX) ? -1 : static_cast<int>(v);
}
inline HANDLE fdToHandle(int fd) noexcept {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// Opens a file like CreateFileA: access from GENERIC_READ/GENERIC_WRITE, disposition as above.
// New files get mode 0644. The descriptor is close-on-exec. Returns INVALID_HANDLE_VALUE on failure.
OVLCOMMON_EXPORT HANDLE CreateFileAU(const char* path, unsigned long desiredAccess, unsigned long shareMode,
                                     void* securityAttributes, unsigned long creationDisposition,
                                     unsigned long flagsAndAttributes, HANDLE templateFile) noexcept;

// Closes a handle's descriptor. True on success.
OVLCOMMON_EXPORT bool CloseHandleU(HANDLE h) noexcept;

// Deletes a file. Returns 0 on success, -1 on failure (errno in getLastError()).
OVLCOMMON_EXPORT int removeFile(const char* path) noexcept;

}  // namespace OVL
