// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TcpTransport.h"

#include <boost/asio/write.hpp>

#include "TcpConnect.h"

namespace OVL::Agent {

TcpTransport::TcpTransport(boost::asio::io_context& context, std::string host, int port)
    : m_resolver(std::make_shared<boost::asio::ip::tcp::resolver>(context)),
      m_socket(context),
      m_host(std::move(host)),
      m_port(port) {}

void TcpTransport::asyncConnect(ConnectHandler done) {
    asyncConnectTcp(m_resolver, m_socket, m_host, m_port, std::move(done));
}

void TcpTransport::asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) {
    m_socket.async_read_some(buffer, std::move(done));
}

void TcpTransport::asyncWrite(boost::asio::const_buffer buffer, IoHandler done) {
    boost::asio::async_write(m_socket, buffer, std::move(done));
}

void TcpTransport::close() {
    m_resolver->cancel();
    boost::system::error_code ignored;
    m_socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

std::string TcpTransport::describe() const {
    return "tcp " + m_host + ":" + std::to_string(m_port);
}

int TcpTransport::directWriteSocket() {
    return m_socket.is_open() ? m_socket.native_handle() : -1;
}

}  // namespace OVL::Agent
