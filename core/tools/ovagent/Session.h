#pragma once
// One client connection: greeting, then request frames in, reply frames out, until the peer
// closes, a limit is hit or the agent stops.
//
// A session's handlers run one at a time on the executor of its stream (a strand), so the session
// needs no lock. Reading and processing alternate: all frames of one read are answered in one
// write before the next read, which keeps pipelined requests in order and bounds the memory a
// client can make the agent hold. Password checks run on the hashing pool; the session waits
// for them without reading.
// Lifetime: shared_ptr, kept alive by its pending operations.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "AgentContext.h"
#include "AgentLog.h"
#include "Dispatcher.h"
#include "OVLWire/FrameSplitter.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "Transport.h"

namespace ovagent {

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    static constexpr std::size_t kInitialBuffer = 4096;
    static constexpr std::size_t kDiscardSize = 4096;
    static constexpr std::size_t kKeptBuffer = 8192;

    Session(AgentContext& context, asio::thread_pool& hashPool, Stream stream, std::string peer)
        : m_context(context),
          m_hashPool(hashPool),
          m_stream(std::move(stream)),
          m_timer(m_stream.get_executor()),
          m_splitter(context.config()->limits.maxPacketSize, kInitialBuffer),
          m_dispatcher(context) {
        m_state.peer = std::move(peer);
        ++m_context.connections();
    }
    ~Session() {
        --m_context.connections();
        AgentLog::put(AgentLog::info, "%s: closed", m_state.peer.c_str());
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void start() {
        AgentLog::put(AgentLog::info, "%s: connected", m_state.peer.c_str());
        armTimer(m_context.config()->limits.loginTimeout);
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            m_stream.async_handshake([self = this->shared_from_this()](boost::system::error_code ec) {
                if (ec) {
                    AgentLog::put(AgentLog::warning, "%s: TLS handshake failed: %s",
                                  self->m_state.peer.c_str(), ec.message().c_str());
                    return self->close();
                }
                self->m_secured = true;
                self->greet();
            });
        } else {
            greet();
        }
    }

    // Sends `frames` (complete frames, e.g. a refusal) and closes, without reading anything.
    void refuse(std::string frames) {
        m_out = std::move(frames);
        m_closeAfterWrite = true;
        armTimer(std::chrono::milliseconds(2000));
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            m_stream.async_handshake([self = this->shared_from_this()](boost::system::error_code ec) {
                if (ec)
                    return self->close();
                self->flush();
            });
        } else {
            flush();
        }
    }

    // Called on the session's executor when it closes. Set before start().
    void setOnClose(std::function<void()> onClose) { m_onClose = std::move(onClose); }

    // Ends the session from any thread.
    void stop() {
        asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->close(); });
    }

private:
    using Clock = std::chrono::steady_clock;

    void greet() {
        Dispatcher::appendGreeting(m_out);
        flush();
    }

    void readMore() {
        if (m_closed)
            return;
        if (m_splitter.capacity() > kInitialBuffer && m_splitter.buffered() == 0)
            m_splitter.shrink();
        auto area = m_splitter.prepare(1024);
        m_reading = true;
        m_stream.async_read_some(
            asio::buffer(area.data(), area.size()),
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t n) {
                self->m_reading = false;
                self->onRead(ec, n);
            });
    }

    void onRead(boost::system::error_code ec, std::size_t n) {
        if (m_closed)
            return;
        if (m_draining) {
            // Discarding what the peer still sends after our last reply, until it closes.
            if (ec)
                return close();
            if (!m_discard)
                m_discard = std::make_unique<char[]>(kDiscardSize);
            m_reading = true;
            m_stream.async_read_some(
                asio::buffer(m_discard.get(), kDiscardSize),
                [self = this->shared_from_this()](boost::system::error_code e, std::size_t k) {
                    self->m_reading = false;
                    self->onRead(e, k);
                });
            return;
        }
        if (ec) {
            if (ec != asio::error::eof && ec != asio::error::operation_aborted &&
                ec != asio::ssl::error::stream_truncated) {
                AgentLog::put(AgentLog::info, "%s: read failed: %s", m_state.peer.c_str(),
                              ec.message().c_str());
            }
            return close();
        }
        m_splitter.commit(n);
        process();
    }

    // Answers every complete frame buffered; then writes the replies or reads on.
    void process() {
        std::span<char> frame;
        for (;;) {
            auto status = m_splitter.next(frame);
            if (status == OVL::Wire::FrameSplitter::Status::needMore)
                break;
            if (status == OVL::Wire::FrameSplitter::Status::tooLarge) {
                AgentLog::put(AgentLog::warning, "%s: frame over %zu bytes, closing", m_state.peer.c_str(),
                              m_splitter.maxFrameSize());
                OVL::Wire::appendErrorFrame(
                    m_out, {}, kAgentName, {}, OVL::Wire::kErrTooLarge,
                    "packet larger than " + std::to_string(m_splitter.maxFrameSize()) + " bytes");
                m_closeAfterWrite = true;
                break;
            }
            // Only complete frames count as activity: trickling bytes does not hold a connection open.
            m_lastActivity = Clock::now();
            LoginAttempt attempt;
            if (m_dispatcher.handle(frame, m_state, m_out, attempt) == Dispatcher::Outcome::login) {
                return verify(std::move(attempt));
            }
        }
        if (!m_out.empty())
            return flush();
        readMore();
    }

    void verify(LoginAttempt attempt) {
        m_busy = true;
        auto shared = std::make_shared<LoginAttempt>(std::move(attempt));
        asio::post(m_hashPool, [self = this->shared_from_this(), shared] {
            auto verdict = self->m_dispatcher.verifyLogin(*shared);
            asio::post(self->m_stream.get_executor(),
                       [self, shared, verdict] { self->onVerified(*shared, verdict); });
        });
    }

    void onVerified(const LoginAttempt& attempt, const Dispatcher::LoginVerdict& verdict) {
        if (m_closed)
            return;
        if (verdict.accepted) {
            m_busy = false;
            m_dispatcher.finishLogin(attempt, verdict, m_state, m_out);
            m_lastActivity = Clock::now();
            armTimer(m_context.config()->limits.idleTimeout);
            return process();
        }
        // Refused: answer after the configured delay, then close.
        m_dispatcher.finishLogin(attempt, verdict, m_state, m_out);
        m_closeAfterWrite = true;
        auto delay = std::make_shared<asio::steady_timer>(m_stream.get_executor());
        delay->expires_after(m_context.config()->limits.failedLoginDelay);
        delay->async_wait([self = this->shared_from_this(), delay](boost::system::error_code) {
            self->m_busy = false;
            self->flush();
        });
    }

    void flush() {
        if (m_closed || m_writing)
            return;
        m_writing = true;
        m_sending.swap(m_out);
        m_out.clear();
        asio::async_write(m_stream, asio::buffer(m_sending),
                          [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                              self->m_writing = false;
                              self->onWritten(ec);
                          });
    }

    void onWritten(boost::system::error_code ec) {
        if (m_closed)
            return;
        if (ec) {
            AgentLog::put(AgentLog::info, "%s: write failed: %s", m_state.peer.c_str(), ec.message().c_str());
            return close();
        }
        // Large replies do not leave large buffers behind on a connection that turns idle.
        if (m_sending.capacity() > kKeptBuffer)
            std::string().swap(m_sending);
        if (m_out.empty() && m_out.capacity() > kKeptBuffer)
            std::string().swap(m_out);
        if (m_closeAfterWrite)
            return drainAndClose();
        if (!m_out.empty())
            return flush();
        if (!m_reading)
            readMore();
    }

    // After the last reply: end our direction, read and discard until the peer closes (so unread
    // input does not make the kernel reset the connection before the peer got the reply), at most
    // two seconds.
    void drainAndClose() {
        if (m_draining)
            return;
        m_draining = true;
        shutdownSend(m_stream);
        armTimer(std::chrono::milliseconds(2000));
        if (!m_reading)
            onRead({}, 0);
    }

    void armTimer(std::chrono::milliseconds after) {
        m_deadline = Clock::now() + after;
        m_timer.expires_at(m_deadline);
        m_timer.async_wait([self = this->shared_from_this()](boost::system::error_code ec) {
            if (!ec)
                self->onTimer();
        });
    }

    void onTimer() {
        if (m_closed)
            return;
        if (m_draining || m_closeAfterWrite)
            return close();
        const auto now = Clock::now();
        if (now < m_deadline)
            return;  // a newer deadline was armed
        if (!m_secured) {
            AgentLog::put(AgentLog::info, "%s: TLS handshake time-out", m_state.peer.c_str());
            return close();
        }
        if (m_busy) {
            armTimer(std::chrono::milliseconds(1000));
            return;
        }
        if (m_state.loggedIn) {
            const auto idle = m_context.config()->limits.idleTimeout;
            if (now - m_lastActivity < idle) {
                armTimer(std::chrono::duration_cast<std::chrono::milliseconds>(m_lastActivity + idle - now) +
                         std::chrono::milliseconds(1));
                return;
            }
        }
        const char* what = m_state.loggedIn ? "idle time-out" : "login time-out";
        AgentLog::put(AgentLog::info, "%s: %s", m_state.peer.c_str(), what);
        OVL::Wire::appendErrorFrame(m_out, {}, kAgentName, "system", OVL::Wire::kErrTimeout, what);
        m_closeAfterWrite = true;
        if (m_writing)
            return;  // onWritten sends it and closes
        flush();
    }

    void close() {
        if (m_closed)
            return;
        m_closed = true;
        m_timer.cancel();
        closeStream(m_stream);
        if (m_onClose)
            m_onClose();
    }

    AgentContext& m_context;
    asio::thread_pool& m_hashPool;
    Stream m_stream;
    asio::steady_timer m_timer;
    OVL::Wire::FrameSplitter m_splitter;
    Dispatcher m_dispatcher;
    SessionState m_state;
    std::string m_out;                  // replies waiting for the current write to finish
    std::string m_sending;              // bytes of the write in flight
    std::unique_ptr<char[]> m_discard;  // allocated only while draining
    std::function<void()> m_onClose;
    Clock::time_point m_lastActivity;
    Clock::time_point m_deadline;
    bool m_reading = false;
    bool m_writing = false;
    bool m_busy = false;                                  // login check in progress
    bool m_secured = !std::is_same_v<Stream, TlsStream>;  // false until the TLS handshake completed
    bool m_closeAfterWrite = false;
    bool m_draining = false;
    bool m_closed = false;
};

}  // namespace ovagent
