#pragma once
// A Unix-domain stream socket to the agent ("NamedPipe").

#include <string>

#include <boost/asio/local/stream_protocol.hpp>

#include "Transport.h"

namespace OVL::Agent {

class UnixTransport : public Transport {
public:
    UnixTransport(boost::asio::io_context& context, std::string path);

    void asyncConnect(ConnectHandler done) override;
    void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) override;
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override;
    void close() override;
    std::string describe() const override;
    int directWriteSocket() override;

private:
    boost::asio::local::stream_protocol::socket m_socket;
    std::string m_path;
};

}  // namespace OVL::Agent
