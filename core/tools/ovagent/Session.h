// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// One client connection: greeting, then request frames in, reply frames out, until the peer
// closes, a limit is hit or the agent stops.
//
// A session's handlers run one at a time on the executor of its stream (a strand), so the session
// needs no lock. Reading and processing alternate: all frames of one read are answered in one
// write before the next read, which keeps pipelined requests in order and bounds the memory a
// client can make the agent hold. Password checks run on the login gate, environment operations
// on the store thread, and performance samples wait on a timer; the session waits for them
// without reading.
//
// Every close the agent makes before a successful login is preceded by its error frame (403, 408,
// 413, 503), except when a TLS handshake did not complete (there is no channel for a frame then).
// Connections refused before their session starts are a Refusal's (below), not a session's.
// Lifetime: shared_ptr, kept alive by its pending operations.
// Instantiated for TcpStream, TlsStream, UnixStream and StdioStream (Session.cpp).

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "AgentContext.h"
#include "Dispatcher.h"
#include "HeapTrimmer.h"
#include "LoginGate.h"
#include "OVLWire/FrameSplitter.h"
#include "Transport.h"

namespace ovagent {

// What the server lends its sessions.
struct SessionWorkers {
    LoginGate& logins;
    asio::any_io_executor store;  // runs environment operations, off the network threads
    HeapTrimmer& trimmer;         // gives memory back after large frames
};

// A connection refused before its session starts (503: too many connections, or too many from its
// address that have not logged in). It takes no place among the connections: the handshake (TLS),
// the frame, the end of our direction, then the input is discarded until the peer closes, for at
// most kLifetime in all. At most kMaxInFlight refusals are under way at once; over that a
// connection gets its frame only if the socket takes it at once (TLS: never) and is closed.
// Thread-safe start(); the refusal then runs on the stream's executor.
template <class Stream>
class Refusal : public std::enable_shared_from_this<Refusal<Stream>> {
public:
    static constexpr std::chrono::milliseconds kLifetime{1000};
    static constexpr int kMaxInFlight = 256;
    static constexpr std::size_t kDiscardSize = 512;

    static void start(Stream stream, std::string frame);
    // Refusals under way, of all stream kinds.
    static int inFlight();

    Refusal(Stream stream, std::string frame);
    ~Refusal();
    Refusal(const Refusal&) = delete;
    Refusal& operator=(const Refusal&) = delete;

private:
    void run();
    void discard();
    void close();

    Stream m_stream;
    std::string m_frame;
    asio::steady_timer m_timer;
    std::array<char, kDiscardSize> m_discard{};
    bool m_closed = false;
};

// The connection's far end: `name` for the log ("tcp://127.0.0.1:54942"), `address` for the
// per-address limits ("127.0.0.1", or the transport's name where there is no address). The session
// releases `preLoginSlot` (PreLoginSlots) when its login succeeds.
struct Peer {
    std::string name;
    std::string address;
    std::shared_ptr<void> preLoginSlot;  // the address's place among connections not logged in
};

template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    // The frame buffer of a new connection, and the size it goes back to after a large frame.
    static constexpr std::size_t kInitialBuffer = 4096;
    // The fewest bytes one read asks for (more while a partial frame is buffered).
    static constexpr std::size_t kMinRead = 1024;
    // The scratch buffer that input is read into and dropped while the session closes.
    static constexpr std::size_t kDiscardSize = 4096;
    // An output buffer larger than this is released once it is sent, so an idle session holds little.
    static constexpr std::size_t kKeptBuffer = 8192;
    // After its last frame the agent discards input for this long at most before it closes.
    static constexpr std::chrono::milliseconds kDrainTime{2000};
    // While a sample or an environment operation is in progress the idle time-out is looked at
    // again after this.
    static constexpr std::chrono::milliseconds kBusyRecheck{1000};

    Session(AgentContext& context, SessionWorkers workers, Stream stream, Peer peer);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Handshake, greeting, then requests. Call once, from any thread.
    void start();
    // Called on the session's executor when it closes. Set before start().
    void setOnClose(std::function<void()> onClose) { m_onClose = std::move(onClose); }
    // Ends the session from any thread.
    void stop();

private:
    using Clock = std::chrono::steady_clock;

    // What the session is doing; each phase names the operations that may be in flight.
    enum class Phase {
        handshake,          // the stream's handshake (TLS) is running
        reading,            // one read is in flight: waiting for frames
        processing,         // answering the frames buffered; nothing in flight
        writing,            // one write of replies is in flight; the next read follows it
        verifying,          // a login check is waiting or running on the login gate
        loginDelay,         // the 403 waits for the failed-login delay, then the session closes
        sampling,           // a performance sample waits for its interval
        storing,            // an environment operation runs on the store thread
        closing,            // the last frames are being written; one read discards the input
        closingInputEnded,  // the last frames are being written; the peer's input has ended
        draining,           // our direction is shut; the read discards input until the peer closes
        closed,
    };

    void greet();
    void readMore();
    void onRead(boost::system::error_code ec, std::size_t n);
    void discardMore();
    void process();
    void verify(LoginAttempt attempt);
    void onVerified(const LoginAttempt& attempt, const Dispatcher::LoginVerdict& verdict);
    void waitForSample();
    void store();
    void flush();
    void onWritten(boost::system::error_code ec);
    // Sends what m_out holds as the session's last frames, then drains and closes.
    void finishWith();
    // Appends an error frame and finishes with it: the answer to the login being checked, if one
    // is, else a frame without id.
    void finishWithError(int code, const std::string& message);
    void drain();
    void armTimer(std::chrono::milliseconds after);
    void onTimer();
    void close();

    AgentContext& m_context;
    SessionWorkers m_workers;
    Stream m_stream;
    std::string m_address;
    std::shared_ptr<void> m_preLoginSlot;  // held until the login succeeds
    asio::steady_timer m_timer;            // the login, idle or drain time-out
    asio::steady_timer m_waitTimer;        // a sample's interval or the failed-login delay
    OVL::Wire::FrameSplitter m_splitter;
    Dispatcher m_dispatcher;
    SessionState m_state;
    Phase m_phase = Phase::handshake;
    std::shared_ptr<const LoginAttempt> m_attempt;  // the login being checked (verifying)
    std::string m_out;                              // replies waiting for the current write to finish
    std::string m_sending;                          // bytes of the write in flight
    std::unique_ptr<char[]> m_discard;              // allocated only while closing
    std::function<void()> m_onClose;
    Clock::time_point m_lastActivity;
    Clock::time_point m_deadline;
    std::size_t m_lastFrameSize = 0;
    bool m_trimDue = false;  // a large frame was handled: the heap is trimmed at the next read
};

}  // namespace ovagent
