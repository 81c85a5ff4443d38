// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The requests of one session that wait for a reply: the parsed requests by packet id, the raw
// writes in write order (the agent answers each of their zero-terminated packets with one frame,
// in order, so the frames that no parsed request claims are counted against them), and the ids of
// requests given up by a caller that wants no late reply.
//
// Threads: requests are added and cancelled on any thread (the callers'); they are claimed,
// completed, expired and taken out on the I/O thread. Every operation takes the table's own mutex
// and none calls out while holding it: the handlers and Done callbacks that leave the table are
// called by the taker. The table owns them until then.

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "OVLCommon/Mutex.h"
#include "OVLConnection/OVLTaskHandlerPrototype.h"

namespace OVL::Agent {

class PendingRequests {
public:
    using Clock = std::chrono::steady_clock;
    // Completion of a synchronous request: code 0 and the reply's text, or a nonzero code
    // (OVLRequestErrorData codes) and a message.
    using Done = std::function<void(int code, std::string textOrError)>;

    struct Request {
        OVLTaskHandlerPrototypePtr handler;
        Done done;
        Clock::time_point deadline;  // no reply by then: time-out
        int timeoutMs = 0;           // the time-out it was given, for the message
    };
    struct RawWait {
        OVLTaskHandlerPrototypePtr handler;
        std::size_t frames = 0;  // replies still to come
        Clock::time_point deadline;
        int timeoutMs = 0;
    };
    struct Expired {
        std::vector<std::pair<std::string, Request>> requests;
        std::vector<RawWait> raw;  // those with a handler to tell
    };
    // How many abandoned ids are remembered (the newest).
    static constexpr std::size_t kMaxAbandoned = 64;

    // Any thread. Each returns true when the caller is to have the time-out timer armed: it was
    // not armed and no arming was under way; it counts as armed from now on.
    bool add(const std::string& id, Request request) EXCLUDES(m_mutex);
    bool addRaw(RawWait raw) EXCLUDES(m_mutex);
    // Forgets the request `id`: a late reply goes to the subscribers; with `drop`, nowhere.
    void cancel(const std::string& id, bool drop) EXCLUDES(m_mutex);

    // I/O thread. Whether the reply with `id` belongs to a request (true): to a pending one, whose
    // handler (perhaps null) is copied to `handler`, or to an abandoned one (now forgotten), which
    // leaves `handler` null.
    bool claim(const std::string& id, OVLTaskHandlerPrototypePtr& handler) EXCLUDES(m_mutex);
    // Takes the request `id` out and returns its Done (empty when it had none or is gone).
    Done complete(const std::string& id) EXCLUDES(m_mutex);
    // A frame that no request claimed: one reply of the oldest raw write.
    void countRawReply() EXCLUDES(m_mutex);
    // The earliest deadline of what waits; none when nothing waits or the table is closed, and
    // then the timer counts as disarmed.
    std::optional<Clock::time_point> earliestDeadline() EXCLUDES(m_mutex);
    // Takes out what expired by `now`. Requests without a handler (a synchronous caller's) become
    // abandoned: their late reply is dropped.
    Expired takeExpired(Clock::time_point now) EXCLUDES(m_mutex);
    // Closes the table (the session ends): takes out the parsed requests and forgets the raw waits
    // (their writers hear from the write queue) and the abandoned ids.
    std::unordered_map<std::string, Request> close() EXCLUDES(m_mutex);

private:
    void abandon(const std::string& id) REQUIRES(m_mutex);
    bool arm() REQUIRES(m_mutex);

    Mutex m_mutex;
    std::unordered_map<std::string, Request> m_requests GUARDED_BY(m_mutex);
    std::deque<RawWait> m_rawWaits GUARDED_BY(m_mutex);  // in write order
    std::deque<std::string> m_abandoned GUARDED_BY(m_mutex);
    bool m_timerArmed GUARDED_BY(m_mutex) = false;  // armed, or an arming is posted
    bool m_closed GUARDED_BY(m_mutex) = false;
};

}  // namespace OVL::Agent
