// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Transport.h"

#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLWire/Protocol.h"
#include "SshTransport.h"
#include "TcpTransport.h"
#include "TlsTransport.h"
#include "UnixTransport.h"

namespace OVL::Agent {

Transport::~Transport() = default;

std::string errorText(const boost::system::error_code& ec) {
    return ec.message();
}

std::unique_ptr<Transport> Transport::create(boost::asio::io_context& context, const OVLConnectionInfo& info,
                                             OVLRequestErrorData& error) {
    const std::string& type = info.getTypeName();
    const int port = info.getPort();
    if (port < 0 || port > 65535) {
        error = {OVLRequestErrorData::kInvalidArgument, "invalid port " + std::to_string(port)};
        return nullptr;
    }
    const std::string host = info.getHost().empty() ? std::string("localhost") : info.getHost();
    if (type == "TCP") {
        return std::make_unique<TcpTransport>(context, host, port == 0 ? Wire::kDefaultTcpPort : port);
    }
    if (type == "SSL") {
        return std::make_unique<TlsTransport>(context, host, port == 0 ? Wire::kDefaultTlsPort : port);
    }
    if (type == "NamedPipe") {
        // A host that is not a path: the user's own agent, else the service.
        const std::string& path = info.getHost();
        return std::make_unique<UnixTransport>(context, path.find('/') != std::string::npos
                                                            ? std::vector<std::string>{path}
                                                            : Wire::clientSocketPaths());
    }
    if (type == "SSH1") {
        return std::make_unique<SshTransport>(context, host, port);
    }
    error = {OVLRequestErrorData::kInvalidArgument,
             "unknown connection type '" + type + "' (expected SSH1, NamedPipe, TCP or SSL)"};
    return nullptr;
}

}  // namespace OVL::Agent
