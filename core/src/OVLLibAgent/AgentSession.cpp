#include "AgentSession.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

constexpr std::size_t kDefaultMaxReplySize = std::size_t(256) << 20;
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

std::size_t AgentSession::maxReplySize() {
    const char* text = std::getenv("OVL_MAX_REPLY_SIZE");
    if (text == nullptr || *text < '0' || *text > '9')
        return kDefaultMaxReplySize;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' && value >= 1024 && value <= (1ULL << 32) ? static_cast<std::size_t>(value)
                                                                    : kDefaultMaxReplySize;
}

AgentSession::AgentSession()
    : m_context(IoThread::context()),
      m_timer(m_context),
      m_requestTimer(m_context),
      m_splitter(maxReplySize(), kReadSize) {}

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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gate = Gate::held;
    }
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
    if (m_state == State::ready) {
        notifyWritten();  // a write's onWriteFinished comes before the callbacks of its reply
        emitPieces(m_readArea, n);
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
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_writes.push_front({loginFrame(m_loginId, m_info.getAuthName()), nullptr});
        }
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
    Log.put(Logger::kDebug, "agent client: connected to %s, eid %s", where().c_str(), eid.toString().c_str());
    bool disconnecting = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        disconnecting = m_gate == Gate::closed;
        if (!disconnecting) {
            m_gate = Gate::ready;
            m_directSocket = m_transport->directWriteSocket();
            // The held writes go first: a direct write only happens while nothing is queued.
            while (!m_held.empty()) {
                m_writes.push_back(std::move(m_held.front()));
                m_held.pop_front();
            }
        }
    }
    // A disconnect() under way (its shutdown is posted) ends the connection without a callback.
    if (disconnecting)
        return;
    m_connected = true;
    if (m_handler)
        m_handler->onConnected(eid);
    writeNext();
}

void AgentSession::emitPieces(const char* bytes, std::size_t n) {
    while (n > 0) {
        const char* zero = static_cast<const char*>(std::memchr(bytes, '\0', n));
        const std::size_t length = zero != nullptr ? static_cast<std::size_t>(zero - bytes) : n;
        if (!m_current.decided) {
            if (m_head.empty() && decideRoute(std::string_view(bytes, length), zero != nullptr)) {
                deliverPiece(bytes, length);
            } else {
                m_head.append(bytes, length);
                if (decideRoute(m_head, zero != nullptr)) {
                    deliverPiece(m_head.data(), m_head.size());
                    m_head.clear();
                }
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

bool AgentSession::decideRoute(std::string_view head, bool force) {
    std::string id;
    if (!findPacketId(head, id) && !force && head.size() < kMaxHead)
        return false;
    m_current.decided = true;
    OVLTaskHandlerPrototypePtr owner;
    if (!id.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto pending = m_pending.find(id);
        if (pending != m_pending.end()) {
            m_current.claimed = true;
            owner = pending->second.handler;
        } else if (auto given = std::find(m_abandoned.begin(), m_abandoned.end(), id);
                   given != m_abandoned.end()) {
            m_current.claimed = true;  // nobody's any more: no recipient
            m_abandoned.erase(given);
        }
    }
    m_current.id = std::move(id);
    if (m_current.claimed) {
        if (owner)
            m_current.recipients.push_back({std::move(owner), false});
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
        decideRoute(frame, true);
        deliverPiece(frame.data(), frame.size());
        route = std::move(m_current);
        m_current = Route();
    }
    if (!route.claimed)
        countRawReply();
    Done done;
    if (route.claimed) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto pending = m_pending.find(route.id);
        if (pending != m_pending.end()) {
            done = std::move(pending->second.done);
            m_pending.erase(pending);
        }
    }
    std::size_t replies = 0;
    for (const Recipient& recipient : route.recipients)
        replies += recipient.wantsComplete ? 1 : 0;
    if (!done && replies == 0)
        return;
    std::string text(frame);
    if (done)
        done(0, replies == 0 ? std::move(text) : text);
    for (Recipient& recipient : route.recipients) {
        if (!recipient.wantsComplete)
            continue;
        // The last reply object takes the text, the others copy it.
        OVLReplyPtr reply(--replies == 0 ? new OVLReply(std::move(text)) : new OVLReply(text));
        recipient.handler->onReplyComplete(reply);
    }
}

void AgentSession::submit(Write write, const std::string* id, Done done) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_gate == Gate::idle || m_gate == Gate::closed) {
        lock.unlock();
        boost::asio::post(m_context, [notify = std::move(write.notify), done = std::move(done)] {
            const OVLRequestErrorData err{OVLRequestErrorData::kClosed, "not connected to an agent"};
            if (notify)
                notify->onRequestError(err);
            if (done)
                done(err.m_code, err.m_message);
        });
        return;
    }
    // Registered before the bytes can go out, so that the reply finds its request.
    const int timeoutMs = requestTimeoutMs();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (id != nullptr) {
        m_pending[*id] = Pending{write.notify, std::move(done), deadline, timeoutMs};
    } else {
        const auto frames =
            static_cast<std::size_t>(std::count(write.bytes.begin(), write.bytes.end(), '\0'));
        m_rawWaits.push_back({write.notify, frames, deadline, timeoutMs});
    }
    if (!m_requestTimerArmed) {
        m_requestTimerArmed = true;
        boost::asio::post(m_context, [self = shared_from_this()] { self->armRequestTimer(); });
    }
    if (m_gate == Gate::held) {
        m_held.push_back(std::move(write));
        return;
    }
    const bool first = m_writes.empty() && !m_writing;
    if (first && writeDirectly(write)) {
        const bool post = !m_written.empty() && !m_writtenPosted;
        m_writtenPosted = m_writtenPosted || post;
        lock.unlock();
        if (post)
            boost::asio::post(m_context, [self = shared_from_this()] { self->notifyWritten(); });
        return;
    }
    m_writes.push_back(std::move(write));
    const bool kick = !m_writing && !m_writeKicked;
    m_writeKicked = m_writeKicked || kick;
    lock.unlock();
    if (kick)
        boost::asio::post(m_context, [self = shared_from_this()] { self->writeNext(); });
}

bool AgentSession::writeDirectly(Write& write) {
    if (m_directSocket < 0)
        return false;
    const ssize_t n =
        ::send(m_directSocket, write.bytes.data(), write.bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0)
        write.written = static_cast<std::size_t>(n);
    // A full socket buffer leaves the rest to the I/O thread, a failure too: its write reports it.
    if (write.written < write.bytes.size())
        return false;
    if (write.notify && write.notify->wantsWriteFinished())
        m_written.push_back(std::move(write.notify));
    return true;
}

void AgentSession::notifyWritten() {
    std::vector<OVLTaskHandlerPrototypePtr> written;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_written.empty())
            return;
        written.swap(m_written);
        m_writtenPosted = false;
    }
    for (auto& handler : written)
        handler->onWriteFinished();
}

void AgentSession::writeNext() {
    boost::asio::const_buffer buffer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writeKicked = false;
        if (m_writing || m_writes.empty() || m_gate == Gate::closed || m_state == State::closed)
            return;
        m_writing = true;
        // Other threads only append to the queue: the front's bytes stay where they are.
        const Write& front = m_writes.front();
        buffer = boost::asio::buffer(front.bytes.data() + front.written, front.bytes.size() - front.written);
    }
    m_transport->asyncWrite(buffer, [self = shared_from_this()](const boost::system::error_code& ec,
                                                                std::size_t) { self->onWritten(ec); });
}

void AgentSession::onWritten(const boost::system::error_code& ec) {
    Write done;
    const bool closed = m_state == State::closed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writing = false;
        if (!m_writes.empty() && (!ec || closed)) {
            done = std::move(m_writes.front());
            m_writes.pop_front();
        }
    }
    if (closed) {
        // The write that was under way when the connection closed; a request had its answer.
        if (done.notify && !done.request) {
            if (ec)
                done.notify->onRequestError(m_closeError);
            else
                done.notify->onWriteFinished();
        }
        return;
    }
    if (ec) {
        fail({OVLRequestErrorData::kClosed, "writing to " + where() + " failed: " + errorText(ec)});
        return;
    }
    if (done.notify)
        done.notify->onWriteFinished();
    writeNext();
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
    submit({std::move(bytes), handler}, nullptr, nullptr);
}

void AgentSession::request(const std::string& id, std::string frame,
                           const OVLTaskHandlerPrototypePtr& handler, Done done) {
    submit({std::move(frame), handler, true}, &id, std::move(done));
}

void AgentSession::countRawReply() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_rawWaits.empty() && --m_rawWaits.front().frames == 0)
        m_rawWaits.pop_front();
}

void AgentSession::armRequestTimer() {
    Clock::time_point earliest = Clock::time_point::max();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [id, request] : m_pending)
            earliest = std::min(earliest, request.deadline);
        if (!m_rawWaits.empty())
            earliest = std::min(earliest, m_rawWaits.front().deadline);
        if (m_state == State::closed || earliest == Clock::time_point::max()) {
            m_requestTimerArmed = false;
            return;
        }
    }
    m_requestTimer.expires_at(earliest);
    m_requestTimer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (!ec)
            self->onRequestTimer();
    });
}

void AgentSession::onRequestTimer() {
    if (m_state == State::closed)
        return;
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<std::string, Pending>> expired;
    std::vector<RawWait> expiredRaw;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second.deadline <= now) {
                if (!it->second.handler)
                    abandon(it->first);  // a synchronous request: its caller wants no late reply
                expired.emplace_back(it->first, std::move(it->second));
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
        // Raw writes expire in write order. Their replies, should they still come, go to the
        // subscribers like any unclaimed frame.
        while (!m_rawWaits.empty() && m_rawWaits.front().deadline <= now) {
            if (m_rawWaits.front().handler)
                expiredRaw.push_back(std::move(m_rawWaits.front()));
            m_rawWaits.pop_front();
        }
    }
    const auto within = [](int ms) { return " within " + std::to_string(ms) + " ms"; };
    for (auto& [id, request] : expired) {
        const OVLRequestErrorData err{
            OVLRequestErrorData::kTimeout,
            "request " + id + ": no reply from the agent at " + where() + within(request.timeoutMs)};
        if (request.handler)
            request.handler->onRequestError(err);
        if (request.done)
            request.done(err.m_code, err.m_message);
    }
    for (RawWait& raw : expiredRaw)
        raw.handler->onRequestError(
            {OVLRequestErrorData::kTimeout,
             "raw request: no reply from the agent at " + where() + within(raw.timeoutMs)});
    armRequestTimer();
}

void AgentSession::cancel(const std::string& id, bool drop) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.erase(id);
    if (drop)
        abandon(id);
}

void AgentSession::abandon(const std::string& id) {
    m_abandoned.push_back(id);
    if (m_abandoned.size() > kMaxAbandoned)
        m_abandoned.pop_front();
}

void AgentSession::disconnect() {
    m_started = true;  // a later connect() on this session is refused
    {
        // Writes from now on are refused; the shutdown on the I/O thread ends what is under way.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gate = Gate::closed;
        m_directSocket = -1;
    }
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
    Log.put(Logger::kDebug, "agent client: %s", err.m_message.c_str());
    OVLConnectionHandlerPrototypePtr handler = std::move(m_handler);
    {
        // The gate closed before the shutdown: the caller's disconnect() is under way, and after
        // it no connection callback comes.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_gate == Gate::closed)
            handler.reset();
    }
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
    m_closeError = err;
    m_connected = false;
    m_timer.cancel();
    m_requestTimer.cancel();
    std::unordered_map<std::string, Pending> pending;
    std::deque<Write> unwritten;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gate = Gate::closed;
        m_directSocket = -1;
        pending.swap(m_pending);
        unwritten.swap(m_held);
        m_rawWaits.clear();  // the unwritten ones among them are answered below
        // The write under way keeps its buffer until its handler has run.
        const auto keep = m_writes.begin() + (m_writing && !m_writes.empty() ? 1 : 0);
        std::move(keep, m_writes.end(), std::back_inserter(unwritten));
        m_writes.erase(keep, m_writes.end());
    }
    if (m_transport)
        m_transport->close();
    m_subscribers.clear();
    m_routes.clear();
    m_current = Route();
    m_head.clear();
    for (auto& [id, request] : pending) {
        if (request.handler)
            request.handler->onRequestError({err.m_code, "request " + id + ": " + err.m_message});
        if (request.done)
            request.done(err.m_code != 0 ? err.m_code : OVLRequestErrorData::kClosed, err.m_message);
    }
    // Raw writes that never went out; the requests among them had their answer above.
    for (Write& write : unwritten) {
        if (write.notify && !write.request)
            write.notify->onRequestError(err);
    }
}

}  // namespace OVL::Agent
