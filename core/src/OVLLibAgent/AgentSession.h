// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// One connection to an agent: the transport, the greeting and the login, the read loop that
// splits the agent's bytes into frames, and the shut-down. The write queue (WriteQueue) and the
// reply router (ReplyRouter, over the PendingRequests table) do the rest once it is logged in.
//
// The public operations may be called on any thread. Reading, routing and every callback happen
// on the library's I/O thread. A request is registered in the pending table under the write
// queue's mutex, before its bytes can go out and in the order of the writes. Pending asynchronous
// operations hold the session through shared_from_this, so it outlives its owner until they have
// finished; the session owns the transport, the queue, the table and the router.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <boost/asio/steady_timer.hpp>

#include "OVLCommon/Mutex.h"
#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"
#include "OVLWire/FrameSplitter.h"
#include "PendingRequests.h"
#include "ReplyRouter.h"
#include "Transport.h"
#include "WriteQueue.h"

namespace OVL::Agent {

class AgentSession : public std::enable_shared_from_this<AgentSession> {
public:
    using Done = PendingRequests::Done;

    // Defaults of the settings below (milliseconds, bytes).
    static constexpr int kDefaultConnectTimeoutMs = 15000;
    static constexpr int kDefaultRequestTimeoutMs = 15000;
    static constexpr std::size_t kDefaultMaxReplySize = std::size_t(256) << 20;

    AgentSession();
    ~AgentSession();
    AgentSession(const AgentSession&) = delete;
    AgentSession& operator=(const AgentSession&) = delete;

    // False (and nothing happens) when the session was started before.
    bool connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler);
    void disconnect();
    void subscribe(const OVLTaskHandlerPrototypePtr& handler);
    void writeRaw(std::string bytes, const OVLTaskHandlerPrototypePtr& handler);
    // `frame` carries `id` as its packet id; the reply goes to `handler` (if any) and `done` (if any).
    void request(const std::string& id, std::string frame, const OVLTaskHandlerPrototypePtr& handler,
                 Done done);
    // Forgets the request `id`: its reply, if it still comes, goes to the subscribers; with
    // `drop`, a late reply goes nowhere (for a caller that gave up waiting and wants no reply).
    void cancel(const std::string& id, bool drop = false);

    bool isConnected() const noexcept { return m_connected.load(); }
    OVLEID getEID() const EXCLUDES(m_eidMutex);

    // OVL_CONNECT_TIMEOUT_MS: connecting, greeting and login together.
    static int connectTimeoutMs();
    // OVL_REQUEST_TIMEOUT_MS: a request's wait for its reply.
    static int requestTimeoutMs();
    // OVL_MAX_REPLY_SIZE: the largest frame accepted from the agent.
    static std::size_t maxReplySize();

private:
    enum class State { idle, connecting, greeting, login, ready, closed };

    void start(const OVLConnectionInfo& info);
    void onTransportConnected(const OVLRequestErrorData& err);
    void onTimeout();
    void readMore();
    void onRead(const boost::system::error_code& ec, std::size_t n);
    void handleSetupFrame(std::string_view frame);
    void becomeReady(const OVLEID& eid);
    void submit(WriteQueue::Write write, const std::string* id, Done done);
    void fail(OVLRequestErrorData err);
    void shutdown(const OVLRequestErrorData& err);
    std::string where() const;

    boost::asio::io_context& m_context;
    // Used on the I/O thread only.
    State m_state = State::idle;
    OVLConnectionInfo m_info;
    std::unique_ptr<Transport> m_transport;
    boost::asio::steady_timer m_timer;  // the connect time-out
    Wire::FrameSplitter m_splitter;
    char* m_readArea = nullptr;  // where the read under way puts its bytes
    OVLConnectionHandlerPrototypePtr m_handler;
    std::string m_loginId;

    // Each shares itself between threads as its header says.
    PendingRequests m_pending;
    ReplyRouter m_router;
    WriteQueue m_writes;

    std::atomic<bool> m_started{false};
    std::atomic<bool> m_connected{false};
    mutable Mutex m_eidMutex;
    OVLEID m_eid GUARDED_BY(m_eidMutex);
};

}  // namespace OVL::Agent
