// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Transport.h"

#include <fcntl.h>
#include <unistd.h>

namespace ovagent {

namespace {

int duplicate(int fd) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return copy >= 0 ? copy : fd;
}

template <class Stream>
void noHandshake(Stream& stream, HandshakeHandler done) {
    asio::post(stream.get_executor(), [done = std::move(done)] { done({}); });
}

}  // namespace

// Duplicates of 0 and 1, so that closing the stream does not free the numbers 0 and 1 for reuse.
StdioStream::StdioStream(const executor_type& executor)
    : m_in(executor, duplicate(STDIN_FILENO)), m_out(executor, duplicate(STDOUT_FILENO)) {}

void StdioStream::shutdownSend() {
    boost::system::error_code ec;
    m_out.close(ec);
}

void StdioStream::close() {
    boost::system::error_code ec;
    m_in.close(ec);
    m_out.close(ec);
}

void asyncHandshake(TcpStream& stream, HandshakeHandler done) {
    noHandshake(stream, std::move(done));
}

void asyncHandshake(TlsStream& stream, HandshakeHandler done) {
    stream.async_handshake(std::move(done));
}

void asyncHandshake(UnixStream& stream, HandshakeHandler done) {
    noHandshake(stream, std::move(done));
}

void asyncHandshake(StdioStream& stream, HandshakeHandler done) {
    noHandshake(stream, std::move(done));
}

void shutdownSend(TcpStream& stream) {
    boost::system::error_code ec;
    stream.shutdown(asio::socket_base::shutdown_send, ec);
}

void shutdownSend(UnixStream& stream) {
    boost::system::error_code ec;
    stream.shutdown(asio::socket_base::shutdown_send, ec);
}

void closeStream(TcpStream& stream) {
    boost::system::error_code ec;
    stream.close(ec);
}

void closeStream(UnixStream& stream) {
    boost::system::error_code ec;
    stream.close(ec);
}

}  // namespace ovagent
