// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// OVL::Mutex, a std::mutex that clang's -Wthread-safety knows as a lock, and OVL::MutexLock, the
// scoped lock that goes with it (see OVLCommon/ThreadAnnotations.h). Both are as cheap as the
// standard ones they wrap: the annotations cost nothing at run time.
//
// A condition variable waits through the scoped lock (MutexLock::wait, waitUntil), which gives the
// mutex back while it sleeps and holds it again when it returns. The predicate stays in the
// caller's loop (`while (!ready) lock.wait(cv);`), where the analysis sees the mutex held.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "OVLCommon/ThreadAnnotations.h"

namespace OVL {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    friend class MutexLock;
    std::mutex m_mutex;
};

// Holds the mutex from construction to destruction; unlock() gives it back early (a lock() may take
// it again).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~MutexLock() RELEASE() = default;
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void lock() ACQUIRE() { m_lock.lock(); }
    void unlock() RELEASE() { m_lock.unlock(); }

    // Sleeps until `cv` is notified (or wakes spuriously); the mutex is held again on return.
    void wait(std::condition_variable& cv) { cv.wait(m_lock); }
    // As wait(), but at most until `deadline`: false when it passed.
    template <class Clock, class Duration>
    bool waitUntil(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& deadline) {
        return cv.wait_until(m_lock, deadline) == std::cv_status::no_timeout;
    }

private:
    std::unique_lock<std::mutex> m_lock;
};

}  // namespace OVL
