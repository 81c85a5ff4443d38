// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "IoThread.h"

#include <openssl/ssl.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <chrono>
#include <future>
#include <thread>

namespace OVL::Agent {

namespace {

thread_local bool t_onIoThread = false;
constexpr std::chrono::seconds kDrainBound{2};

class Runner {
public:
    Runner() : m_guard(boost::asio::make_work_guard(m_context)) {
        // OpenSSL cleans up at exit; initialised before this object is complete, it does so after
        // this destructor, whose last handlers may still close TLS connections.
        OPENSSL_init_ssl(0, nullptr);
        m_thread = std::thread([this] {
            t_onIoThread = true;
            m_context.run();
        });
    }
    ~Runner() {
        m_guard.reset();
        // exit() called from a callback runs this destructor on the I/O thread itself.
        if (std::this_thread::get_id() == m_thread.get_id()) {
            m_context.stop();
            m_thread.detach();
            return;
        }
        // What was posted before the exit runs first, within a bound: a disconnect just before
        // main() returns still closes its connection properly (TLS close_notify included).
        std::promise<void> drained;
        auto done = drained.get_future();
        boost::asio::post(m_context, [&drained] { drained.set_value(); });
        done.wait_for(kDrainBound);
        m_context.stop();
        m_thread.join();
    }
    boost::asio::io_context& context() { return m_context; }

private:
    boost::asio::io_context m_context{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard;
    std::thread m_thread;
};

}  // namespace

boost::asio::io_context& IoThread::context() {
    static Runner runner;
    return runner.context();
}

bool IoThread::isCurrent() noexcept {
    return t_onIoThread;
}

}  // namespace OVL::Agent
