// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The reply side of a session once it is logged in: takes the bytes read from the agent, gives
// each frame's pieces to its recipients as they arrive, completes the frame's request (its
// handler's onReplyComplete, its Done), and times out the requests that get no reply within
// their time-out (OVL_REQUEST_TIMEOUT_MS).
//
// A frame goes to the handler of the pending parsed request whose packet id it carries, to nobody
// for a request given up (PendingRequests' abandoned ids), else to every subscribed handler (and
// it counts as the reply of the oldest raw write). The id is read from the frame's first bytes, so
// the pieces of a large reply are delivered before the rest of it came.
//
// Threads: the I/O thread only; the one shared part is the PendingRequests table, which has its
// own mutex. The router owns the subscribers and the routes of the frames under way; the table is
// the session's. Its timer's wait holds the owner through `keepAlive`.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLLibCore/OVLRequestErrorData.h"
#include "PendingRequests.h"

namespace OVL::Agent {

class ReplyRouter {
public:
    // What an asynchronous operation holds so that its owner (and the router) outlive it.
    using KeepAlive = std::function<std::shared_ptr<void>()>;
    // The agent's address for messages ("tcp 127.0.0.1:4433").
    using Where = std::function<std::string()>;

    // A frame whose root start tag is not complete after this many bytes is routed without an id.
    static constexpr std::size_t kMaxHead = std::size_t{64} * 1024;

    ReplyRouter(boost::asio::io_context& context, PendingRequests& pending, KeepAlive keepAlive, Where where);
    ReplyRouter(const ReplyRouter&) = delete;
    ReplyRouter& operator=(const ReplyRouter&) = delete;

    // Adds a handler for the frames that no request claims (once; not after close()).
    void subscribe(const OVLTaskHandlerPrototypePtr& handler);
    // The bytes of one read, as they came: the pieces of the frames they hold and begin.
    void receive(const char* bytes, std::size_t n);
    // A frame that was completely received (its terminator excluded): completes its request.
    // Bytes that were never given to receive() (they came with the login's reply) are routed here
    // as a whole.
    void complete(std::string_view frame);
    // True while a frame is partly received.
    bool midReply() const noexcept { return m_current.decided || !m_head.empty(); }
    // Sets the timer to the earliest deadline of the pending requests (posted by whoever added one).
    void armTimer();
    // The session ends: every pending request gets `err` (its handler's onRequestError names its
    // id; its Done gets kClosed when `err` has no code), and nothing is routed any more.
    void close(const OVLRequestErrorData& err);

private:
    struct Recipient {
        OVLTaskHandlerPrototypePtr handler;
        bool wantsComplete = false;
    };
    struct Route {
        bool decided = false;
        bool claimed = false;  // the reply of a request
        std::string id;
        std::vector<Recipient> recipients;
    };

    bool decideRoute(std::string_view head, bool force);
    void deliverPiece(const char* bytes, std::size_t n);
    void onTimer();

    PendingRequests& m_pending;
    KeepAlive m_keepAlive;
    Where m_where;
    boost::asio::steady_timer m_timer;
    bool m_closed = false;
    std::vector<OVLTaskHandlerPrototypePtr> m_subscribers;
    Route m_current;             // the frame being received
    std::string m_head;          // its first bytes while its route is undecided (after a read)
    std::deque<Route> m_routes;  // frames received completely, waiting for complete()
};

}  // namespace OVL::Agent
