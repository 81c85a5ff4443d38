// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "AgentSession.h"

#include <algorithm>
#include <cstdlib>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <pugixml.hpp>

#include "ClientPacket.h"
#include "IoThread.h"
#include "OVLCommon/Logger.h"
#include "OVLCore/OVLGUIDBase.h"
#include "OVLWire/Request.h"

namespace OVL::Agent {

namespace {

// What one read asks for at most.
constexpr std::size_t kReadSize = std::size_t{64} * 1024;
// The longest time-out that the environment may set (an hour); longer ones count as unset.
constexpr long kMaxTimeoutMs = 3600L * 1000;
// The bounds of OVL_MAX_REPLY_SIZE.
constexpr unsigned long long kMinMaxReplySize = 1024;
constexpr unsigned long long kMaxMaxReplySize = 1ULL << 32;

int envMs(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value < kMaxTimeoutMs ? static_cast<int>(value) : fallback;
}

}  // namespace

int AgentSession::connectTimeoutMs() {
    return envMs("OVL_CONNECT_TIMEOUT_MS", kDefaultConnectTimeoutMs);
}

int AgentSession::requestTimeoutMs() {
    return envMs("OVL_REQUEST_TIMEOUT_MS", kDefaultRequestTimeoutMs);
}

std::size_t AgentSession::maxReplySize() {
    const char* text = std::getenv("OVL_MAX_REPLY_SIZE");
    if (text == nullptr || *text < '0' || *text > '9') {
        return kDefaultMaxReplySize;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' && value >= kMinMaxReplySize && value <= kMaxMaxReplySize
               ? static_cast<std::size_t>(value)
               : kDefaultMaxReplySize;
}

AgentSession::AgentSession()
    : m_context(IoThread::context()),
      m_timer(m_context),
      m_splitter(maxReplySize(), kReadSize),
      m_router(
          m_context, m_pending, [this] { return shared_from_this(); }, [this] { return where(); }),
      m_writes(
          m_context, [this] { return shared_from_this(); },
          [this](const boost::system::error_code& ec) {
              fail({OVLRequestErrorData::kClosed, "writing to " + where() + " failed: " + errorText(ec)});
          }) {}

AgentSession::~AgentSession() {
    if (m_transport) {
        m_transport->close();
    }
}

OVLEID AgentSession::getEID() const {
    MutexLock lock(m_eidMutex);
    return m_eid;
}

std::string AgentSession::where() const {
    return m_transport ? m_transport->describe() : m_info.getTypeName() + " " + m_info.getHost();
}

bool AgentSession::connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler) {
    if (m_started.exchange(true)) {
        return false;
    }
    m_writes.hold();
    boost::asio::post(m_context, [self = shared_from_this(), info, handler] {
        self->m_handler = handler;
        self->start(info);
    });
    return true;
}

void AgentSession::start(const OVLConnectionInfo& info) {
    if (m_state != State::idle) {
        return;  // disconnected before the start ran
    }
    m_info = info;
    OVLRequestErrorData error;
    m_transport = Transport::create(m_context, m_info, error);
    if (!m_transport) {
        fail(error);
        return;
    }
    m_writes.attach(*m_transport);
    m_state = State::connecting;
    m_timer.expires_after(std::chrono::milliseconds(connectTimeoutMs()));
    m_timer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec) {
            self->onTimeout();
        }
    });
    m_transport->asyncConnect(
        [self = shared_from_this()](const OVLRequestErrorData& err) { self->onTransportConnected(err); });
}

void AgentSession::onTimeout() {
    const std::string ms = std::to_string(connectTimeoutMs());
    switch (m_state) {
        case State::connecting:
            fail({OVLRequestErrorData::kTimeout,
                  "connecting to " + where() + " timed out after " + ms + " ms"});
            break;
        case State::greeting:
            fail({OVLRequestErrorData::kTimeout,
                  "the agent at " + where() + " sent no greeting within " + ms + " ms"});
            break;
        case State::login:
            fail({OVLRequestErrorData::kTimeout,
                  "the agent at " + where() + " did not answer the login within " + ms + " ms"});
            break;
        default:
            break;
    }
}

void AgentSession::onTransportConnected(const OVLRequestErrorData& err) {
    if (m_state != State::connecting) {
        return;
    }
    if (err.m_code != OVLRequestErrorData::kNone) {
        fail(err);
        return;
    }
    if (const std::optional<OVLAgentTrust> trust = m_transport->firstTrust(); trust && m_handler) {
        m_handler->onAgentTrusted(*trust);
    }
    m_state = State::greeting;
    readMore();
}

void AgentSession::readMore() {
    std::span<char> area = m_splitter.prepare(kReadSize);
    m_readArea = area.data();
    m_transport->asyncReadSome(boost::asio::buffer(area.data(), area.size()),
                               [self = shared_from_this()](const boost::system::error_code& ec,
                                                           std::size_t n) { self->onRead(ec, n); });
}

void AgentSession::onRead(const boost::system::error_code& ec, std::size_t n) {
    if (m_state == State::closed) {
        return;
    }
    if (ec) {
        const bool midReply = m_splitter.buffered() > 0 || m_router.midReply();
        if (m_state != State::ready) {
            fail({OVLRequestErrorData::kClosed,
                  "the agent at " + where() + " closed the connection during login" +
                      (ec == boost::asio::error::eof ? "" : ": " + errorText(ec))});
        } else if (midReply) {
            fail({OVLRequestErrorData::kClosed,
                  "the agent at " + where() + " closed the connection in the middle of a reply"});
        } else if (ec == boost::asio::error::eof) {
            fail({OVLRequestErrorData::kClosed, "the agent at " + where() + " closed the connection"});
        } else {
            fail({OVLRequestErrorData::kClosed, "connection to " + where() + " lost: " + errorText(ec)});
        }
        return;
    }
    m_splitter.commit(n);
    if (m_state == State::ready) {
        m_writes.notifyWritten();  // a write's onWriteFinished comes before the callbacks of its reply
        m_router.receive(m_readArea, n);
    }
    std::span<char> frame;
    for (;;) {
        const Wire::FrameSplitter::Status status = m_splitter.next(frame);
        if (status == Wire::FrameSplitter::Status::tooLarge) {
            fail({OVLRequestErrorData::kProtocol, "the agent at " + where() + " sent a frame over " +
                                                      std::to_string(m_splitter.maxFrameSize()) +
                                                      " bytes (OVL_MAX_REPLY_SIZE)"});
            return;
        }
        if (status == Wire::FrameSplitter::Status::needMore) {
            break;
        }
        const std::string_view text(frame.data(), frame.size());
        if (m_state == State::ready) {
            m_router.complete(text);
        } else {
            handleSetupFrame(text);
        }
        if (m_state == State::closed) {
            return;
        }
    }
    readMore();
}

void AgentSession::handleSetupFrame(std::string_view frame) {
    pugi::xml_document doc;
    if (!doc.load_buffer(frame.data(), frame.size(), pugi::parse_default, pugi::encoding_utf8) ||
        !doc.document_element()) {
        fail({OVLRequestErrorData::kProtocol, "the agent at " + where() + " sent a frame that is not XML"});
        return;
    }
    std::string message;
    const int code = replyError(doc, message);
    if (m_state == State::greeting) {
        if (code != 0) {
            fail({code, "the agent at " + where() + " refused the connection: " + message});
            return;
        }
        if (Wire::localName(replyResult(doc)) != "hello") {
            fail({OVLRequestErrorData::kProtocol, "the agent at " + where() + " sent no greeting"});
            return;
        }
        generateID(m_loginId);
        m_state = State::login;
        m_writes.writeFirst(loginFrame(m_loginId, m_info.getAuthName()));
        return;
    }
    // State::login: the one reply expected is the login's.
    if (code != 0) {
        fail({code, "login refused by the agent at " + where() + ": " + message});
        return;
    }
    OVLEID eid;
    const pugi::xml_node result = replyResult(doc);
    if (Wire::localName(result) != "loginResult" ||
        eid.fromString(Wire::childText(result, "eid").c_str()) != 0) {
        fail({OVLRequestErrorData::kProtocol,
              "the agent at " + where() + " answered the login without an eid"});
        return;
    }
    becomeReady(eid);
}

void AgentSession::becomeReady(const OVLEID& eid) {
    m_timer.cancel();
    {
        MutexLock lock(m_eidMutex);
        m_eid = eid;
    }
    m_state = State::ready;
    Log.put(Logger::kDebug, "agent client: connected to %s, eid %s", where().c_str(), eid.toString().c_str());
    // A disconnect() under way (its shutdown is posted) ends the connection without a callback.
    if (!m_writes.open()) {
        return;
    }
    m_connected = true;
    if (m_handler) {
        m_handler->onConnected(eid);
    }
}

void AgentSession::subscribe(const OVLTaskHandlerPrototypePtr& handler) {
    boost::asio::post(m_context, [self = shared_from_this(), handler] {
        if (self->m_state != State::closed && self->m_state != State::idle) {
            self->m_router.subscribe(handler);
        }
    });
}

void AgentSession::writeRaw(std::string bytes, const OVLTaskHandlerPrototypePtr& handler) {
    submit({std::move(bytes), handler}, nullptr, nullptr);
}

void AgentSession::request(const std::string& id, std::string frame,
                           const OVLTaskHandlerPrototypePtr& handler, Done done) {
    submit({std::move(frame), handler, true}, &id, std::move(done));
}

void AgentSession::submit(WriteQueue::Write write, const std::string* id, Done done) {
    const OVLTaskHandlerPrototypePtr notify = write.notify;
    // A raw write's zero-terminated packets each get one reply frame.
    const std::size_t frames =
        id != nullptr ? 0
                      : static_cast<std::size_t>(std::count(write.bytes.begin(), write.bytes.end(), '\0'));
    bool arm = false;
    // Registered before the bytes can go out, so that the reply finds its request.
    const auto registerWait = [&] {
        const int timeoutMs = requestTimeoutMs();
        const auto deadline = PendingRequests::Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (id != nullptr) {
            arm = m_pending.add(*id, {notify, std::move(done), deadline, timeoutMs});
        } else {
            arm = m_pending.addRaw({notify, frames, deadline, timeoutMs});
        }
    };
    if (!m_writes.push(std::move(write), registerWait)) {
        boost::asio::post(m_context, [notify, done = std::move(done)] {
            const OVLRequestErrorData err{OVLRequestErrorData::kClosed, "not connected to an agent"};
            if (notify) {
                notify->onRequestError(err);
            }
            if (done) {
                done(err.m_code, err.m_message);
            }
        });
        return;
    }
    if (arm) {
        boost::asio::post(m_context, [self = shared_from_this()] { self->m_router.armTimer(); });
    }
}

void AgentSession::cancel(const std::string& id, bool drop) {
    m_pending.cancel(id, drop);
}

void AgentSession::disconnect() {
    m_started = true;  // a later connect() on this session is refused
    // Writes from now on are refused; the shutdown on the I/O thread ends what is under way.
    m_writes.close();
    boost::asio::post(m_context, [self = shared_from_this()] {
        if (self->m_state == State::closed) {
            return;
        }
        self->m_handler.reset();
        self->shutdown({OVLRequestErrorData::kNone, "disconnected"});
    });
}

void AgentSession::fail(OVLRequestErrorData err) {
    if (m_state == State::closed) {
        return;
    }
    const bool wasReady = m_state == State::ready;
    if (m_transport) {
        const std::string more = m_transport->diagnostics();
        if (!more.empty()) {
            err.m_message += " (" + more + ")";
        }
    }
    Log.put(Logger::kDebug, "agent client: %s", err.m_message.c_str());
    OVLConnectionHandlerPrototypePtr handler = std::move(m_handler);
    // The queue closed before the shutdown: the caller's disconnect() is under way, and after it
    // no connection callback comes.
    if (m_writes.isClosed()) {
        handler.reset();
    }
    shutdown(err);
    if (handler) {
        if (wasReady) {
            handler->onDisconnected(err);
        } else {
            handler->onError(err);
        }
    }
}

void AgentSession::shutdown(const OVLRequestErrorData& err) {
    m_state = State::closed;
    m_connected = false;
    m_timer.cancel();
    m_writes.close();  // before the pending requests are taken: no request joins them after it
    if (m_transport) {
        m_transport->close();
    }
    m_router.close(err);
    m_writes.shutdown(err);
}

}  // namespace OVL::Agent
