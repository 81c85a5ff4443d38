// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SshTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "OVLCommon/Errors.h"

extern char** environ;

namespace OVL::Agent {

namespace {

std::vector<std::string> splitBlanks(const char* text) {
    std::vector<std::string> out;
    if (text == nullptr) {
        return out;
    }
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        out.push_back(word);
    }
    return out;
}

std::string envOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

SshTransport::SshTransport(boost::asio::io_context& context, std::string host, int port)
    : m_context(context),
      m_in(context),
      m_out(context),
      m_err(context),
      m_host(std::move(host)),
      m_port(port) {}

SshTransport::~SshTransport() {
    close();
}

void SshTransport::asyncConnect(ConnectHandler done) {
    const std::string program = envOr("OVL_SSH_PROGRAM", "ssh");
    std::vector<std::string> args = {program, "-T", "-o", "BatchMode=yes"};
    for (auto& option : splitBlanks(std::getenv("OVL_SSH_OPTIONS"))) {
        args.push_back(option);
    }
    if (m_port > 0) {
        args.emplace_back("-p");
        args.push_back(std::to_string(m_port));
    }
    args.push_back(m_host);
    for (auto& word : splitBlanks(envOr("OVL_SSH_COMMAND", "ovagent --stdio").c_str())) {
        args.push_back(word);
    }

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        const int saved = errno;
        boost::asio::post(m_context, [done, saved] {
            done({OVLRequestErrorData::kFailed, "cannot create pipes for ssh: " + formatWin32Error(saved)});
        });
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawnp(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        boost::asio::post(m_context, [done, rc, program] {
            done({OVLRequestErrorData::kTransportMissing,
                  "cannot run the ssh client '" + program + "': " + formatWin32Error(rc)});
        });
        return;
    }
    m_in.assign(in[1]);
    m_out.assign(out[0]);
    m_err.assign(err[0]);
    readErrors();
    boost::asio::post(m_context, [done] { done({}); });
}

void SshTransport::readErrors() {
    m_err.async_read_some(boost::asio::buffer(m_errChunk),
                          [this](const boost::system::error_code& ec, std::size_t n) {
                              if (ec) {
                                  return;
                              }
                              if (m_errors.size() < 4096) {
                                  m_errors.append(m_errChunk, std::min(n, 4096 - m_errors.size()));
                              }
                              readErrors();
                          });
}

void SshTransport::asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) {
    m_out.async_read_some(buffer, std::move(done));
}

void SshTransport::asyncWrite(boost::asio::const_buffer buffer, IoHandler done) {
    boost::asio::async_write(m_in, buffer, std::move(done));
}

void SshTransport::close() {
    boost::system::error_code ignored;
    m_in.close(ignored);
    m_out.close(ignored);
    m_err.close(ignored);
    reap();
}

void SshTransport::reap() {
    if (m_pid <= 0) {
        return;
    }
    // ssh ends by itself when its input closes; give it a moment, then insist.
    int status = 0;
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        if (i == 10) {
            ::kill(m_pid, SIGTERM);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(i < 10 ? 1 : 10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::string SshTransport::describe() const {
    return "ssh " + m_host + (m_port > 0 ? ":" + std::to_string(m_port) : std::string());
}

std::string SshTransport::diagnostics() {
    // The messages of a failing ssh may still be on their way; collect them for a short while.
    if (m_err.is_open()) {
        const int fd = m_err.native_handle();
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 500) <= 0) {
                break;
            }
            char chunk[512];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            if (m_errors.size() < 4096) {
                m_errors.append(chunk,
                                std::min<std::size_t>(static_cast<std::size_t>(n), 4096 - m_errors.size()));
            }
        }
    }
    std::string text = m_errors;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace OVL::Agent
