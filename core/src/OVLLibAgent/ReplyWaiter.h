// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The completion of one synchronous request: the I/O thread completes it once, the caller waits
// for it with a time-out. It is a futex word rather than a mutex and condition variable, so that
// neither side makes a system call that it does not need: the I/O thread wakes the caller only
// when the caller sleeps, and the caller's wake-up does not re-take a mutex.
//
// Threads: complete() on any one thread, wait() and the results on one other thread; the results
// may be read once wait() returned true. Shared by both sides (shared_ptr), since the I/O thread
// may complete it after the caller gave up waiting.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace OVL::Agent {

class ReplyWaiter {
public:
    void complete(int code, std::string text);
    // True once completed; false when `timeout` passed first.
    bool wait(std::chrono::milliseconds timeout);

    int code() const noexcept { return m_code; }
    std::string& text() noexcept { return m_text; }

private:
    enum : std::uint32_t { kWaiting, kSleeping, kDone };
    std::atomic<std::uint32_t> m_state{kWaiting};
    int m_code = 0;      // written before m_state becomes kDone
    std::string m_text;  // written before m_state becomes kDone
};

}  // namespace OVL::Agent
