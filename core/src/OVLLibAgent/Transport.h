// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A byte stream to an agent, behind one interface for every connection type. Used on the I/O
// thread only. close() cancels the operations under way; their handlers still run (with an error).

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "OVLLibCore/OVLConnectionHandlerPrototype.h"
#include "OVLLibCore/OVLRequestErrorData.h"

namespace OVL {
class OVLConnectionInfo;
}

namespace OVL::Agent {

class Transport {
public:
    using IoHandler = std::function<void(const boost::system::error_code&, std::size_t)>;
    // Empty error (code kNone) on success.
    using ConnectHandler = std::function<void(const OVLRequestErrorData&)>;

    virtual ~Transport();

    virtual void asyncConnect(ConnectHandler done) = 0;
    virtual void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) = 0;
    // Writes the whole buffer.
    virtual void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) = 0;
    virtual void close() = 0;
    // "tcp 127.0.0.1:4433" and the like, for messages.
    virtual std::string describe() const = 0;
    // What the transport learnt about a failure beyond the error code (an ssh client's messages).
    virtual std::string diagnostics() { return {}; }
    // After a successful connect: the agent whose certificate this connection trusted on first use
    // (TLS only), or nothing.
    virtual std::optional<OVLAgentTrust> firstTrust() const { return std::nullopt; }
    // A connected socket that other threads may write to with a non-blocking send() while no
    // asyncWrite is under way, or -1 when writes must stay on the I/O thread (TLS keeps its state in
    // one SSL object; the ssh pipe is not a socket). Valid until close().
    virtual int directWriteSocket() { return -1; }

    // The transport for the info's type name; null with `error` set for an unknown type or port.
    static std::unique_ptr<Transport> create(boost::asio::io_context& context, const OVLConnectionInfo& info,
                                             OVLRequestErrorData& error);
};

// A readable text of a system error code ("Connection refused").
std::string errorText(const boost::system::error_code& ec);

}  // namespace OVL::Agent
