// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's listeners and worker threads. Accepts TCP, TLS and Unix-socket connections (each
// when enabled) and runs one Session per connection; or serves a single session on standard input
// and output. Connections over the configured maximum get a 503 error and are closed.
// Password checks run on the login gate (LoginGate.h), environment operations on one store
// thread, so the worker threads that run the sessions never wait for either.

#include <utility>  // before Asio: its C++20 coroutine header needs std::exchange

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include <memory>
#include <string>
#include <vector>

#include "AgentContext.h"
#include "HeapTrimmer.h"
#include "LoginGate.h"

namespace ovagent {

class Server {
public:
    Server(AgentContext& context, std::string stateDirectory);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    boost::asio::io_context& ioContext() { return m_io; }

    // Binds every enabled listener of `config` (port 0: any free port). One that cannot be bound
    // (a port in use, something else at the socket path, a socket directory that is not the
    // user's own) is left out with an error record while the others serve. False with `error`
    // set when none could be bound, or for a configuration mistake (an invalid address, a TLS
    // certificate that cannot be read or made); nothing is then listening.
    bool listen(const AgentConfig& config, std::string& error);
    // The bound endpoints, one per line: "tcp <address> <port>", "tls <address> <port>", "unix <path>".
    std::string describeListeners() const;

    // Runs the accept loops on `threads` threads until stop(). Blocks.
    void run(int threads);
    // Serves one session on standard input/output; returns when it ends or stop() is called.
    void runStdio();
    // Stops accepting and ends every thread's loop. Safe from any thread and from run's handlers.
    void stop();

private:
    struct Listener;
    bool add(std::unique_ptr<Listener> listener, std::string& error);
    void accept(Listener& listener);
    // Writes the counts of suppressed address records every log window (on the accept strand).
    void flushLogEvery();

    AgentContext& m_context;
    std::string m_stateDirectory;
    boost::asio::io_context m_io;
    // The acceptors' executor: accept handlers and stop() touch the acceptors only on it.
    boost::asio::strand<boost::asio::io_context::executor_type> m_acceptStrand{
        boost::asio::make_strand(m_io)};
    std::unique_ptr<boost::asio::ssl::context> m_tls;
    boost::asio::steady_timer m_logFlush{m_acceptStrand};
    HeapTrimmer m_trimmer{boost::asio::make_strand(m_io)};
    std::vector<std::unique_ptr<Listener>> m_listeners;  // tcp, tls, unix: those enabled
    std::string m_unixPath;                              // removed at the end when we bound it
    // Destroyed before m_io: what they still hold of sessions goes while the sockets' io_context lives.
    LoginGate m_logins;
    PreLoginSlots m_preLogin;
    boost::asio::thread_pool m_store{1};
};

}  // namespace ovagent
