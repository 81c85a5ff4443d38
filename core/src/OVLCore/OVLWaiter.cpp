// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLWaiter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <new>

#include "OVLCommon/Mutex.h"

namespace OVL {

struct OVLWaiter::Event {
    Mutex mutex;
    std::condition_variable signalledCv;
    bool signalled GUARDED_BY(mutex) = false;
};

OVLWaiter::OVLWaiter() {
    try {
        m_event = std::make_shared<Event>();
    } catch (const std::exception&) {
        m_event.reset();
    }
}

OVLWaiter::~OVLWaiter() = default;
OVLWaiter::OVLWaiter(const OVLWaiter& other) = default;
OVLWaiter& OVLWaiter::operator=(const OVLWaiter& other) = default;
OVLWaiter::OVLWaiter(OVLWaiter&& other) noexcept = default;
OVLWaiter& OVLWaiter::operator=(OVLWaiter&& other) noexcept = default;

int OVLWaiter::wait(int ms) {
    // Keep the event alive for the whole wait even if this object is reassigned meanwhile.
    std::shared_ptr<Event> event = m_event;
    if (!event) {
        return -1;
    }
    const auto limit = static_cast<std::uint32_t>(ms);
    MutexLock lock(event->mutex);
    if (limit == 0 || limit == UINT32_MAX) {
        while (!event->signalled) {
            lock.wait(event->signalledCv);
        }
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
        while (!event->signalled) {
            if (!lock.waitUntil(event->signalledCv, deadline) && !event->signalled) {
                return -2;
            }
        }
    }
    event->signalled = false;
    return 0;
}

int OVLWaiter::wakeup() {
    std::shared_ptr<Event> event = m_event;
    if (!event) {
        return -1;
    }
    {
        MutexLock lock(event->mutex);
        event->signalled = true;
    }
    event->signalledCv.notify_one();
    return 0;
}

}  // namespace OVL
