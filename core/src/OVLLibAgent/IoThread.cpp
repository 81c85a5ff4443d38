#include "IoThread.h"

#include <boost/asio/executor_work_guard.hpp>

#include <thread>

namespace OVL::Agent {

namespace {

thread_local bool t_onIoThread = false;

class Runner {
public:
    Runner() : m_guard(boost::asio::make_work_guard(m_context)) {
        m_thread = std::thread([this] {
            t_onIoThread = true;
            m_context.run();
        });
    }
    ~Runner() {
        m_guard.reset();
        m_context.stop();
        // exit() called from a callback runs this destructor on the I/O thread itself.
        if (std::this_thread::get_id() == m_thread.get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
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
