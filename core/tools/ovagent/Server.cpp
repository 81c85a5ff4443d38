#include "Server.h"

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "AgentLog.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "Session.h"
#include "TlsContext.h"

namespace ovagent {

using boost::asio::ip::tcp;
using Local = boost::asio::local::stream_protocol;

namespace {

std::string peerName(const tcp::socket& socket, const char* scheme) {
    boost::system::error_code ec;
    auto endpoint = socket.remote_endpoint(ec);
    if (ec)
        return scheme;
    std::ostringstream out;
    out << scheme << "://" << endpoint;
    return out.str();
}

std::string refusal() {
    std::string out;
    OVL::Wire::appendErrorFrame(out, {}, kAgentName, "system", OVL::Wire::kErrTooManyConnections,
                                "too many connections");
    return out;
}

// Removes a socket file left by an agent that is not running any more; a live one stays.
bool clearStaleSocket(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return true;
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

}  // namespace

Server::Server(AgentContext& context, std::string stateDirectory)
    : m_context(context), m_stateDirectory(std::move(stateDirectory)) {}

Server::~Server() {
    m_hashPool.join();
    if (m_unixAcceptor && !m_unixPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_unixPath, ec);
    }
}

bool Server::listen(const AgentConfig& config, std::string& error) {
    auto bindTcp = [&](const ListenerConfig& listener, bool tls) {
        boost::system::error_code ec;
        auto address = boost::asio::ip::make_address(listener.address, ec);
        if (ec) {
            error = "invalid listen address '" + listener.address + "'";
            return false;
        }
        auto acceptor = std::make_unique<tcp::acceptor>(m_io);
        tcp::endpoint endpoint(address, listener.port);
        acceptor->open(endpoint.protocol(), ec);
        if (!ec)
            acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec)
            acceptor->bind(endpoint, ec);
        if (!ec)
            acceptor->listen(boost::asio::socket_base::max_listen_connections, ec);
        if (ec) {
            std::ostringstream text;
            text << "cannot listen on " << endpoint << ": " << ec.message();
            error = text.str();
            return false;
        }
        m_tcpAcceptors.push_back(std::move(acceptor));
        m_tcpIsTls.push_back(tls);
        return true;
    };
    if (config.tcp.enabled && !bindTcp(config.tcp, false))
        return false;
    if (config.tls.enabled) {
        m_tls = TlsContext::create(config.certificateFile, config.keyFile, m_stateDirectory, error);
        if (!m_tls || !bindTcp(config.tls, true))
            return false;
    }
    if (config.unixEnabled) {
        m_unixPath = config.unixPath.empty() ? OVL::Wire::defaultSocketPath() : config.unixPath;
        if (!clearStaleSocket(m_unixPath, error))
            return false;
        boost::system::error_code ec;
        auto acceptor = std::make_unique<Local::acceptor>(m_io);
        acceptor->open(Local(), ec);
        // Only the agent's own user may connect.
        const mode_t previous = ::umask(0077);
        if (!ec)
            acceptor->bind(Local::endpoint(m_unixPath), ec);
        ::umask(previous);
        if (!ec)
            acceptor->listen(boost::asio::socket_base::max_listen_connections, ec);
        if (ec) {
            error = "cannot listen on " + m_unixPath + ": " + ec.message();
            return false;
        }
        m_unixAcceptor = std::move(acceptor);
    }
    for (std::size_t i = 0; i < m_tcpAcceptors.size(); ++i)
        acceptTcp(m_tcpIsTls[i], i);
    if (m_unixAcceptor)
        acceptUnix();
    return true;
}

std::string Server::describeListeners() const {
    std::ostringstream out;
    for (std::size_t i = 0; i < m_tcpAcceptors.size(); ++i) {
        boost::system::error_code ec;
        auto endpoint = m_tcpAcceptors[i]->local_endpoint(ec);
        out << (m_tcpIsTls[i] ? "tls " : "tcp ") << endpoint.address().to_string() << ' ' << endpoint.port()
            << '\n';
    }
    if (m_unixAcceptor)
        out << "unix " << m_unixPath << '\n';
    return out.str();
}

void Server::acceptTcp(bool tls, std::size_t index) {
    tcp::acceptor& acceptor = *m_tcpAcceptors[index];
    acceptor.async_accept(
        boost::asio::make_strand(m_io), [this, tls, index](boost::system::error_code ec, tcp::socket socket) {
            if (ec == boost::asio::error::operation_aborted)
                return;
            if (!ec) {
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                const bool full = m_context.connections() >= m_context.config()->limits.maxConnections;
                std::string peer = peerName(socket, tls ? "tls" : "tcp");
                if (tls) {
                    auto session = std::make_shared<Session<TlsStream>>(
                        m_context, m_hashPool, TlsStream(std::move(socket), m_tls->native_handle()), peer);
                    full ? session->refuse(refusal()) : session->start();
                } else {
                    auto session =
                        std::make_shared<Session<TcpStream>>(m_context, m_hashPool, std::move(socket), peer);
                    full ? session->refuse(refusal()) : session->start();
                }
                if (full)
                    AgentLog::put(AgentLog::warning, "%s: refused, too many connections", peer.c_str());
            } else {
                AgentLog::put(AgentLog::warning, "accept failed: %s", ec.message().c_str());
            }
            acceptTcp(tls, index);
        });
}

void Server::acceptUnix() {
    m_unixAcceptor->async_accept(
        boost::asio::make_strand(m_io), [this](boost::system::error_code ec, Local::socket socket) {
            if (ec == boost::asio::error::operation_aborted)
                return;
            if (!ec) {
                const bool full = m_context.connections() >= m_context.config()->limits.maxConnections;
                auto session =
                    std::make_shared<Session<UnixStream>>(m_context, m_hashPool, std::move(socket), "unix");
                full ? session->refuse(refusal()) : session->start();
                if (full)
                    AgentLog::put(AgentLog::warning, "unix: refused, too many connections");
            } else {
                AgentLog::put(AgentLog::warning, "accept failed: %s", ec.message().c_str());
            }
            acceptUnix();
        });
}

void Server::run(int threads) {
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back([this] { m_io.run(); });
    m_io.run();
    for (auto& worker : workers)
        worker.join();
}

void Server::runStdio() {
    auto session = std::make_shared<Session<StdioStream>>(
        m_context, m_hashPool, StdioStream(boost::asio::make_strand(m_io)), "stdio");
    session->setOnClose([this] { stop(); });
    session->start();
    session.reset();
    m_io.run();
}

void Server::stop() {
    boost::asio::post(m_io, [this] {
        boost::system::error_code ec;
        for (auto& acceptor : m_tcpAcceptors)
            acceptor->close(ec);
        if (m_unixAcceptor)
            m_unixAcceptor->close(ec);
        m_io.stop();
    });
}

}  // namespace ovagent
