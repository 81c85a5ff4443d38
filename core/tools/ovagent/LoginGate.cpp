// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "LoginGate.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdint>

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

LoginGate::Clock::duration LoginGate::checkCost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cost;
}

VerifiedLogins::VerifiedLogins() : m_usable(RAND_bytes(m_key.data(), static_cast<int>(m_key.size())) == 1) {}

VerifiedLogins::~VerifiedLogins() {
    OPENSSL_cleanse(m_key.data(), m_key.size());
}

bool VerifiedLogins::digest(std::string_view login, std::string_view domain, std::string_view password,
                            Digest& out) const {
    if (!m_usable) {
        return false;
    }
    // Each part with its length first, so that no two different triples give the same input.
    std::string input;
    for (std::string_view part : {login, domain, password}) {
        const auto size = static_cast<std::uint32_t>(part.size());
        input.append(reinterpret_cast<const char*>(&size), sizeof size);
        input.append(part);
    }
    unsigned length = 0;
    const bool done = HMAC(EVP_sha256(), m_key.data(), static_cast<int>(m_key.size()),
                           reinterpret_cast<const unsigned char*>(input.data()), input.size(), out.data(),
                           &length) != nullptr &&
                      length == out.size();
    OPENSSL_cleanse(input.data(), input.size());
    return done;
}

unsigned long VerifiedLogins::generation() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_generation;
}

bool VerifiedLogins::contains(std::string_view login, std::string_view domain,
                              std::string_view password) const {
    Digest key{};
    if (!digest(login, domain, password, key)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_expiries.find(key);
    return it != m_expiries.end() && Clock::now() < it->second;
}

void VerifiedLogins::remember(std::string_view login, std::string_view domain, std::string_view password,
                              unsigned long generation) {
    Digest key{};
    if (!digest(login, domain, password, key)) {
        return;
    }
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (generation != m_generation) {
        return;
    }
    if (m_expiries.size() >= kMaxEntries && m_expiries.find(key) == m_expiries.end()) {
        for (auto it = m_expiries.begin(); it != m_expiries.end();) {
            it = it->second <= now ? m_expiries.erase(it) : std::next(it);
        }
        if (m_expiries.size() >= kMaxEntries) {
            m_expiries.erase(
                std::min_element(m_expiries.begin(), m_expiries.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; }));
        }
    }
    m_expiries[key] = now + kRemembered;
}

void VerifiedLogins::forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expiries.clear();
    ++m_generation;
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

LoginGate::Admission LoginGate::submit(const std::string& address, Clock::time_point deadline,
                                       std::function<void()> check) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending >= kMaxPending) {
            return Admission::gateFull;
        }
        const auto own = m_admitted.find(address);
        const std::size_t held = own != m_admitted.end() ? own->second : 0;
        if (held >= kMaxPerAddress) {
            return Admission::addressFull;
        }
        // The checks that run before this one: served in turn, each address with checks waiting
        // has up to as many as this address's (plus one) before it; and those running now.
        if (m_cost > Clock::duration::zero()) {
            std::size_t ahead = m_running;
            for (const auto& [other, queue] : m_waiting) {
                ahead += std::min(queue.size(), held + 1);
            }
            const auto rounds = static_cast<long>(ahead / m_threads.size() + 1);
            if (deadline - Clock::now() < m_cost * rounds) {
                return Admission::busy;
            }
        }
        ++m_admitted[address];
        ++m_pending;
        auto& queue = m_waiting[address];
        if (queue.empty()) {
            m_turns.push_back(address);
        }
        queue.push_back(Waiting{deadline, std::move(check)});
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
        Waiting next = std::move(waiting->second.front());
        waiting->second.pop_front();
        if (waiting->second.empty()) {
            m_waiting.erase(waiting);
        } else {
            m_turns.push_back(address);  // its next check waits for the other addresses' turns
        }
        ++m_running;
        lock.unlock();
        // A check whose session has had its 408 already is not run at all.
        if (const auto started = Clock::now(); started < next.deadline) {
            next.check();
            const auto took = Clock::now() - started;
            next.check = nullptr;  // what it holds is released outside the lock
            lock.lock();
            m_cost = m_cost == Clock::duration::zero() ? took : (m_cost * 7 + took) / 8;
        } else {
            next.check = nullptr;
            lock.lock();
        }
        --m_running;
        --m_pending;
        if (auto admitted = m_admitted.find(address);
            admitted != m_admitted.end() && --admitted->second == 0) {
            m_admitted.erase(admitted);
        }
    }
}

}  // namespace ovagent
