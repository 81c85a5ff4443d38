// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent behind the system's ssh client ("SSH1"): `ssh [options] [-p port] host ovagent --stdio`
// runs as a child process and the protocol goes through its standard input and output. Its standard
// error is kept (the first 4 KiB) for the message when the connection fails.
// Program, options and remote command come from OVL_SSH_PROGRAM, OVL_SSH_OPTIONS and
// OVL_SSH_COMMAND (see OVLAccessAgentPrototype.h). BatchMode is on, so ssh never waits for a
// password that nobody can type.

#include <sys/types.h>

#include <string>

#include <boost/asio/posix/stream_descriptor.hpp>

#include "Transport.h"

namespace OVL::Agent {

class SshTransport : public Transport {
public:
    SshTransport(boost::asio::io_context& context, std::string host, int port);
    ~SshTransport() override;

    void asyncConnect(ConnectHandler done) override;
    void asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) override;
    void asyncWrite(boost::asio::const_buffer buffer, IoHandler done) override;
    void close() override;
    std::string describe() const override;
    std::string diagnostics() override;

private:
    void readErrors();
    void reap();

    boost::asio::io_context& m_context;
    boost::asio::posix::stream_descriptor m_in;   // the child's standard input
    boost::asio::posix::stream_descriptor m_out;  // its standard output
    boost::asio::posix::stream_descriptor m_err;  // its standard error
    char m_errChunk[512];
    std::string m_errors;
    std::string m_host;
    int m_port;
    pid_t m_pid = -1;
};

}  // namespace OVL::Agent
