// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Gives the heap's free pages back to the system a little after large frames were handled.
// A frame of up to maxPacketSize is copied, checked and parsed, and what that took is freed when
// its reply is out; the worker threads' heaps keep such pages until malloc_trim returns them.
// Requests within kDelay of each other share one trim, so a stream of large frames costs one trim
// per kDelay, and the last one of a burst is always followed by one.
// Thread-safe.

#include <utility>  // before Asio: its C++20 coroutine header needs std::exchange

#include <boost/asio.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>

namespace ovagent {

class HeapTrimmer {
public:
    // Frames of this size or more ask for a trim when they have been answered.
    static constexpr std::size_t kLargeFrame = std::size_t{64} * 1024;
    static constexpr std::chrono::milliseconds kDelay{200};

    explicit HeapTrimmer(const boost::asio::any_io_executor& executor) : m_timer(executor) {}

    // Asks for a trim within kDelay.
    void request();
    // Trims done so far.
    long trims() const { return m_trims.load(); }

private:
    boost::asio::steady_timer m_timer;  // used on its executor only, armed by the request that set m_armed
    std::atomic<bool> m_armed{false};
    std::atomic<long> m_trims{0};
};

}  // namespace ovagent
