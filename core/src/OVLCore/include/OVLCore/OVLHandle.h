// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Owning wrapper of an operating-system handle (a void* carrying a file descriptor), with an
// exclusive advisory lock of the file's first 200,000 bytes.
//
// The locks are open-file-description locks: they conflict between processes and between two
// handles of one process opened separately, and are released by the kernel when the last
// descriptor of the open file goes away, including when the holder dies.
// One object is used by one thread at a time.

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

class OVLCORE_EXPORT OVLHandle : private noncopyable_::noncopyable {
public:
    // Length of the locked range, from offset 0.
    static constexpr long long kLockRange = 200000;

    // Holds the invalid value -1.
    OVLHandle() noexcept;
    // Takes ownership of `handle` (may be invalid) and marks it close-on-exec.
    explicit OVLHandle(void* handle) noexcept;
    ~OVLHandle();

    void* getHandle() const noexcept { return m_handle; }
    // False for -1 and null.
    bool isValid() const noexcept;
    // Gives the handle to the caller and leaves this object invalid.
    void* release() noexcept;

    // Sets or clears close-on-exec of the descriptor: 0, or -1 for an invalid handle or a
    // refused change.
    int closeOnExec(bool on) noexcept;
    // Whether the descriptor is close-on-exec; false for an invalid handle.
    bool isCloseInExec() const noexcept;
    // This platform cannot close a descriptor on fork: no effect, returns 0.
    int closeOnFork(bool on) noexcept;
    // Always false: a forked child inherits the descriptor.
    bool isCloseOnFork() const noexcept;

    // Exclusive lock of [0, kLockRange). With dontWait a held range fails at once; otherwise
    // the call blocks until granted. 0 on success, -1 on failure (including an invalid handle).
    int lock(bool dontWait) noexcept;
    // Unlocks the same range; the result is not examined.
    void unlock() noexcept;

protected:
    // Closes a valid handle: 1 when closed, 0 when the system refused. -1 for an invalid one.
    int simpleClose() noexcept;

private:
    void* m_handle;
};

}  // namespace OVL
