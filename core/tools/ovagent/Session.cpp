// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Session.h"

#include <algorithm>
#include <atomic>
#include <type_traits>

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"

namespace ovagent {

template <class Stream>
Session<Stream>::Session(AgentContext& context, SessionWorkers workers, Stream stream, Peer peer)
    : m_context(context),
      m_workers(std::move(workers)),
      m_stream(std::move(stream)),
      m_address(peer.address),
      m_preLoginSlot(std::move(peer.preLoginSlot)),
      m_timer(m_stream.get_executor()),
      m_waitTimer(m_stream.get_executor()),
      m_splitter(context.config()->limits.maxPacketSize, kInitialBuffer),
      m_dispatcher(context) {
    m_state.log.setPeer(std::move(peer.name), std::move(peer.address));
    ++m_context.connections();
}

template <class Stream>
Session<Stream>::~Session() {
    --m_context.connections();
    m_state.log.flushSuppressed();
    SESSION_LOG(m_state.log, AgentLog::info, "closed");
}

template <class Stream>
void Session<Stream>::start() {
    SESSION_LOG(m_state.log, AgentLog::info, "connected");
    asio::post(m_stream.get_executor(), [self = this->shared_from_this()] {
        self->armTimer(self->m_context.config()->limits.loginTimeout);
        asyncHandshake(self->m_stream, [self](boost::system::error_code ec) {
            if (self->m_phase != Phase::handshake) {
                return;
            }
            if (ec) {
                SESSION_LOG(self->m_state.log, AgentLog::warning, "TLS handshake failed: %s",
                            ec.message().c_str());
                return self->close();
            }
            self->greet();
        });
    });
}

template <class Stream>
void Session<Stream>::stop() {
    asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->close(); });
}

template <class Stream>
void Session<Stream>::greet() {
    Dispatcher::appendGreeting(m_out);
    m_phase = Phase::writing;
    flush();
}

template <class Stream>
void Session<Stream>::readMore() {
    // A client sending large frames keeps its large buffer; once it sends a small one again the
    // buffer goes back to its initial size, so an idle connection holds little. Before the login
    // it goes back after every frame: a peer that is nobody yet gets no memory kept for it.
    if (m_splitter.capacity() > kInitialBuffer && m_splitter.buffered() == 0 &&
        (m_lastFrameSize < kInitialBuffer || !m_state.loggedIn)) {
        m_splitter.shrink();
    }
    if (m_trimDue) {
        m_trimDue = false;
        m_workers.trimmer.request();
    }
    // Read at least as much again as a partial frame already holds, so a large frame arrives in
    // few reads.
    auto area = m_splitter.prepare(std::max(kMinRead, m_splitter.buffered()));
    m_phase = Phase::reading;
    m_stream.async_read_some(asio::buffer(area.data(), area.size()),
                             [self = this->shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                 self->onRead(ec, n);
                             });
}

template <class Stream>
void Session<Stream>::onRead(boost::system::error_code ec, std::size_t n) {
    if (m_phase == Phase::closed) {
        return;
    }
    if (m_phase == Phase::closing || m_phase == Phase::draining) {
        // Discarding what the peer still sends after our last frame. When its input ends before
        // our last frame is written, the session closes once the write is done.
        if (!ec) {
            return discardMore();
        }
        if (m_phase == Phase::draining) {
            return close();
        }
        m_phase = Phase::closingInputEnded;
        return;
    }
    if (ec) {
        // A TLS peer that closes without close_notify ends the session as an ordinary close does:
        // the request/reply framing tells complete input apart, so no data is in doubt.
        if (ec == asio::ssl::error::stream_truncated) {
            SESSION_LOG(m_state.log, AgentLog::debug, "the peer closed without TLS close_notify");
        } else if (ec != asio::error::eof && ec != asio::error::operation_aborted) {
            SESSION_LOG(m_state.log, AgentLog::info, "read failed: %s", ec.message().c_str());
        }
        return close();
    }
    m_splitter.commit(n);
    process();
}

template <class Stream>
void Session<Stream>::discardMore() {
    if (!m_discard) {
        m_discard = std::make_unique<char[]>(kDiscardSize);
    }
    m_stream.async_read_some(asio::buffer(m_discard.get(), kDiscardSize),
                             [self = this->shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                 self->onRead(ec, n);
                             });
}

// Answers every complete frame buffered; then writes the replies or reads on.
template <class Stream>
void Session<Stream>::process() {
    m_phase = Phase::processing;
    std::span<char> frame;
    for (;;) {
        const auto status = m_splitter.next(frame);
        if (status == OVL::Wire::FrameSplitter::Status::needMore) {
            break;
        }
        if (status == OVL::Wire::FrameSplitter::Status::tooLarge) {
            SESSION_LOG(m_state.log, AgentLog::warning, "frame over %zu bytes, closing",
                        m_splitter.maxFrameSize());
            OVL::Wire::appendErrorFrame(
                m_out, {}, kAgentName, {}, OVL::Wire::kErrTooLarge,
                "packet larger than " + std::to_string(m_splitter.maxFrameSize()) + " bytes");
            return finishWith();
        }
        // Only complete frames count as activity: trickling bytes does not hold a connection open.
        m_lastActivity = Clock::now();
        m_lastFrameSize = frame.size();
        m_trimDue = m_trimDue || frame.size() >= HeapTrimmer::kLargeFrame;
        LoginAttempt attempt;
        switch (m_dispatcher.handle(frame, m_state, m_out, attempt)) {
            case Dispatcher::Outcome::replied:
                break;
            case Dispatcher::Outcome::login:
                return verify(std::move(attempt));
            case Dispatcher::Outcome::sample:
                return waitForSample();
            case Dispatcher::Outcome::store:
                return store();
        }
    }
    if (m_out.empty()) {
        return readMore();
    }
    m_phase = Phase::writing;
    flush();
}

template <class Stream>
void Session<Stream>::verify(LoginAttempt attempt) {
    m_phase = Phase::verifying;
    auto shared = std::make_shared<const LoginAttempt>(std::move(attempt));
    m_attempt = shared;
    // A login verified recently does not wait for the gate behind other peers' checks.
    if (auto remembered = m_dispatcher.verifyRemembered(*shared)) {
        return onVerified(*shared, *remembered);
    }
    // The gate holds the session weakly: a session that ends while its check waits costs no check.
    // The login time-out is the check's deadline.
    std::weak_ptr<Session> weak = this->shared_from_this();
    const auto admission = m_workers.logins.submit(m_address, m_deadline, [weak, shared] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto verdict = self->m_dispatcher.verifyLogin(*shared);
        asio::post(self->m_stream.get_executor(),
                   [self, shared, verdict] { self->onVerified(*shared, verdict); });
    });
    if (admission == LoginGate::Admission::admitted) {
        return;
    }
    SESSION_LOG(m_state.log, AgentLog::warning, "login refused: %s",
                admission == LoginGate::Admission::addressFull
                    ? "too many logins in progress from this address"
                : admission == LoginGate::Admission::busy
                    ? "the checks waiting would not let it finish within the login time-out"
                    : "too many logins in progress");
    m_attempt.reset();
    OVL::Wire::appendErrorFrame(m_out, shared->id, kAgentName, shared->target,
                                OVL::Wire::kErrTooManyConnections,
                                "too many logins in progress; try again later");
    finishWith();
}

template <class Stream>
void Session<Stream>::onVerified(const LoginAttempt& attempt, const Dispatcher::LoginVerdict& verdict) {
    if (m_phase != Phase::verifying) {
        return;  // timed out or stopped while the check ran
    }
    m_attempt.reset();
    m_dispatcher.finishLogin(attempt, verdict, m_state, m_out);
    if (verdict.accepted) {
        m_preLoginSlot.reset();
        m_lastActivity = Clock::now();
        armTimer(m_context.config()->limits.idleTimeout);
        return process();
    }
    // Refused: the 403 goes out after the configured delay, then the session closes. The delay
    // holds no thread.
    m_phase = Phase::loginDelay;
    m_waitTimer.expires_after(m_context.config()->limits.failedLoginDelay);
    m_waitTimer.async_wait([self = this->shared_from_this()](boost::system::error_code ec) {
        if (!ec && self->m_phase == Phase::loginDelay) {
            self->finishWith();
        }
    });
}

// A performance sample waits for its interval on a timer; like a login check it holds up the
// session's later frames, so a session has at most one sample in progress.
template <class Stream>
void Session<Stream>::waitForSample() {
    m_phase = Phase::sampling;
    m_waitTimer.expires_after(m_dispatcher.sampleInterval());
    m_waitTimer.async_wait([self = this->shared_from_this()](boost::system::error_code ec) {
        if (ec || self->m_phase != Phase::sampling) {
            return;
        }
        self->m_dispatcher.finishSample(self->m_out);
        self->m_lastActivity = Clock::now();
        self->process();
    });
}

// The environment operation runs on the store thread: it may wait for the state file's locks and
// fsyncs, which must not hold up the network threads and the sessions on them.
template <class Stream>
void Session<Stream>::store() {
    m_phase = Phase::storing;
    asio::post(m_workers.store, [self = this->shared_from_this()] {
        std::string reply;
        self->m_dispatcher.finishStore(reply);
        asio::post(self->m_stream.get_executor(), [self, reply = std::move(reply)]() mutable {
            if (self->m_phase != Phase::storing) {
                return;  // stopped meanwhile; the operation is done, its reply goes nowhere
            }
            if (self->m_out.empty()) {
                self->m_out.swap(reply);
            } else {
                self->m_out += reply;
            }
            self->m_lastActivity = Clock::now();
            self->process();
        });
    });
}

template <class Stream>
void Session<Stream>::flush() {
    m_sending.swap(m_out);
    m_out.clear();
    asio::async_write(m_stream, asio::buffer(m_sending),
                      [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                          self->onWritten(ec);
                      });
}

template <class Stream>
void Session<Stream>::onWritten(boost::system::error_code ec) {
    if (m_phase == Phase::closed) {
        return;
    }
    if (ec) {
        SESSION_LOG(m_state.log, AgentLog::info, "write failed: %s", ec.message().c_str());
        return close();
    }
    // Large replies do not leave large buffers behind on a connection that turns idle.
    if (m_sending.capacity() > kKeptBuffer) {
        std::string().swap(m_sending);
    }
    if (m_out.empty() && m_out.capacity() > kKeptBuffer) {
        std::string().swap(m_out);
    }
    if (!m_out.empty()) {
        return flush();
    }
    if (m_phase == Phase::closing) {
        return drain();
    }
    if (m_phase == Phase::closingInputEnded) {
        return close();  // all input read, so closing sends our last frame and no reset
    }
    readMore();
}

template <class Stream>
void Session<Stream>::finishWith() {
    const Phase before = m_phase;
    m_phase = Phase::closing;
    armTimer(kDrainTime);
    // From now on one read discards the input (unless one is in flight already), so that unread
    // input does not make the kernel reset the connection before the peer got our last frame.
    if (before != Phase::reading) {
        discardMore();
    }
    if (before != Phase::writing) {
        flush();  // else onWritten sends what m_out holds
    }
}

template <class Stream>
void Session<Stream>::finishWithError(int code, const std::string& message) {
    if (m_attempt) {
        OVL::Wire::appendErrorFrame(m_out, m_attempt->id, kAgentName, m_attempt->target, code, message);
        m_attempt.reset();
    } else {
        OVL::Wire::appendErrorFrame(m_out, {}, kAgentName, "system", code, message);
    }
    finishWith();
}

// After the last frame: end our direction and discard input until the peer closes, at most
// kDrainTime.
template <class Stream>
void Session<Stream>::drain() {
    m_phase = Phase::draining;
    shutdownSend(m_stream);
    armTimer(kDrainTime);
}

template <class Stream>
void Session<Stream>::armTimer(std::chrono::milliseconds after) {
    m_deadline = Clock::now() + after;
    m_timer.expires_at(m_deadline);
    m_timer.async_wait([self = this->shared_from_this()](boost::system::error_code ec) {
        if (!ec) {
            self->onTimer();
        }
    });
}

template <class Stream>
void Session<Stream>::onTimer() {
    const auto now = Clock::now();
    if (m_phase == Phase::closed || now < m_deadline) {
        return;  // closed, or a newer deadline was armed
    }
    switch (m_phase) {
        case Phase::closing:
        case Phase::closingInputEnded:
        case Phase::draining:
            return close();
        case Phase::handshake:
            SESSION_LOG(m_state.log, AgentLog::info, "TLS handshake time-out");
            return close();
        case Phase::loginDelay:
            return;  // the delay's end sends the 403 and closes
        case Phase::sampling:
        case Phase::storing:
            return armTimer(kBusyRecheck);
        default:
            break;
    }
    if (m_state.loggedIn) {
        const auto idle = m_context.config()->limits.idleTimeout;
        if (now - m_lastActivity < idle) {
            // Rounded up, so that the timer never fires just before the idle time has passed.
            return armTimer(
                std::chrono::duration_cast<std::chrono::milliseconds>(m_lastActivity + idle - now) +
                std::chrono::milliseconds(1));
        }
    }
    // Also while a login check waits: its verdict is then dropped.
    const char* what = m_state.loggedIn ? "idle time-out" : "login time-out";
    SESSION_LOG(m_state.log, AgentLog::info, "%s", what);
    finishWithError(OVL::Wire::kErrTimeout, what);
}

template <class Stream>
void Session<Stream>::close() {
    if (m_phase == Phase::closed) {
        return;
    }
    m_phase = Phase::closed;
    m_timer.cancel();
    m_waitTimer.cancel();
    closeStream(m_stream);
    if (m_trimDue || m_splitter.capacity() >= HeapTrimmer::kLargeFrame) {
        m_workers.trimmer.request();  // for the buffer that goes with the session
    }
    if (m_onClose) {
        m_onClose();
    }
}

namespace {

std::atomic<int> s_refusals{0};  // Refusal objects alive, of every stream kind

}  // namespace

template <class Stream>
Refusal<Stream>::Refusal(Stream stream, std::string frame)
    : m_stream(std::move(stream)), m_frame(std::move(frame)), m_timer(m_stream.get_executor()) {
    ++s_refusals;
}

template <class Stream>
Refusal<Stream>::~Refusal() {
    --s_refusals;
}

template <class Stream>
int Refusal<Stream>::inFlight() {
    return s_refusals.load();
}

template <class Stream>
void Refusal<Stream>::start(Stream stream, std::string frame) {
    if (s_refusals.load() >= kMaxInFlight) {
        // A flood that does not read its refusals: the frame goes out only if the socket's buffer
        // takes it now (a new connection's always does), and nothing waits for the peer.
        if constexpr (!std::is_same_v<Stream, TlsStream>) {
            boost::system::error_code ec;
            stream.non_blocking(true, ec);
            if (!ec) {
                stream.write_some(asio::buffer(frame), ec);
            }
        }
        closeStream(stream);
        return;
    }
    auto refusal = std::make_shared<Refusal>(std::move(stream), std::move(frame));
    asio::post(refusal->m_stream.get_executor(), [refusal] { refusal->run(); });
}

template <class Stream>
void Refusal<Stream>::run() {
    m_timer.expires_after(kLifetime);
    m_timer.async_wait([self = this->shared_from_this()](boost::system::error_code ec) {
        if (!ec) {
            self->close();
        }
    });
    asyncHandshake(m_stream, [self = this->shared_from_this()](boost::system::error_code ec) {
        if (ec || self->m_closed) {
            return self->close();
        }
        asio::async_write(self->m_stream, asio::buffer(self->m_frame),
                          [self](boost::system::error_code written, std::size_t) {
                              if (written || self->m_closed) {
                                  return self->close();
                              }
                              std::string().swap(self->m_frame);
                              shutdownSend(self->m_stream);
                              self->discard();
                          });
    });
}

// Reads and drops what the peer sent until it closes, so that unread input does not make the
// kernel reset the connection before the peer read the frame.
template <class Stream>
void Refusal<Stream>::discard() {
    m_stream.async_read_some(asio::buffer(m_discard),
                             [self = this->shared_from_this()](boost::system::error_code ec, std::size_t) {
                                 if (ec || self->m_closed) {
                                     return self->close();
                                 }
                                 self->discard();
                             });
}

template <class Stream>
void Refusal<Stream>::close() {
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_timer.cancel();
    closeStream(m_stream);
}

template class Refusal<TcpStream>;
template class Refusal<TlsStream>;
template class Refusal<UnixStream>;

template class Session<TcpStream>;
template class Session<TlsStream>;
template class Session<UnixStream>;
template class Session<StdioStream>;

}  // namespace ovagent
