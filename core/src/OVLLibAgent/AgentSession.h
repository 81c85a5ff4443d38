#pragma once
// One connection to an agent: transport, greeting and login, the read loop that splits frames and
// routes them to task handlers, and the write queue.
//
// The public operations may be called on any thread. Reading, routing and every callback happen
// on the library's I/O thread. Writes and the table of pending requests are shared under one
// mutex: a caller's write goes straight to the socket from the caller's thread when nothing is
// queued before it and the transport allows it (TCP, Unix socket), else it joins the queue that
// the I/O thread writes. Pending asynchronous operations hold the session through
// shared_from_this, so it outlives its owner until they have finished.

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"
#include "OVLWire/FrameSplitter.h"
#include "Transport.h"

namespace OVL::Agent {

class AgentSession : public std::enable_shared_from_this<AgentSession> {
public:
    // Completion of a synchronous request: code 0 and the reply's text, or a nonzero code
    // (OVLRequestErrorData codes) and a message.
    using Done = std::function<void(int code, std::string textOrError)>;

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
    OVLEID getEID() const;

    static int connectTimeoutMs();
    static int requestTimeoutMs();
    static std::size_t maxReplySize();

private:
    enum class State { idle, connecting, greeting, login, ready, closed };
    // What a write made now becomes: refused (idle, closed), held until the login completed, or
    // written (ready).
    enum class Gate { idle, held, ready, closed };
    struct Write {
        std::string bytes;
        OVLTaskHandlerPrototypePtr notify;
        bool request = false;     // a parsed request, also in m_pending
        std::size_t written = 0;  // bytes that went out already
    };
    using Clock = std::chrono::steady_clock;
    struct Pending {
        OVLTaskHandlerPrototypePtr handler;
        Done done;
        Clock::time_point deadline;  // no reply by then: time-out
        int timeoutMs = 0;           // the time-out it was given (read at submit, for the message)
    };
    // A raw write: the agent answers each of its zero-terminated packets with one frame, in order,
    // so the frames that no parsed request claims are counted against the raw writes in order.
    struct RawWait {
        OVLTaskHandlerPrototypePtr handler;
        std::size_t frames = 0;  // replies still to come
        Clock::time_point deadline;
        int timeoutMs = 0;
    };
    struct Recipient {
        OVLTaskHandlerPrototypePtr handler;
        bool wantsComplete = false;
    };
    struct Route {
        bool decided = false;
        bool claimed = false;  // the reply of a pending request
        std::string id;
        std::vector<Recipient> recipients;
    };

    void start(OVLConnectionInfo info);
    void onTransportConnected(const OVLRequestErrorData& err);
    void onTimeout();
    // Request time-outs (OVL_REQUEST_TIMEOUT_MS): one timer for the earliest deadline of the
    // pending parsed requests and raw writes; when it fires, the expired ones get onRequestError
    // (and their Done) with code kTimeout.
    void armRequestTimer();
    void onRequestTimer();
    void countRawReply();
    // Notes `id` among the abandoned requests; m_mutex held.
    void abandon(const std::string& id);
    static constexpr std::size_t kMaxAbandoned = 64;
    void readMore();
    void onRead(const boost::system::error_code& ec, std::size_t n);
    void handleSetupFrame(std::string_view frame);
    void handleFrame(std::string_view frame);
    void emitPieces(const char* bytes, std::size_t n);
    bool decideRoute(std::string_view head, bool force);
    void deliverPiece(const char* bytes, std::size_t n);
    void submit(Write write, const std::string* id, Done done);
    bool writeDirectly(Write& write);
    void writeNext();
    void onWritten(const boost::system::error_code& ec);
    void notifyWritten();
    void becomeReady(const OVLEID& eid);
    void fail(OVLRequestErrorData err);
    void shutdown(const OVLRequestErrorData& err);
    std::string where() const;

    boost::asio::io_context& m_context;
    // Everything below is used on the I/O thread only, except where noted.
    State m_state = State::idle;
    OVLConnectionInfo m_info;
    std::unique_ptr<Transport> m_transport;
    boost::asio::steady_timer m_timer;
    boost::asio::steady_timer m_requestTimer;
    Wire::FrameSplitter m_splitter;
    char* m_readArea = nullptr;  // where the read under way puts its bytes
    OVLConnectionHandlerPrototypePtr m_handler;
    std::string m_loginId;
    std::vector<OVLTaskHandlerPrototypePtr> m_subscribers;
    OVLRequestErrorData m_closeError;  // why the session closed, for writes still under way
    Route m_current;                   // the frame being received
    std::string m_head;                // its first bytes while its route is undecided (after a read)
    std::deque<Route> m_routes;        // frames received completely, waiting for handleFrame

    // Shared by the callers' threads and the I/O thread. A direct write happens under m_mutex, and
    // the I/O thread clears m_directSocket under it before it closes the transport, so no write
    // can reach a descriptor that was closed (and perhaps reused).
    std::mutex m_mutex;
    Gate m_gate = Gate::idle;                            // guarded by m_mutex
    int m_directSocket = -1;                             // guarded by m_mutex
    std::unordered_map<std::string, Pending> m_pending;  // guarded by m_mutex
    std::deque<Write> m_writes;  // guarded by m_mutex; front is being written while m_writing
    std::deque<Write> m_held;    // guarded by m_mutex; writes made before the login completed
    bool m_writing = false;      // guarded by m_mutex
    bool m_writeKicked = false;  // guarded by m_mutex; a writeNext is posted
    // Handlers of direct writes still to get onWriteFinished on the I/O thread; guarded by m_mutex.
    std::vector<OVLTaskHandlerPrototypePtr> m_written;
    bool m_writtenPosted = false;    // guarded by m_mutex
    std::deque<RawWait> m_rawWaits;  // guarded by m_mutex; in write order
    // Requests given up without a handler (a synchronous caller's time-out): their late replies
    // are dropped. The newest kMaxAbandoned are kept; guarded by m_mutex.
    std::deque<std::string> m_abandoned;
    bool m_requestTimerArmed = false;  // guarded by m_mutex; armed, or an arming is posted

    std::atomic<bool> m_started{false};
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_eidMutex;
    OVLEID m_eid;  // guarded by m_eidMutex
};

}  // namespace OVL::Agent
