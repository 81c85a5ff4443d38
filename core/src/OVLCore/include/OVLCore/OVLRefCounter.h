// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Intrusive reference counting for objects held through boost::intrusive_ptr.
//
// A new object has count 0; the first intrusive_ptr raises it to 1 and the last one deletes the
// object through its virtual destructor. Counts change atomically, so pointers to one object
// may be copied and dropped on several threads at once.

#include <atomic>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

class OVLCORE_EXPORT OVLRefCounter : private noncopyable {
public:
    OVLRefCounter() = default;
    virtual ~OVLRefCounter();

    // Current count; for tests and diagnostics only (it may change at once on other threads).
    long refCount() const noexcept { return m_refCount.load(std::memory_order_relaxed); }

private:
    friend OVLCORE_EXPORT void intrusive_ptr_add_ref(OVLRefCounter* p) noexcept;
    friend OVLCORE_EXPORT void intrusive_ptr_release(OVLRefCounter* p) noexcept;

    std::atomic<long> m_refCount{0};
};

OVLCORE_EXPORT void intrusive_ptr_add_ref(OVLRefCounter* p) noexcept;
OVLCORE_EXPORT void intrusive_ptr_release(OVLRefCounter* p) noexcept;

}  // namespace OVL
