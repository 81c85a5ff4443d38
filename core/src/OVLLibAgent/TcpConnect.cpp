// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TcpConnect.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/error.hpp>

namespace OVL::Agent {

void asyncConnectTcp(const std::shared_ptr<boost::asio::ip::tcp::resolver>& resolver,
                     boost::asio::ip::tcp::socket& socket, const std::string& host, int port,
                     Transport::ConnectHandler done) {
    const std::string where = host + ":" + std::to_string(port);
    resolver->async_resolve(
        host, std::to_string(port),
        [resolver, &socket, where, done = std::move(done)](
            const boost::system::error_code& ec,
            const boost::asio::ip::tcp::resolver::results_type& results) {
            if (ec == boost::asio::error::operation_aborted) {
                done({OVLRequestErrorData::kClosed, "connection to " + where + " cancelled"});
                return;
            }
            if (ec) {
                done({OVLRequestErrorData::kUnknownHost,
                      "unknown host '" + where.substr(0, where.rfind(':')) + "': " + errorText(ec)});
                return;
            }
            boost::asio::async_connect(
                socket, results,
                [&socket, where, done](const boost::system::error_code& ec2,
                                       const boost::asio::ip::tcp::endpoint&) {
                    if (ec2) {
                        const int code = ec2 == boost::asio::error::operation_aborted
                                             ? OVLRequestErrorData::kClosed
                                             : OVLRequestErrorData::kRefused;
                        done({code, "cannot connect to " + where + ": " + errorText(ec2)});
                        return;
                    }
                    boost::system::error_code ignored;
                    socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
                    done({});
                });
        });
}

}  // namespace OVL::Agent
