// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>
#include <variant>

#include "AgentLog.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "Session.h"
#include "TlsContext.h"

namespace ovagent {

using boost::asio::ip::tcp;
using Local = boost::asio::local::stream_protocol;

// How long a listener waits after an accept failed (no descriptors left, say) before it tries again.
constexpr std::chrono::milliseconds kAcceptPause{100};

// One bound listener: its acceptor and what the sessions it accepts run over.
struct Server::Listener {
    enum class Kind { tcp, tls, unix } kind;
    std::variant<tcp::acceptor, Local::acceptor> acceptor;

    const char* scheme() const { return kind == Kind::tcp ? "tcp" : kind == Kind::tls ? "tls" : "unix"; }
    bool isOpen() const {
        return std::visit([](const auto& a) { return a.is_open(); }, acceptor);
    }
    void close() {
        std::visit(
            [](auto& a) {
                boost::system::error_code ec;
                a.close(ec);
            },
            acceptor);
    }
};

namespace {

std::string refusal(const char* why) {
    std::string out;
    OVL::Wire::appendErrorFrame(out, {}, kAgentName, "system", OVL::Wire::kErrTooManyConnections, why);
    return out;
}

Peer peerOf(const tcp::socket& socket, const char* scheme) {
    boost::system::error_code ec;
    auto endpoint = socket.remote_endpoint(ec);
    if (ec) {
        return {scheme, scheme, nullptr};
    }
    std::ostringstream name;
    name << scheme << "://" << endpoint;
    return {name.str(), endpoint.address().to_string(), nullptr};
}

// Starts a session over `stream`, or refuses it (503) when the agent is at its connection limit or
// the peer's address holds its share of the connections that have not logged in. A refusal takes
// no place among the connections (Refusal), and its records go through the address's log budget.
template <class Stream>
void launch(AgentContext& context, const SessionWorkers& workers, PreLoginSlots& slots, Stream stream,
            Peer peer) {
    const char* why = nullptr;
    if (context.connections() >= context.config()->limits.maxConnections) {
        why = "too many connections";
    } else if (!(peer.preLoginSlot = slots.acquire(peer.address))) {
        why = "too many connections from this address that have not logged in";
    }
    if (why != nullptr) {
        ADDRESS_LOG(peer.address, AgentLog::warning, "%s: refused, %s", peer.name.c_str(), why);
        return Refusal<Stream>::start(std::move(stream), refusal(why));
    }
    std::make_shared<Session<Stream>>(context, workers, std::move(stream), std::move(peer))->start();
}

// A TCP connection runs TLS when the listener has a TLS context.
void launchAccepted(AgentContext& context, const SessionWorkers& workers, PreLoginSlots& slots,
                    tcp::socket socket, const char* scheme, boost::asio::ssl::context* tls) {
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    Peer peer = peerOf(socket, scheme);
    if (tls != nullptr) {
        launch(context, workers, slots, TlsStream(std::move(socket), tls->native_handle()), std::move(peer));
    } else {
        launch(context, workers, slots, std::move(socket), std::move(peer));
    }
}

void launchAccepted(AgentContext& context, const SessionWorkers& workers, PreLoginSlots& slots,
                    Local::socket socket, const char* scheme, boost::asio::ssl::context*) {
    launch(context, workers, slots, std::move(socket), Peer{scheme, scheme, nullptr});
}

// Removes a socket file left by an agent that is not running any more; a live one stays.
bool clearStaleSocket(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return true;
    }
    if (!S_ISSOCK(st.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    boost::asio::io_context io;
    Local::socket probe(io);
    boost::system::error_code ec;
    probe.connect(Local::endpoint(path), ec);
    if (!ec) {
        error = "another agent is listening on " + path;
        return false;
    }
    std::error_code removeError;
    std::filesystem::remove(path, removeError);
    return true;
}

// Makes `path` the private directory of the agent's socket, or checks the one that is there: it
// must be a directory (not a link to one) of this user that nobody else may enter, else another
// local user could put a socket of theirs in it.
bool makePrivateDirectory(const std::string& path, std::string& error) {
    constexpr mode_t kPrivate = 0700;
    if (::mkdir(path.c_str(), kPrivate) == 0) {
        ::chmod(path.c_str(), kPrivate);  // whatever the umask took away
    } else if (errno != EEXIST) {
        error = "cannot make the socket directory " + path + ": " +
                std::error_code(errno, std::generic_category()).message();
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = "cannot read the socket directory " + path + ": " +
                std::error_code(errno, std::generic_category()).message();
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != kPrivate) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        error = "the socket directory " + path + " is not a directory of this user with mode 0700 (" +
                (S_ISDIR(st.st_mode)   ? "a directory"
                 : S_ISLNK(st.st_mode) ? "a symbolic link"
                                       : "a file") +
                " of uid " + std::to_string(st.st_uid) + ", mode " + mode + ")";
        return false;
    }
    return true;
}

template <class Acceptor, class Endpoint>
void bindAcceptor(Acceptor& acceptor, const Endpoint& endpoint, bool reuseAddress,
                  boost::system::error_code& ec) {
    acceptor.open(endpoint.protocol(), ec);
    if (!ec && reuseAddress) {
        acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
    }
    if (!ec) {
        acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
    }
}

// Binds the Unix socket at `path` and gives the file `mode`: it is created with no more than
// that (the umask during the bind) and then set to exactly that.
bool bindSocket(Local::acceptor& acceptor, const std::string& path, unsigned mode, std::string& error) {
    boost::system::error_code ec;
    const mode_t previous = ::umask(~static_cast<mode_t>(mode) & 0777);
    bindAcceptor(acceptor, Local::endpoint(path), false, ec);
    ::umask(previous);
    if (ec) {
        error = "cannot listen on " + path + ": " + ec.message();
        return false;
    }
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) {
        error = "cannot set the mode of " + path + ": " +
                std::error_code(errno, std::generic_category()).message();
        acceptor.close(ec);
        std::error_code removeError;
        std::filesystem::remove(path, removeError);
        return false;
    }
    return true;
}

}  // namespace

Server::Server(AgentContext& context, std::string stateDirectory)
    : m_context(context), m_stateDirectory(std::move(stateDirectory)) {}

Server::~Server() {
    m_store.join();
    if (!m_unixPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_unixPath, ec);
    }
}

bool Server::listen(const AgentConfig& config, std::string& error) {
    // A listener that cannot be bound fails alone (a port taken, a file or another user's socket
    // at the socket path): the others serve. Configuration mistakes and a start with no listener
    // at all fail the start.
    std::vector<std::string> failed;
    auto bindTcp = [&](const ListenerConfig& listener, Listener::Kind kind) {
        boost::system::error_code ec;
        auto address = boost::asio::ip::make_address(listener.address, ec);
        if (ec) {
            error = "invalid listen address '" + listener.address + "'";
            return false;
        }
        auto bound = std::make_unique<Listener>(Listener{kind, tcp::acceptor(m_acceptStrand)});
        const tcp::endpoint endpoint(address, listener.port);
        bindAcceptor(std::get<tcp::acceptor>(bound->acceptor), endpoint, true, ec);
        if (ec) {
            std::ostringstream text;
            text << "cannot listen on " << endpoint << ": " << ec.message();
            failed.push_back(text.str());
            return true;
        }
        m_listeners.push_back(std::move(bound));
        return true;
    };
    if (config.tcp.enabled && !bindTcp(config.tcp, Listener::Kind::tcp)) {
        return false;
    }
    if (config.tls.enabled) {
        m_tls = TlsContext::create(config.certificateFile, config.keyFile, m_stateDirectory, error);
        if (!m_tls || !bindTcp(config.tls, Listener::Kind::tls)) {
            return false;
        }
    }
    if (config.unixEnabled) {
        const std::string path = config.unixPath.empty() ? OVL::Wire::defaultSocketPath() : config.unixPath;
        std::string why;
        auto bound =
            std::make_unique<Listener>(Listener{Listener::Kind::unix, Local::acceptor(m_acceptStrand)});
        const std::string directory = config.unixPath.empty() ? OVL::Wire::privateSocketDirectory() : "";
        if ((directory.empty() || makePrivateDirectory(directory, why)) && clearStaleSocket(path, why) &&
            bindSocket(std::get<Local::acceptor>(bound->acceptor), path, config.unixMode, why)) {
            m_unixPath = path;
            m_listeners.push_back(std::move(bound));
        } else {
            failed.push_back(why);
        }
    }
    if (m_listeners.empty()) {
        error.clear();
        for (const auto& why : failed) {
            error += (error.empty() ? "" : "; ") + why;
        }
        if (error.empty()) {
            error = "no listener is enabled";
        }
        return false;
    }
    for (const auto& why : failed) {
        AGENT_LOG(AgentLog::error, "%s; serving on the other listeners", why.c_str());
    }
    for (auto& listener : m_listeners) {
        accept(*listener);
    }
    return true;
}

std::string Server::describeListeners() const {
    std::ostringstream out;
    for (const auto& listener : m_listeners) {
        out << listener->scheme() << ' ';
        boost::system::error_code ec;
        if (const auto* acceptor = std::get_if<tcp::acceptor>(&listener->acceptor)) {
            auto endpoint = acceptor->local_endpoint(ec);
            out << endpoint.address().to_string() << ' ' << endpoint.port() << '\n';
        } else {
            out << m_unixPath << '\n';
        }
    }
    return out.str();
}

void Server::accept(Listener& listener) {
    const SessionWorkers workers{m_logins, m_store.get_executor(), m_trimmer};
    std::visit(
        [&](auto& acceptor) {
            acceptor.async_accept(
                boost::asio::make_strand(m_io),
                [this, &listener, workers](boost::system::error_code ec, auto socket) {
                    if (ec == boost::asio::error::operation_aborted || !listener.isOpen()) {
                        return;
                    }
                    if (ec) {
                        ADDRESS_LOG(listener.scheme(), AgentLog::warning, "accept failed: %s",
                                    ec.message().c_str());
                        // Out of descriptors or memory: accepting again at once would only fail
                        // again, as fast as the thread can loop.
                        auto pause =
                            std::make_shared<boost::asio::steady_timer>(m_acceptStrand, kAcceptPause);
                        pause->async_wait([this, &listener, pause](boost::system::error_code waited) {
                            if (!waited && listener.isOpen()) {
                                accept(listener);
                            }
                        });
                        return;
                    }
                    launchAccepted(m_context, workers, m_preLogin, std::move(socket), listener.scheme(),
                                   listener.kind == Listener::Kind::tls ? m_tls.get() : nullptr);
                    accept(listener);
                });
        },
        listener.acceptor);
}

void Server::flushLogEvery() {
    m_logFlush.expires_after(SessionLog::kWindow);
    m_logFlush.async_wait([this](boost::system::error_code ec) {
        if (!ec) {
            AddressLog::flushExpired();
            flushLogEvery();
        }
    });
}

void Server::run(int threads) {
    boost::asio::post(m_acceptStrand, [this] { flushLogEvery(); });
    if (threads <= 0) {
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i) {
        workers.emplace_back([this] { m_io.run(); });
    }
    m_io.run();
    for (auto& worker : workers) {
        worker.join();
    }
    AddressLog::flushExpired(true);
}

void Server::runStdio() {
    auto session = std::make_shared<Session<StdioStream>>(
        m_context, SessionWorkers{m_logins, m_store.get_executor(), m_trimmer},
        StdioStream(boost::asio::make_strand(m_io)), Peer{"stdio", "stdio", nullptr});
    session->setOnClose([this] { stop(); });
    session->start();
    session.reset();
    m_io.run();
}

void Server::stop() {
    boost::asio::post(m_acceptStrand, [this] {
        m_logFlush.cancel();
        for (auto& listener : m_listeners) {
            listener->close();
        }
        m_io.stop();
    });
}

}  // namespace ovagent
