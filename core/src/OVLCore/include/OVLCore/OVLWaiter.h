// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A waiter: one thread sleeps in wait() until another calls wakeup() or the time runs out.
//
// The event resets itself when it releases one waiter. A wakeup() with nobody waiting stays
// pending, so the next wait() returns at once; several wakeups before one wait count as one.
// Copies (construction and assignment) share one event, which is freed with the last copy.
// A moved-from waiter has no event; its operations then return -1.
// All operations may be called from any thread.

#include <memory>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

class OVLCORE_EXPORT OVLWaiter {
public:
    // Creates an unsignalled event; if that fails the waiter has none.
    OVLWaiter();
    ~OVLWaiter();
    OVLWaiter(const OVLWaiter& other);
    OVLWaiter& operator=(const OVLWaiter& other);
    OVLWaiter(OVLWaiter&& other) noexcept;
    OVLWaiter& operator=(OVLWaiter&& other) noexcept;

    // Waits for the event for at most `ms` milliseconds, taken as an unsigned 32-bit count;
    // 0 and -1 wait without limit. 0 when signalled (the signal is consumed), -2 when the time
    // ran out, -1 without an event.
    int wait(int ms);
    // Signals the event. 0, or -1 without an event.
    int wakeup();

    struct Event;

private:
    std::shared_ptr<Event> m_event;
};

}  // namespace OVL
