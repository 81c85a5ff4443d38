// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Resolves a host name and connects a TCP socket to the first address that accepts, for the TCP
// and TLS transports. TCP_NODELAY is set on success, since requests are small and interactive.

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>

#include "Transport.h"

namespace OVL::Agent {

void asyncConnectTcp(const std::shared_ptr<boost::asio::ip::tcp::resolver>& resolver,
                     boost::asio::ip::tcp::socket& socket, const std::string& host, int port,
                     Transport::ConnectHandler done);

}  // namespace OVL::Agent
