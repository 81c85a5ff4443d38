// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "WriteQueue.h"

#include <sys/socket.h>

#include <iterator>

#include <boost/asio/post.hpp>

namespace OVL::Agent {

WriteQueue::WriteQueue(boost::asio::io_context& context, KeepAlive keepAlive, FailureHandler onFailure)
    : m_context(context), m_keepAlive(std::move(keepAlive)), m_onFailure(std::move(onFailure)) {}

void WriteQueue::hold() {
    MutexLock lock(m_mutex);
    if (m_gate == Gate::idle) {
        m_gate = Gate::held;
    }
}

bool WriteQueue::push(Write write, const std::function<void()>& accepted) {
    MutexLock lock(m_mutex);
    if (m_gate == Gate::idle || m_gate == Gate::closed) {
        return false;
    }
    if (accepted) {
        accepted();
    }
    if (m_gate == Gate::held) {
        m_held.push_back(std::move(write));
        return true;
    }
    if (m_writes.empty() && !m_writing && writeDirectly(write)) {
        const bool post = !m_written.empty() && !m_writtenPosted;
        m_writtenPosted = m_writtenPosted || post;
        lock.unlock();
        if (post) {
            boost::asio::post(m_context, [this, owner = m_keepAlive()] { notifyWritten(); });
        }
        return true;
    }
    m_writes.push_back(std::move(write));
    const bool kick = !m_writing && !m_writeKicked;
    m_writeKicked = m_writeKicked || kick;
    lock.unlock();
    if (kick) {
        boost::asio::post(m_context, [this, owner = m_keepAlive()] { writeNext(); });
    }
    return true;
}

bool WriteQueue::writeDirectly(Write& write) {
    if (m_directSocket < 0) {
        return false;
    }
    const ssize_t n =
        ::send(m_directSocket, write.bytes.data(), write.bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
        write.written = static_cast<std::size_t>(n);
    }
    // A full socket buffer leaves the rest to the I/O thread, a failure too: its write reports it.
    if (write.written < write.bytes.size()) {
        return false;
    }
    if (write.notify && write.notify->wantsWriteFinished()) {
        m_written.push_back(std::move(write.notify));
    }
    return true;
}

void WriteQueue::close() {
    MutexLock lock(m_mutex);
    m_gate = Gate::closed;
    m_directSocket = -1;
}

bool WriteQueue::isClosed() {
    MutexLock lock(m_mutex);
    return m_gate == Gate::closed;
}

void WriteQueue::writeFirst(std::string bytes) {
    {
        MutexLock lock(m_mutex);
        m_writes.push_front({std::move(bytes), nullptr});
    }
    writeNext();
}

bool WriteQueue::open() {
    {
        MutexLock lock(m_mutex);
        if (m_gate == Gate::closed) {
            return false;
        }
        m_gate = Gate::ready;
        m_directSocket = m_transport->directWriteSocket();
        // The held writes go first: a direct write only happens while nothing is queued.
        while (!m_held.empty()) {
            m_writes.push_back(std::move(m_held.front()));
            m_held.pop_front();
        }
    }
    writeNext();
    return true;
}

void WriteQueue::notifyWritten() {
    std::vector<OVLTaskHandlerPrototypePtr> written;
    {
        MutexLock lock(m_mutex);
        if (m_written.empty()) {
            return;
        }
        written.swap(m_written);
        m_writtenPosted = false;
    }
    for (auto& handler : written) {
        handler->onWriteFinished();
    }
}

void WriteQueue::writeNext() {
    boost::asio::const_buffer buffer;
    {
        MutexLock lock(m_mutex);
        m_writeKicked = false;
        if (m_writing || m_writes.empty() || m_gate == Gate::closed || m_stopped) {
            return;
        }
        m_writing = true;
        // Other threads only append to the queue: the front's bytes stay where they are.
        const Write& front = m_writes.front();
        buffer = boost::asio::buffer(front.bytes.data() + front.written, front.bytes.size() - front.written);
    }
    m_transport->asyncWrite(buffer, [this, owner = m_keepAlive()](const boost::system::error_code& ec,
                                                                  std::size_t) { onWritten(ec); });
}

void WriteQueue::onWritten(const boost::system::error_code& ec) {
    Write done;
    {
        MutexLock lock(m_mutex);
        m_writing = false;
        // A failed write stays queued: shutdown() gives it the error.
        if (!m_writes.empty() && (!ec || m_shutDown)) {
            done = std::move(m_writes.front());
            m_writes.pop_front();
        }
    }
    if (m_shutDown) {
        // The write that was under way when the connection closed; a request had its answer.
        if (done.notify && !done.request) {
            if (ec) {
                done.notify->onRequestError(m_closeError);
            } else {
                done.notify->onWriteFinished();
            }
        }
        return;
    }
    if (ec) {
        m_stopped = true;
        m_onFailure(ec);
        return;
    }
    if (done.notify) {
        done.notify->onWriteFinished();
    }
    writeNext();
}

void WriteQueue::shutdown(const OVLRequestErrorData& err) {
    m_stopped = true;
    m_shutDown = true;
    m_closeError = err;
    std::deque<Write> unwritten;
    {
        MutexLock lock(m_mutex);
        m_gate = Gate::closed;
        m_directSocket = -1;
        unwritten.swap(m_held);
        // The write under way keeps its buffer until its handler has run.
        const auto keep = m_writes.begin() + (m_writing && !m_writes.empty() ? 1 : 0);
        std::move(keep, m_writes.end(), std::back_inserter(unwritten));
        m_writes.erase(keep, m_writes.end());
    }
    // The requests among them had their answer with their reply's.
    for (Write& write : unwritten) {
        if (write.notify && !write.request) {
            write.notify->onRequestError(err);
        }
    }
}

}  // namespace OVL::Agent
