// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "ReplyWaiter.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace OVL::Agent {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word is the atomic's own storage");

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value, const timespec* timeout) {
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, timeout, nullptr, 0);
}

}  // namespace

void ReplyWaiter::complete(int code, std::string text) {
    m_code = code;
    m_text = std::move(text);
    if (m_state.exchange(kDone, std::memory_order_acq_rel) == kSleeping) {
        futex(m_state, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
    }
}

bool ReplyWaiter::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint32_t state = m_state.load(std::memory_order_acquire);
    while (state != kDone) {
        // Announce the sleep, so that complete() knows to wake us.
        if (state == kWaiting &&
            !m_state.compare_exchange_weak(state, kSleeping, std::memory_order_acq_rel)) {
            continue;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) {
            return m_state.load(std::memory_order_acquire) == kDone;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec relative{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        // Returns at once when the word is no longer kSleeping; spurious returns are re-checked.
        futex(m_state, FUTEX_WAIT_PRIVATE, kSleeping, &relative);
        state = m_state.load(std::memory_order_acquire);
    }
    return true;
}

}  // namespace OVL::Agent
