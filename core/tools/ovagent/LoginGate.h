#pragma once
// Runs the password checks of every session of the agent, so that what unauthenticated peers can
// make the agent do is bounded:
// - at most one check per processor runs at a time, on threads of their own at a lower priority
//   than the network threads;
// - waiting checks are served one address after another (round robin), so a peer address with
//   many connections waits behind its own checks, not the other addresses behind them;
// - at most kMaxPerAddress checks per address and kMaxPending in all are admitted (running or
//   waiting); a session whose check is not admitted is refused (503) instead of queued.
// The failed-login delay is not spent here: the session waits for it on a timer. PreLoginSlots
// bounds the connections per address that have not logged in yet.
//
// Thread-safe. The destructor waits for the running checks and drops the waiting ones.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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

class LoginGate {
public:
    static constexpr std::size_t kMaxPending = 256;
    static constexpr std::size_t kMaxPerAddress = 64;

    enum class Admission { admitted, gateFull, addressFull };

    // `threads` 0: one per processor.
    explicit LoginGate(unsigned threads = 0);
    ~LoginGate();
    LoginGate(const LoginGate&) = delete;
    LoginGate& operator=(const LoginGate&) = delete;

    // Queues `check` for the peer `address` (an IP address, or the transport's name). When
    // admitted, `check` runs later on a gate thread; otherwise it is dropped at once.
    Admission submit(const std::string& address, std::function<void()> check);

    unsigned threads() const { return static_cast<unsigned>(m_threads.size()); }

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, std::deque<std::function<void()>>> m_waiting;  // guarded by m_mutex
    std::deque<std::string> m_turns;  // guarded by m_mutex: addresses with waiting checks, in turn
    std::map<std::string, std::size_t> m_admitted;  // guarded by m_mutex: per address, running or waiting
    std::size_t m_pending = 0;                      // guarded by m_mutex
    bool m_stopping = false;                        // guarded by m_mutex
    std::vector<std::thread> m_threads;
};

}  // namespace ovagent
