// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The writes of one session to its agent, in the order they were made, one at a time.
//
// A write made on any thread goes straight to the socket from that thread when nothing is queued
// before it and the transport has a socket for it (TCP, Unix socket: directWriteSocket); else it
// joins the queue that the I/O thread writes through the transport, one asyncWrite in flight at a
// time. Writes made before the queue opens (the session is still logging in) are held, and go
// first when it opens.
//
// Threads: hold(), push(), close() and isClosed() on any thread; the rest on the I/O thread. The
// queue's mutex guards the gate, the queue itself and the direct writes: a direct write happens
// under it, and close() clears the socket under it before the transport is closed, so no write can
// reach a descriptor that was closed (and perhaps reused). It owns the writes until they are
// written or failed; the transport is the owner's and outlives every write under way (their
// handlers hold the owner through `keepAlive`).
//
// A write that fails stops the queue: nothing more is written, and `onFailure` tells the owner,
// which closes and shuts the queue down with the error that the writes not yet written get.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "OVLCommon/Mutex.h"
#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLLibCore/OVLRequestErrorData.h"
#include "Transport.h"

namespace OVL::Agent {

class WriteQueue {
public:
    struct Write {
        std::string bytes;
        OVLTaskHandlerPrototypePtr notify;  // onWriteFinished, or onRequestError for a raw write
        bool request = false;               // a parsed request: its errors come with its reply's
        std::size_t written = 0;            // bytes that went out already
    };
    // What an asynchronous operation holds so that its owner (and the queue) outlive it.
    using KeepAlive = std::function<std::shared_ptr<void>()>;
    using FailureHandler = std::function<void(const boost::system::error_code&)>;

    WriteQueue(boost::asio::io_context& context, KeepAlive keepAlive, FailureHandler onFailure);
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Any thread. From now on writes are held (until open()) instead of refused.
    void hold() EXCLUDES(m_mutex);
    // Any thread. Refused (false) before hold() and after close(). Else `accepted` (if any) runs
    // under the queue's mutex before the bytes can go out, so that what it registers is there for
    // the reply and in the order of the writes; it must not call the queue.
    bool push(Write write, const std::function<void()>& accepted = nullptr) EXCLUDES(m_mutex);
    // Any thread. Refuses writes from now on and ends the direct writes; what is queued stays
    // until shutdown().
    void close() EXCLUDES(m_mutex);
    bool isClosed() EXCLUDES(m_mutex);

    // I/O thread. The transport to write to, before anything is written.
    void attach(Transport& transport) { m_transport = &transport; }
    // I/O thread. Writes `bytes` before everything queued, while the writes are held (the login).
    void writeFirst(std::string bytes) EXCLUDES(m_mutex);
    // I/O thread. The held writes go out, and the writes from now on; false (and nothing is
    // written) when the queue was closed meanwhile.
    bool open() EXCLUDES(m_mutex);
    // I/O thread. onWriteFinished of the direct writes that went out since the last call; the
    // owner calls it before it delivers what it read, so that a write's onWriteFinished comes
    // before the callbacks of its reply.
    void notifyWritten() EXCLUDES(m_mutex);
    // I/O thread, after close() and after the transport was closed. Every write not yet written
    // gets `err` (onRequestError of a raw write's handler); the write under way gets it (or
    // onWriteFinished) when its handler runs.
    void shutdown(const OVLRequestErrorData& err) EXCLUDES(m_mutex);

private:
    // What a write made now becomes.
    enum class Gate { idle, held, ready, closed };

    bool writeDirectly(Write& write) REQUIRES(m_mutex);
    void writeNext() EXCLUDES(m_mutex);
    void onWritten(const boost::system::error_code& ec) EXCLUDES(m_mutex);

    boost::asio::io_context& m_context;
    KeepAlive m_keepAlive;
    FailureHandler m_onFailure;
    // I/O thread only.
    Transport* m_transport = nullptr;
    bool m_stopped = false;            // a write failed, or shutdown(): nothing more is written
    bool m_shutDown = false;           // shutdown() ran
    OVLRequestErrorData m_closeError;  // for the write under way at shutdown()

    Mutex m_mutex;
    Gate m_gate GUARDED_BY(m_mutex) = Gate::idle;
    int m_directSocket GUARDED_BY(m_mutex) = -1;
    std::deque<Write> m_writes GUARDED_BY(m_mutex);  // front is being written while m_writing
    std::deque<Write> m_held GUARDED_BY(m_mutex);    // made before open()
    bool m_writing GUARDED_BY(m_mutex) = false;
    bool m_writeKicked GUARDED_BY(m_mutex) = false;  // a writeNext is posted
    // Handlers of direct writes still to get onWriteFinished on the I/O thread.
    std::vector<OVLTaskHandlerPrototypePtr> m_written GUARDED_BY(m_mutex);
    bool m_writtenPosted GUARDED_BY(m_mutex) = false;  // a notifyWritten is posted
};

}  // namespace OVL::Agent
