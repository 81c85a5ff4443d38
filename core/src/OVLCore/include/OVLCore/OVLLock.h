// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A recursive mutual-exclusion lock for the threads of one process.

#include <mutex>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

class OVLCORE_EXPORT OVLLock : private noncopyable_::noncopyable {
public:
    OVLLock();
    // The lock must not be held. Defined in the library, which exports it (part of its ABI).
    ~OVLLock();  // NOLINT(performance-trivially-destructible)

    // Blocks until the calling thread holds the lock. A holder may lock again; it then unlocks
    // as many times as it locked.
    void lock();
    // Releases one level of holding; only the holder may call it.
    void unlock();

private:
    std::recursive_mutex m_section;
};

}  // namespace OVL
