// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The system-wide named mutex of OVLMemoryMappedFile: an exclusive open-file-description lock of
// the first byte of a lock file whose name is derived from the mutex name. Internal to OVLCore.

#include <string>

namespace OVL {
namespace detail {

// Path of the lock file for a mutex name: the shared-memory directory, "ovl-mutex-" and the name
// with every byte outside [A-Za-z0-9._-] written as %XX (long names are shortened with a hash).
std::string namedMutexPath(const std::string& name);

// Opens (creating if needed) the lock file: a handle carrying its descriptor, or
// INVALID_HANDLE_VALUE with errno set.
void* createNamedMutex(const std::string& name) noexcept;

// 0 when acquired within ms milliseconds, -2 when the time ran out, -1 on any other failure.
int waitNamedMutex(void* mutex, unsigned int ms) noexcept;
void releaseNamedMutex(void* mutex) noexcept;

}  // namespace detail
}  // namespace OVL
