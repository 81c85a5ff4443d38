// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A TLS server stream: OpenSSL working directly on the TCP socket's descriptor, driven by Asio's
// readiness waits.
//
// Asio's own TLS stream keeps two 17 KiB staging buffers and a BIO pair of two more per
// connection for its whole life, about 70 KiB, which an idle connection does not need. Here
// OpenSSL reads and writes the socket itself, and with SSL_MODE_RELEASE_BUFFERS it frees its record
// buffers whenever they are empty, so an idle connection costs a few KiB.
//
// Threads: like an Asio socket; at most one read and one write operation in flight, started
// from the stream's executor (a strand), so OpenSSL is never entered concurrently. Handlers are
// never invoked from within the initiating call.

#include <utility>  // before Asio: its C++20 coroutine header needs std::exchange

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl/error.hpp>

#include <algorithm>
#include <cerrno>

namespace ovagent {

class TlsSocketStream {
public:
    using executor_type = boost::asio::any_io_executor;

    // Takes the socket; `context` must outlive the stream. The socket is switched to non-blocking.
    TlsSocketStream(boost::asio::ip::tcp::socket socket, SSL_CTX* context);
    TlsSocketStream(TlsSocketStream&& other) noexcept;
    TlsSocketStream& operator=(TlsSocketStream&&) = delete;
    ~TlsSocketStream();

    executor_type get_executor() { return m_socket.get_executor(); }
    boost::asio::ip::tcp::socket& lowest_layer() { return m_socket; }

    // Server side handshake; handler(error_code).
    template <class Handler>
    void async_handshake(Handler&& handler) {
        run([this] { return SSL_accept(m_ssl); },
            [h = std::forward<Handler>(handler)](boost::system::error_code ec, int) mutable { h(ec); });
    }

    template <class MutableBuffers, class Handler>
    void async_read_some(const MutableBuffers& buffers, Handler&& handler) {
        boost::asio::mutable_buffer buffer = *boost::asio::buffer_sequence_begin(buffers);
        run([this, buffer] { return SSL_read(m_ssl, buffer.data(), clampSize(buffer.size())); },
            [h = std::forward<Handler>(handler)](boost::system::error_code ec, int n) mutable {
                h(ec, ec ? std::size_t{0} : static_cast<std::size_t>(n));
            });
    }

    template <class ConstBuffers, class Handler>
    void async_write_some(const ConstBuffers& buffers, Handler&& handler) {
        boost::asio::const_buffer buffer = *boost::asio::buffer_sequence_begin(buffers);
        run([this, buffer] { return SSL_write(m_ssl, buffer.data(), clampSize(buffer.size())); },
            [h = std::forward<Handler>(handler)](boost::system::error_code ec, int n) mutable {
                h(ec, ec ? std::size_t{0} : static_cast<std::size_t>(n));
            });
    }

    // Sends close_notify if the socket takes it now, then ends the sending direction.
    void shutdownSend();
    void close();

private:
    static int clampSize(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1 << 30)); }

    // Classifies the result of an OpenSSL call: 0 done, 1 wait readable, 2 wait writable, -1 failed
    // (with `ec` set).
    int classify(int result, boost::system::error_code& ec);

    // Calls `op` until it completes, waiting for the socket between attempts; then posts
    // done(error, result).
    template <class Operation, class Done>
    void run(Operation op, Done done) {
        ERR_clear_error();
        errno = 0;
        const int result = op();
        boost::system::error_code ec;
        const int state = classify(result, ec);
        if (state == 0 || state < 0) {
            boost::asio::post(m_socket.get_executor(),
                              [d = std::move(done), ec, result]() mutable { d(ec, result); });
            return;
        }
        m_socket.async_wait(
            state == 1 ? boost::asio::ip::tcp::socket::wait_read : boost::asio::ip::tcp::socket::wait_write,
            [this, op = std::move(op), done = std::move(done)](boost::system::error_code waitError) mutable {
                if (waitError) {
                    return done(waitError, 0);
                }
                run(std::move(op), std::move(done));
            });
    }

    boost::asio::ip::tcp::socket m_socket;
    SSL* m_ssl = nullptr;
};

}  // namespace ovagent
