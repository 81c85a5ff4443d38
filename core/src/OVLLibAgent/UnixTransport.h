// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A Unix-domain stream socket to the agent ("NamedPipe"). Tries the given socket paths in turn
// until one connects, and accepts a connected socket only when its listener runs as the user
// itself, root or the service's user (SO_PEERCRED): a socket that another local user made at the
// path gets nothing, the login and its password least of all.

#include <sys/types.h>

#include <string>
#include <vector>

#include <boost/asio/local/stream_protocol.hpp>

#include "Transport.h"

namespace OVL::Agent {

class UnixTransport : public Transport {
public:
    UnixTransport(boost::asio::io_context& context, std::vector<std::string> paths);

    void asyncConnect(ConnectHandler done) override;
    void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) override;
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override;
    void close() override;
    std::string describe() const override;
    int directWriteSocket() override;

    // Whether a listener running as `peer` may have what this process (running as `self`) sends:
    // `self`, root or `serviceUid` (the service user's uid; -1 when there is no such user).
    static bool trustedPeer(uid_t peer, uid_t self, long long serviceUid);

private:
    void connectTo(std::size_t index, std::string failures, ConnectHandler done);
    // Empty when the connected socket's listener may be trusted, else why not.
    std::string checkPeer();

    boost::asio::local::stream_protocol::socket m_socket;
    std::vector<std::string> m_paths;
    std::size_t m_current = 0;  // the path tried or connected last
};

}  // namespace OVL::Agent
