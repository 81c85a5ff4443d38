// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A forked child process that runs a function and talks to the test through two pipes: each side
// can send one-byte signals and wait for the other's. The test process must have no other threads
// when it forks.

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cstdlib>
#include <functional>

namespace ferrik_test {

// The child's ends of the pipes.
struct ParentLink {
    int fromParent;
    int toParent;

    void signal(char c = 'x') const {
        if (::write(toParent, &c, 1) != 1) {
            std::_Exit(90);
        }
    }
    char wait() const {
        char c = 0;
        if (::read(fromParent, &c, 1) != 1) {
            std::_Exit(91);
        }
        return c;
    }
};

class ChildProcess {
public:
    // Runs body(link) in a new process; its result becomes the exit status.
    explicit ChildProcess(const std::function<int(const ParentLink&)>& body) {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) {
            std::abort();
        }
        m_pid = ::fork();
        if (m_pid < 0) {
            std::abort();
        }
        if (m_pid == 0) {
            ::close(down[1]);
            ::close(up[0]);
            std::_Exit(body(ParentLink{down[0], up[1]}));
        }
        ::close(down[0]);
        ::close(up[1]);
        m_toChild = down[1];
        m_fromChild = up[0];
    }
    ~ChildProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            join();
        }
        ::close(m_toChild);
        ::close(m_fromChild);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void signal(char c = 'x') {
        if (::write(m_toChild, &c, 1) != 1) {
            std::abort();
        }
    }
    // True when the child signalled within ms milliseconds.
    bool waitFor(int ms, char* received = nullptr) {
        pollfd p{m_fromChild, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) {
            return false;
        }
        char c = 0;
        if (::read(m_fromChild, &c, 1) != 1) {
            return false;
        }
        if (received) {
            *received = c;
        }
        return true;
    }
    void kill() { ::kill(m_pid, SIGKILL); }
    // The child's exit status, or 128 + signal number.
    int join() {
        if (m_pid <= 0) {
            return m_status;
        }
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0) {
        }
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    int m_status = -1;
};

}  // namespace ferrik_test
