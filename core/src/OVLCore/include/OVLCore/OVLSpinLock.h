// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A spin lock for very short critical sections: it takes no system call while the lock is free
// and yields the processor after every failed attempt.
//
// It has no owner and is not recursive: a holder that locks it again waits for ever. Any thread
// may unlock it.

#include <atomic>
#include <cstdint>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

// Gives the rest of the calling thread's time slice to another ready thread.
OVLCORE_EXPORT void schedYield() noexcept;

class OVLCORE_EXPORT OVLSpinLock : private noncopyable_::noncopyable {
public:
    OVLSpinLock() = default;
    ~OVLSpinLock() = default;

    void lock() noexcept {
        while (m_word.exchange(1, std::memory_order_acquire) != 0) {
            schedYield();
        }
    }
    void unlock() noexcept { m_word.store(0, std::memory_order_release); }

private:
    std::atomic<std::uint32_t> m_word{0};  // 0 free, 1 held
};

}  // namespace OVL
