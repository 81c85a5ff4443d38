// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Exclusive open-file-description locks of byte ranges, shared by OVLHandle and the cross-process
// mutex of OVLMemoryMappedFile. Internal to OVLCore.

namespace OVL {
namespace detail {

// Exclusive lock of [start, start + length). With dontWait a conflicting lock fails at once;
// otherwise waits (interrupted waits are resumed). False on failure or for fd < 0.
bool lockRange(int fd, long long start, long long length, bool dontWait) noexcept;
// Never fails visibly.
void unlockRange(int fd, long long start, long long length) noexcept;

}  // namespace detail
}  // namespace OVL
