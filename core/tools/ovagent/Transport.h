// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The byte streams a session runs over, and the few operations that differ between them.

#include <utility>  // before Asio: its C++20 coroutine header needs std::exchange

#include <boost/asio.hpp>

#include <functional>
#include <utility>

#include "TlsSocketStream.h"

namespace ovagent {

namespace asio = boost::asio;

using TcpStream = asio::ip::tcp::socket;
using TlsStream = TlsSocketStream;
using UnixStream = asio::local::stream_protocol::socket;

// Standard input and output as one stream, for `ovagent --stdio` under ssh.
class StdioStream {
public:
    using executor_type = asio::any_io_executor;

    explicit StdioStream(const executor_type& executor);
    executor_type get_executor() { return m_in.get_executor(); }

    template <class Buffers, class Handler>
    auto async_read_some(const Buffers& buffers, Handler&& handler) {
        return m_in.async_read_some(buffers, std::forward<Handler>(handler));
    }
    template <class Buffers, class Handler>
    auto async_write_some(const Buffers& buffers, Handler&& handler) {
        return m_out.async_write_some(buffers, std::forward<Handler>(handler));
    }
    void shutdownSend();
    void close();

private:
    asio::posix::stream_descriptor m_in;
    asio::posix::stream_descriptor m_out;
};

// Runs the stream's handshake, if it has one (TLS), then `done` on the stream's executor.
using HandshakeHandler = std::function<void(boost::system::error_code)>;
void asyncHandshake(TcpStream& stream, HandshakeHandler done);
void asyncHandshake(TlsStream& stream, HandshakeHandler done);
void asyncHandshake(UnixStream& stream, HandshakeHandler done);
void asyncHandshake(StdioStream& stream, HandshakeHandler done);

// Ends the sending direction, so the peer reads our last reply and then end-of-stream.
void shutdownSend(TcpStream& stream);
inline void shutdownSend(TlsStream& stream) {
    stream.shutdownSend();
}
void shutdownSend(UnixStream& stream);
inline void shutdownSend(StdioStream& stream) {
    stream.shutdownSend();
}

void closeStream(TcpStream& stream);
inline void closeStream(TlsStream& stream) {
    stream.close();
}
void closeStream(UnixStream& stream);
inline void closeStream(StdioStream& stream) {
    stream.close();
}

}  // namespace ovagent
