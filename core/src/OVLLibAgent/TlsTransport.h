// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// TLS over TCP to the agent ("SSL"). The agent's certificate is accepted when it verifies against
// the bundle named by OVL_CA_FILE (host name checked), or else by trust on first use: its
// fingerprint is remembered per host and port (KnownAgents) and a changed one is refused.

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

#include "Transport.h"

namespace OVL::Agent {

class TlsTransport : public Transport {
public:
    TlsTransport(boost::asio::io_context& context, std::string host, int port);

    void asyncConnect(ConnectHandler done) override;
    void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) override;
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override;
    void close() override;
    std::string describe() const override;
    std::optional<OVLAgentTrust> firstTrust() const override { return m_firstTrust; }

private:
    void handshake(ConnectHandler done);
    OVLRequestErrorData checkPeer();
    // Sends TLS close_notify if the handshake is complete and the socket takes it now.
    void sendCloseNotify();

    std::shared_ptr<boost::asio::ip::tcp::resolver> m_resolver;
    boost::asio::ssl::context m_tls;
    boost::asio::ssl::stream<boost::asio::ip::tcp::socket> m_stream;
    std::string m_host;
    std::optional<OVLAgentTrust> m_firstTrust;  // set by checkPeer when it remembered the certificate
    int m_port;
    bool m_withCa = false;
    bool m_closeNotifySent = false;
    // True while an asyncWrite is under way; shared with its handler, which may run after the
    // transport is gone.
    std::shared_ptr<bool> m_writing = std::make_shared<bool>(false);
};

}  // namespace OVL::Agent
