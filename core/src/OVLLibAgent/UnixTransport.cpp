// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "UnixTransport.h"

#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "OVLWire/Protocol.h"

namespace OVL::Agent {

namespace {

// The service user's uid, or -1 when the system has no such user.
long long serviceUid() {
    constexpr std::size_t kBufferSize = 4096;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(kBufferSize);
    if (::getpwnam_r(Wire::kServiceUser, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return -1;
    }
    return static_cast<long long>(found->pw_uid);
}

}  // namespace

UnixTransport::UnixTransport(boost::asio::io_context& context, std::vector<std::string> paths)
    : m_socket(context), m_paths(std::move(paths)) {}

bool UnixTransport::trustedPeer(uid_t peer, uid_t self, long long serviceUid) {
    return peer == self || peer == 0 || (serviceUid >= 0 && static_cast<long long>(peer) == serviceUid);
}

std::string UnixTransport::checkPeer() {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(m_socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
        return "cannot tell who listens on the socket " + m_paths[m_current] + ": " +
               std::error_code(errno, std::generic_category()).message();
    }
    const uid_t self = ::geteuid();
    if (trustedPeer(cred.uid, self, serviceUid())) {
        return {};
    }
    return "the socket " + m_paths[m_current] + " belongs to a process of uid " + std::to_string(cred.uid) +
           ", not to this user (uid " + std::to_string(self) + "), root or the user " + Wire::kServiceUser +
           "; nothing was sent to it";
}

void UnixTransport::asyncConnect(ConnectHandler done) {
    connectTo(0, {}, std::move(done));
}

void UnixTransport::connectTo(std::size_t index, std::string failures, ConnectHandler done) {
    m_current = index;
    m_socket.async_connect(boost::asio::local::stream_protocol::endpoint(m_paths[index]),
                           [this, index, failures = std::move(failures),
                            done = std::move(done)](const boost::system::error_code& ec) mutable {
                               if (ec == boost::asio::error::operation_aborted) {
                                   done({OVLRequestErrorData::kClosed,
                                         "connecting to the socket " + m_paths[index] + " was cancelled"});
                                   return;
                               }
                               if (!ec) {
                                   if (std::string why = checkPeer(); !why.empty()) {
                                       close();
                                       done({OVLRequestErrorData::kRefused, why});
                                       return;
                                   }
                                   done({});
                                   return;
                               }
                               failures +=
                                   (failures.empty() ? "cannot connect to the socket " : "; nor to ") +
                                   m_paths[index] + ": " + errorText(ec);
                               if (index + 1 < m_paths.size()) {
                                   boost::system::error_code ignored;
                                   m_socket.close(ignored);
                                   connectTo(index + 1, std::move(failures), std::move(done));
                                   return;
                               }
                               done({OVLRequestErrorData::kRefused, failures});
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
    return "unix " + m_paths[m_current];
}

int UnixTransport::directWriteSocket() {
    return m_socket.is_open() ? m_socket.native_handle() : -1;
}

}  // namespace OVL::Agent
