#include "UnixTransport.h"

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

namespace OVL::Agent {

UnixTransport::UnixTransport(boost::asio::io_context& context, std::string path)
    : m_socket(context), m_path(std::move(path)) {}

void UnixTransport::asyncConnect(ConnectHandler done) {
    m_socket.async_connect(boost::asio::local::stream_protocol::endpoint(m_path),
                           [this, done = std::move(done)](const boost::system::error_code& ec) {
                               if (!ec) {
                                   done({});
                                   return;
                               }
                               const int code = ec == boost::asio::error::operation_aborted
                                                    ? OVLRequestErrorData::kClosed
                                                    : OVLRequestErrorData::kRefused;
                               done({code, "cannot connect to the socket " + m_path + ": " + errorText(ec)});
                           });
}

void UnixTransport::asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) {
    m_socket.async_read_some(buffer, std::move(done));
}

void UnixTransport::asyncWrite(boost::asio::const_buffer buffer, IoHandler done) {
    boost::asio::async_write(m_socket, buffer, std::move(done));
}

void UnixTransport::close() {
    boost::system::error_code ignored;
    m_socket.shutdown(boost::asio::local::stream_protocol::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

std::string UnixTransport::describe() const {
    return "unix " + m_path;
}

int UnixTransport::directWriteSocket() {
    return m_socket.is_open() ? m_socket.native_handle() : -1;
}

}  // namespace OVL::Agent
