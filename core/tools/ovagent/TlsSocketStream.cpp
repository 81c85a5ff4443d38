// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TlsSocketStream.h"

#include <cerrno>

namespace ovagent {

TlsSocketStream::TlsSocketStream(boost::asio::ip::tcp::socket socket, SSL_CTX* context)
    : m_socket(std::move(socket)), m_ssl(SSL_new(context)) {
    boost::system::error_code ec;
    m_socket.non_blocking(true, ec);
    if (m_ssl != nullptr) {
        SSL_set_fd(m_ssl, m_socket.native_handle());
    }
}

TlsSocketStream::TlsSocketStream(TlsSocketStream&& other) noexcept
    : m_socket(std::move(other.m_socket)), m_ssl(std::exchange(other.m_ssl, nullptr)) {}

TlsSocketStream::~TlsSocketStream() {
    if (m_ssl != nullptr) {
        SSL_free(m_ssl);
    }
}

int TlsSocketStream::classify(int result, boost::system::error_code& ec) {
    if (m_ssl == nullptr) {
        ec = boost::asio::error::no_memory;
        return -1;
    }
    if (result > 0) {
        return 0;
    }
    const int error = SSL_get_error(m_ssl, result);
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return 1;
        case SSL_ERROR_WANT_WRITE:
            return 2;
        case SSL_ERROR_ZERO_RETURN:
            ec = boost::asio::error::eof;
            return -1;
        case SSL_ERROR_SYSCALL:
            // Without a pending OpenSSL error this is the peer closing without close_notify.
            ec = errno != 0 ? boost::system::error_code(errno, boost::system::system_category())
                            : boost::system::error_code(boost::asio::ssl::error::stream_truncated);
            if (ec.value() == EAGAIN) {
                return 1;
            }
            return -1;
        default: {
            const unsigned long code = ERR_get_error();
            // OpenSSL 3 reports the peer closing without close_notify as this error rather than as
            // SSL_ERROR_SYSCALL: the same truncated close.
            if (ERR_GET_LIB(code) == ERR_LIB_SSL &&
                ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ec = boost::asio::ssl::error::stream_truncated;
                ERR_clear_error();
                return -1;
            }
            ec = boost::system::error_code(static_cast<int>(code != 0 ? code : 1),
                                           boost::asio::error::get_ssl_category());
            ERR_clear_error();
            return -1;
        }
    }
}

void TlsSocketStream::shutdownSend() {
    if (m_ssl != nullptr && SSL_is_init_finished(m_ssl)) {
        ERR_clear_error();
        SSL_shutdown(m_ssl);
    }
    boost::system::error_code ec;
    m_socket.shutdown(boost::asio::socket_base::shutdown_send, ec);
}

void TlsSocketStream::close() {
    boost::system::error_code ec;
    m_socket.close(ec);
}

}  // namespace ovagent
