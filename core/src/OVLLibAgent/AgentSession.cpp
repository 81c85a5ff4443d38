#include "AgentSession.h"

#include <cstdlib>
#include <cstring>

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

constexpr std::size_t kMaxReplySize = std::size_t(256) << 20;
constexpr std::size_t kReadSize = 64 * 1024;
// A frame whose root start tag is not complete after this many bytes is routed without an id.
constexpr std::size_t kMaxHead = 64 * 1024;

int envMs(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value < 3600 * 1000 ? static_cast<int>(value) : fallback;
}

}  // namespace

int AgentSession::connectTimeoutMs() {
    return envMs("OVL_CONNECT_TIMEOUT_MS", 15000);
}

int AgentSession::requestTimeoutMs() {
    return envMs("OVL_REQUEST_TIMEOUT_MS", 15000);
}

AgentSession::AgentSession()
    : m_context(IoThread::context()), m_timer(m_context), m_splitter(kMaxReplySize, kReadSize) {}

AgentSession::~AgentSession() {
    if (m_transport)
        m_transport->close();
}

OVLEID AgentSession::getEID() const {
    std::lock_guard<std::mutex> lock(m_eidMutex);
    return m_eid;
}

std::string AgentSession::where() const {
    return m_transport ? m_transport->describe() : m_info.getTypeName() + " " + m_info.getHost();
}

bool AgentSession::connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler) {
    if (m_started.exchange(true))
        return false;
    boost::asio::post(m_context, [self = shared_from_this(), info, handler] {
        self->m_handler = handler;
        self->start(info);
    });
    return true;
}

void AgentSession::start(OVLConnectionInfo info) {
    if (m_state != State::idle)
        return;  // disconnected before the start ran
    m_info = std::move(info);
    OVLRequestErrorData error;
    m_transport = Transport::create(m_context, m_info, error);
    if (!m_transport) {
        fail(error);
        return;
    }
    m_state = State::connecting;
    m_timer.expires_after(std::chrono::milliseconds(connectTimeoutMs()));
    m_timer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec)
            self->onTimeout();
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
    if (m_state != State::connecting)
        return;
    if (err.m_code != OVLRequestErrorData::kNone) {
        fail(err);
        return;
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
    if (m_state == State::closed)
        return;
    if (ec) {
        const bool midReply = m_splitter.buffered() > 0 || m_current.decided || !m_head.empty();
        if (m_state != State::ready)
            fail({OVLRequestErrorData::kClosed,
                  "the agent at " + where() + " closed the connection during login" +
                      (ec == boost::asio::error::eof ? "" : ": " + errorText(ec))});
        else if (midReply)
            fail({OVLRequestErrorData::kClosed,
                  "the agent at " + where() + " closed the connection in the middle of a reply"});
        else if (ec == boost::asio::error::eof)
            fail({OVLRequestErrorData::kClosed, "the agent at " + where() + " closed the connection"});
        else
            fail({OVLRequestErrorData::kClosed, "connection to " + where() + " lost: " + errorText(ec)});
        return;
    }
    m_splitter.commit(n);
    if (m_state == State::ready)
        emitPieces(m_readArea, n);
    std::span<char> frame;
    for (;;) {
        const Wire::FrameSplitter::Status status = m_splitter.next(frame);
        if (status == Wire::FrameSplitter::Status::tooLarge) {
            fail({OVLRequestErrorData::kProtocol, "the agent at " + where() + " sent a frame over " +
                                                      std::to_string(kMaxReplySize >> 20) + " MiB"});
            return;
        }
        if (status == Wire::FrameSplitter::Status::needMore)
            break;
        const std::string_view text(frame.data(), frame.size());
        if (m_state == State::ready)
            handleFrame(text);
        else
            handleSetupFrame(text);
        if (m_state == State::closed)
            return;
    }
    readMore();
}

}  // namespace OVL::Agent

namespace OVL::Agent {

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
        m_writes.push_front({loginFrame(m_loginId, m_info.getAuthName()), nullptr});
        writeNext();
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
        std::lock_guard<std::mutex> lock(m_eidMutex);
        m_eid = eid;
    }
    m_state = State::ready;
    m_connected = true;
    Log.put(4, "agent client: connected to %s, eid %s", where().c_str(), eid.toString().c_str());
    if (m_handler)
        m_handler->onConnected(eid);
    while (!m_held.empty()) {
        m_writes.push_back(std::move(m_held.front()));
        m_held.pop_front();
    }
    writeNext();
}

void AgentSession::emitPieces(const char* bytes, std::size_t n) {
    while (n > 0) {
        const char* zero = static_cast<const char*>(std::memchr(bytes, '\0', n));
        const std::size_t length = zero != nullptr ? static_cast<std::size_t>(zero - bytes) : n;
        if (!m_current.decided) {
            m_head.append(bytes, length);
            if (decideRoute(zero != nullptr)) {
                deliverPiece(m_head.data(), m_head.size());
                m_head.clear();
            }
        } else {
            deliverPiece(bytes, length);
        }
        if (zero == nullptr)
            return;
        m_routes.push_back(std::move(m_current));
        m_current = Route();
        bytes = zero + 1;
        n -= length + 1;
    }
}

bool AgentSession::decideRoute(bool force) {
    std::string id;
    if (!findPacketId(m_head, id) && !force && m_head.size() < kMaxHead)
        return false;
    m_current.decided = true;
    m_current.id = id;
    auto pending = id.empty() ? m_pending.end() : m_pending.find(id);
    if (pending != m_pending.end()) {
        m_current.claimed = true;
        if (pending->second.handler)
            m_current.recipients.push_back({pending->second.handler, false});
    } else {
        for (auto& handler : m_subscribers)
            m_current.recipients.push_back({handler, false});
    }
    return true;
}

void AgentSession::deliverPiece(const char* bytes, std::size_t n) {
    if (n == 0)
        return;
    for (Recipient& recipient : m_current.recipients) {
        std::size_t used = 0;
        if (recipient.handler->onReplyPiece(bytes, n, used))
            recipient.wantsComplete = true;
    }
}

void AgentSession::handleFrame(std::string_view frame) {
    Route route;
    if (!m_routes.empty()) {
        route = std::move(m_routes.front());
        m_routes.pop_front();
    } else {
        // Bytes that arrived together with the login reply: route the frame as a whole.
        m_head.assign(frame);
        decideRoute(true);
        deliverPiece(m_head.data(), m_head.size());
        m_head.clear();
        route = std::move(m_current);
        m_current = Route();
    }
    const std::string text(frame);
    if (route.claimed) {
        auto pending = m_pending.find(route.id);
        if (pending != m_pending.end()) {
            Done done = std::move(pending->second.done);
            m_pending.erase(pending);
            if (done)
                done(0, text);
        }
    }
    for (Recipient& recipient : route.recipients) {
        if (recipient.wantsComplete)
            recipient.handler->onReplyComplete(OVLReplyPtr(new OVLReply(text)));
    }
}

void AgentSession::enqueue(Write write) {
    switch (m_state) {
        case State::ready:
            m_writes.push_back(std::move(write));
            writeNext();
            break;
        case State::connecting:
        case State::greeting:
        case State::login:
            m_held.push_back(std::move(write));
            break;
        default:
            if (write.notify)
                write.notify->onRequestError({OVLRequestErrorData::kClosed, "not connected to an agent"});
            break;
    }
}

void AgentSession::writeNext() {
    if (m_writing || m_writes.empty() || m_state == State::closed)
        return;
    m_writing = true;
    const Write& front = m_writes.front();
    m_transport->asyncWrite(boost::asio::buffer(front.bytes),
                            [self = shared_from_this()](const boost::system::error_code& ec, std::size_t) {
                                self->m_writing = false;
                                if (self->m_state == State::closed)
                                    return;
                                if (ec) {
                                    self->fail({OVLRequestErrorData::kClosed,
                                                "writing to " + self->where() + " failed: " + errorText(ec)});
                                    return;
                                }
                                Write done = std::move(self->m_writes.front());
                                self->m_writes.pop_front();
                                if (done.notify)
                                    done.notify->onWriteFinished();
                                self->writeNext();
                            });
}

void AgentSession::subscribe(const OVLTaskHandlerPrototypePtr& handler) {
    boost::asio::post(m_context, [self = shared_from_this(), handler] {
        if (self->m_state == State::closed || self->m_state == State::idle)
            return;
        for (auto& known : self->m_subscribers)
            if (known == handler)
                return;
        self->m_subscribers.push_back(handler);
    });
}

void AgentSession::writeRaw(std::string bytes, const OVLTaskHandlerPrototypePtr& handler) {
    boost::asio::post(m_context, [self = shared_from_this(), bytes = std::move(bytes), handler]() mutable {
        self->enqueue({std::move(bytes), handler});
    });
}

void AgentSession::request(const std::string& id, std::string frame,
                           const OVLTaskHandlerPrototypePtr& handler, Done done) {
    boost::asio::post(m_context, [self = shared_from_this(), id, frame = std::move(frame), handler,
                                  done = std::move(done)]() mutable {
        const State state = self->m_state;
        if (state == State::closed || state == State::idle) {
            const OVLRequestErrorData err{OVLRequestErrorData::kClosed, "not connected to an agent"};
            if (handler)
                handler->onRequestError(err);
            if (done)
                done(err.m_code, err.m_message);
            return;
        }
        self->m_pending[id] = Pending{handler, std::move(done)};
        self->enqueue({std::move(frame), handler, true});
    });
}

void AgentSession::cancel(const std::string& id) {
    boost::asio::post(m_context, [self = shared_from_this(), id] { self->m_pending.erase(id); });
}

void AgentSession::disconnect() {
    m_started = true;  // a later connect() on this session is refused
    boost::asio::post(m_context, [self = shared_from_this()] {
        if (self->m_state == State::closed)
            return;
        self->m_handler.reset();
        self->shutdown({OVLRequestErrorData::kNone, "disconnected"});
    });
}

void AgentSession::fail(OVLRequestErrorData err) {
    if (m_state == State::closed)
        return;
    const bool wasReady = m_state == State::ready;
    if (m_transport) {
        const std::string more = m_transport->diagnostics();
        if (!more.empty())
            err.m_message += " (" + more + ")";
    }
    Log.put(4, "agent client: %s", err.m_message.c_str());
    OVLConnectionHandlerPrototypePtr handler = std::move(m_handler);
    shutdown(err);
    if (handler) {
        if (wasReady)
            handler->onDisconnected(err);
        else
            handler->onError(err);
    }
}

void AgentSession::shutdown(const OVLRequestErrorData& err) {
    m_state = State::closed;
    m_connected = false;
    m_timer.cancel();
    if (m_transport)
        m_transport->close();
    std::unordered_map<std::string, Pending> pending;
    pending.swap(m_pending);
    std::deque<Write> held;
    held.swap(m_held);
    m_subscribers.clear();
    m_routes.clear();
    m_current = Route();
    m_head.clear();
    for (auto& [id, request] : pending) {
        if (request.handler)
            request.handler->onRequestError(err);
        if (request.done)
            request.done(err.m_code != 0 ? err.m_code : OVLRequestErrorData::kClosed, err.m_message);
    }
    for (Write& write : held) {
        if (write.notify && !write.request)
            write.notify->onRequestError(err);
    }
    // The write under way keeps its buffer until its handler has run.
    while (m_writes.size() > (m_writing ? 1u : 0u))
        m_writes.pop_back();
}

}  // namespace OVL::Agent
