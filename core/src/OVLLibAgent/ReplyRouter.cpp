// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "ReplyRouter.h"

#include <cstring>

#include "ClientPacket.h"

namespace OVL::Agent {

ReplyRouter::ReplyRouter(boost::asio::io_context& context, PendingRequests& pending, KeepAlive keepAlive,
                         Where where)
    : m_pending(pending), m_keepAlive(std::move(keepAlive)), m_where(std::move(where)), m_timer(context) {}

void ReplyRouter::subscribe(const OVLTaskHandlerPrototypePtr& handler) {
    if (m_closed) {
        return;
    }
    for (auto& known : m_subscribers) {
        if (known == handler) {
            return;
        }
    }
    m_subscribers.push_back(handler);
}

void ReplyRouter::receive(const char* bytes, std::size_t n) {
    while (n > 0 && !m_closed) {
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
        if (zero == nullptr) {
            return;
        }
        m_routes.push_back(std::move(m_current));
        m_current = Route();
        bytes = zero + 1;
        n -= length + 1;
    }
}

bool ReplyRouter::decideRoute(std::string_view head, bool force) {
    std::string id;
    if (!findPacketId(head, id) && !force && head.size() < kMaxHead) {
        return false;
    }
    m_current.decided = true;
    OVLTaskHandlerPrototypePtr owner;
    m_current.claimed = !id.empty() && m_pending.claim(id, owner);
    m_current.id = std::move(id);
    if (m_current.claimed) {
        if (owner) {
            m_current.recipients.push_back({std::move(owner), false});
        }
    } else {
        for (auto& handler : m_subscribers) {
            m_current.recipients.push_back({handler, false});
        }
    }
    return true;
}

void ReplyRouter::deliverPiece(const char* bytes, std::size_t n) {
    if (n == 0) {
        return;
    }
    for (Recipient& recipient : m_current.recipients) {
        std::size_t used = 0;
        if (recipient.handler->onReplyPiece(bytes, n, used)) {
            recipient.wantsComplete = true;
        }
    }
}

void ReplyRouter::complete(std::string_view frame) {
    if (m_closed) {
        return;
    }
    Route route;
    if (!m_routes.empty()) {
        route = std::move(m_routes.front());
        m_routes.pop_front();
    } else {
        decideRoute(frame, true);
        deliverPiece(frame.data(), frame.size());
        route = std::move(m_current);
        m_current = Route();
    }
    if (!route.claimed) {
        m_pending.countRawReply();
    }
    PendingRequests::Done done;
    if (route.claimed) {
        done = m_pending.complete(route.id);
    }
    std::size_t replies = 0;
    for (const Recipient& recipient : route.recipients) {
        replies += recipient.wantsComplete ? 1 : 0;
    }
    if (!done && replies == 0) {
        return;
    }
    std::string text(frame);
    if (done) {
        done(0, replies == 0 ? std::move(text) : text);
    }
    for (Recipient& recipient : route.recipients) {
        if (!recipient.wantsComplete) {
            continue;
        }
        // The last reply object takes the text, the others copy it.
        // NOLINTNEXTLINE(bugprone-use-after-move): text was moved to done only when no reply follows
        OVLReplyPtr reply(--replies == 0 ? new OVLReply(std::move(text)) : new OVLReply(text));
        recipient.handler->onReplyComplete(reply);
    }
}

void ReplyRouter::armTimer() {
    const auto earliest = m_pending.earliestDeadline();
    if (!earliest) {
        return;
    }
    m_timer.expires_at(*earliest);
    m_timer.async_wait([this, owner = m_keepAlive()](const boost::system::error_code& ec) {
        if (!ec) {
            onTimer();
        }
    });
}

void ReplyRouter::onTimer() {
    if (m_closed) {
        return;
    }
    PendingRequests::Expired expired = m_pending.takeExpired(PendingRequests::Clock::now());
    const auto within = [](int ms) { return " within " + std::to_string(ms) + " ms"; };
    for (auto& [id, request] : expired.requests) {
        const OVLRequestErrorData err{
            OVLRequestErrorData::kTimeout,
            "request " + id + ": no reply from the agent at " + m_where() + within(request.timeoutMs)};
        if (request.handler) {
            request.handler->onRequestError(err);
        }
        if (request.done) {
            request.done(err.m_code, err.m_message);
        }
    }
    for (PendingRequests::RawWait& raw : expired.raw) {
        raw.handler->onRequestError(
            {OVLRequestErrorData::kTimeout,
             "raw request: no reply from the agent at " + m_where() + within(raw.timeoutMs)});
    }
    armTimer();
}

void ReplyRouter::close(const OVLRequestErrorData& err) {
    m_closed = true;
    m_timer.cancel();
    m_subscribers.clear();
    m_routes.clear();
    m_current = Route();
    m_head.clear();
    for (auto& [id, request] : m_pending.close()) {
        if (request.handler) {
            request.handler->onRequestError({err.m_code, "request " + id + ": " + err.m_message});
        }
        if (request.done) {
            request.done(err.m_code != 0 ? err.m_code : OVLRequestErrorData::kClosed, err.m_message);
        }
    }
}

}  // namespace OVL::Agent
