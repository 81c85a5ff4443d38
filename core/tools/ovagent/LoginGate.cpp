#include "LoginGate.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ovagent {

namespace {

// Password checks yield to the network threads: a flood of logins then slows other logins, not
// the sessions already logged in.
constexpr int kCheckNice = 5;

}  // namespace

struct PreLoginSlots::Counts {
    std::mutex mutex;
    std::map<std::string, std::size_t> byAddress;  // guarded by mutex
};

PreLoginSlots::PreLoginSlots() : m_counts(std::make_shared<Counts>()) {}

std::shared_ptr<void> PreLoginSlots::acquire(const std::string& address) {
    struct Slot {
        Slot(std::shared_ptr<Counts> c, std::string a) : counts(std::move(c)), address(std::move(a)) {}
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        ~Slot() {
            std::lock_guard<std::mutex> lock(counts->mutex);
            if (auto it = counts->byAddress.find(address);
                it != counts->byAddress.end() && --it->second == 0) {
                counts->byAddress.erase(it);
            }
        }
        std::shared_ptr<Counts> counts;
        std::string address;
    };
    std::lock_guard<std::mutex> lock(m_counts->mutex);
    std::size_t& held = m_counts->byAddress[address];
    if (held >= kMaxPerAddress) {
        return nullptr;
    }
    ++held;
    return std::make_shared<Slot>(m_counts, address);
}

LoginGate::LoginGate(unsigned threads) {
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    for (unsigned i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { work(); });
    }
}

LoginGate::~LoginGate() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& thread : m_threads) {
        thread.join();
    }
}

LoginGate::Admission LoginGate::submit(const std::string& address, std::function<void()> check) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending >= kMaxPending) {
            return Admission::gateFull;
        }
        std::size_t& admitted = m_admitted[address];
        if (admitted >= kMaxPerAddress) {
            return Admission::addressFull;
        }
        ++admitted;
        ++m_pending;
        auto& queue = m_waiting[address];
        if (queue.empty()) {
            m_turns.push_back(address);
        }
        queue.push_back(std::move(check));
    }
    m_wake.notify_one();
    return Admission::admitted;
}

void LoginGate::work() {
    // Linux gives each thread its own nice value.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kCheckNice);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_turns.empty(); });
        if (m_stopping) {
            return;
        }
        std::string address = std::move(m_turns.front());
        m_turns.pop_front();
        auto waiting = m_waiting.find(address);
        std::function<void()> check = std::move(waiting->second.front());
        waiting->second.pop_front();
        if (waiting->second.empty()) {
            m_waiting.erase(waiting);
        } else {
            m_turns.push_back(address);  // its next check waits for the other addresses' turns
        }
        lock.unlock();
        check();
        check = nullptr;  // what it holds is released outside the lock
        lock.lock();
        --m_pending;
        if (auto admitted = m_admitted.find(address);
            admitted != m_admitted.end() && --admitted->second == 0) {
            m_admitted.erase(admitted);
        }
    }
}

}  // namespace ovagent
