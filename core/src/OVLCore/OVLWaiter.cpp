#include "OVLCore/OVLWaiter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>

namespace OVL {

struct OVLWaiter::Event {
    std::mutex mutex;
    std::condition_variable signalledCv;
    bool signalled = false;  // guarded by mutex
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
    std::unique_lock<std::mutex> lock(event->mutex);
    if (limit == 0 || limit == UINT32_MAX) {
        event->signalledCv.wait(lock, [&] { return event->signalled; });
    } else if (!event->signalledCv.wait_for(lock, std::chrono::milliseconds(limit),
                                            [&] { return event->signalled; })) {
        return -2;
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
        std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = true;
    }
    event->signalledCv.notify_one();
    return 0;
}

}  // namespace OVL
