// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Plain TCP to the agent.

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>

#include "Transport.h"

namespace OVL::Agent {

class TcpTransport : public Transport {
public:
    TcpTransport(boost::asio::io_context& context, std::string host, int port);

    void asyncConnect(ConnectHandler done) override;
    void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) override;
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override;
    void close() override;
    std::string describe() const override;
    int directWriteSocket() override;

private:
    std::shared_ptr<boost::asio::ip::tcp::resolver> m_resolver;
    boost::asio::ip::tcp::socket m_socket;
    std::string m_host;
    int m_port;
};

}  // namespace OVL::Agent
