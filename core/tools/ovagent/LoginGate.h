// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Runs the password checks of every session of the agent, so that what unauthenticated peers can
// make the agent do is bounded:
// - at most one check per processor runs at a time, on threads of their own at a lower priority
//   than the network threads;
// - waiting checks are served one address after another (round robin), so a peer address with
//   many connections waits behind its own checks, not the other addresses behind them;
// - at most kMaxPerAddress checks per address and kMaxPending in all are admitted (running or
//   waiting); a session whose check is not admitted is refused (503) instead of queued;
// - a check is not admitted either when the checks it would wait for (by the round robin) would
//   not let it finish before its deadline (the session's login time-out), at the average cost of
//   the checks so far: its session gets a prompt 503 instead of a 408 at the time-out. A check
//   whose deadline has passed when its turn comes is dropped without running.
// VerifiedLogins lets a login verified recently skip the gate.
// The failed-login delay is not spent here: the session waits for it on a timer. PreLoginSlots
// bounds the connections per address that have not logged in yet.
//
// Thread-safe. The destructor waits for the running checks and drops the waiting ones.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ovagent {

// The connections of each peer address that have not logged in yet: at most kMaxPerAddress, so
// that one address cannot hold all of the agent's connections open until their login time-out.
// Thread-safe; a place may outlive the object that gave it.
class PreLoginSlots {
public:
    static constexpr std::size_t kMaxPerAddress = 128;

    PreLoginSlots();
    // A place for one connection of `address`, held until the token is released (the login
    // succeeded or the connection ended); null when the address holds kMaxPerAddress places.
    std::shared_ptr<void> acquire(const std::string& address);

private:
    struct Counts;
    std::shared_ptr<Counts> m_counts;
};

// The logins verified recently: a user who logged in within kRemembered is let in again without
// a password check, so that a flood of wrong logins cannot keep the agent's users out. Holds, per
// login, a keyed hash (HMAC-SHA256, with a key drawn at start and kept in memory only) of login,
// domain and password, never the password itself; at most kMaxEntries, the oldest going first.
// forget() drops them all (the configuration's users changed). Thread-safe.
class VerifiedLogins {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kRemembered{4};
    static constexpr std::size_t kMaxEntries = 4096;

    VerifiedLogins();
    ~VerifiedLogins();
    VerifiedLogins(const VerifiedLogins&) = delete;
    VerifiedLogins& operator=(const VerifiedLogins&) = delete;

    // Changes with every forget(): a check started before one must not remember its login.
    unsigned long generation() const;
    bool contains(std::string_view login, std::string_view domain, std::string_view password) const;
    // Remembers a verified login, unless forget() was called since `generation` was read.
    void remember(std::string_view login, std::string_view domain, std::string_view password,
                  unsigned long generation);
    void forget();

private:
    using Digest = std::array<unsigned char, 32>;
    bool digest(std::string_view login, std::string_view domain, std::string_view password,
                Digest& out) const;

    std::array<unsigned char, 32> m_key{};
    bool m_usable = false;  // the key was drawn
    mutable std::mutex m_mutex;
    std::map<Digest, Clock::time_point> m_expiries;  // guarded by m_mutex
    unsigned long m_generation = 0;                  // guarded by m_mutex
};

class LoginGate {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxPending = 256;
    static constexpr std::size_t kMaxPerAddress = 64;

    enum class Admission { admitted, gateFull, addressFull, busy };

    // `threads` 0: one per processor.
    explicit LoginGate(unsigned threads = 0);
    ~LoginGate();
    LoginGate(const LoginGate&) = delete;
    LoginGate& operator=(const LoginGate&) = delete;

    // Queues `check` for the peer `address` (an IP address, or the transport's name). When
    // admitted, `check` runs later on a gate thread; otherwise it is dropped at once.
    // `deadline`: when the check's answer is no use any more; it is then not run, and a check that
    // would not finish by it is not admitted (busy).
    Admission submit(const std::string& address, Clock::time_point deadline, std::function<void()> check);
    Admission submit(const std::string& address, std::function<void()> check) {
        return submit(address, Clock::time_point::max(), std::move(check));
    }

    unsigned threads() const { return static_cast<unsigned>(m_threads.size()); }
    // The average time a check took so far (zero before the first).
    Clock::duration checkCost();

private:
    struct Waiting {
        Clock::time_point deadline;
        std::function<void()> check;
    };
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, std::deque<Waiting>> m_waiting;  // guarded by m_mutex
    std::deque<std::string> m_turns;  // guarded by m_mutex: addresses with waiting checks, in turn
    std::map<std::string, std::size_t> m_admitted;  // guarded by m_mutex: per address, running or waiting
    std::size_t m_pending = 0;                      // guarded by m_mutex
    std::size_t m_running = 0;                      // guarded by m_mutex
    Clock::duration m_cost{};                       // guarded by m_mutex: moving average of a check
    bool m_stopping = false;                        // guarded by m_mutex
    std::vector<std::thread> m_threads;
};

}  // namespace ovagent
