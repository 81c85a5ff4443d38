// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Recording handlers for the client library's callbacks, and helpers that connect an agent to a
// real ovagent started by agent_test::AgentProcess.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AgentHarness.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLLibAgent/OVLAccessPointPrototype.h"
#include "OVLLibAgent/OVLSystemAgent.h"
#include "OVLMessage/OVLMessageBody.h"

namespace client_test {

using namespace std::chrono_literals;

// Sets an environment variable for the scope and restores what it was. Tests set variables while
// no client library thread reads them.
// NOLINTBEGIN(concurrency-mt-unsafe)
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old, m_had = true;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_had) {
            ::setenv(m_name, m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};
// NOLINTEND(concurrency-mt-unsafe)

// Waits on a condition over state guarded by one mutex.
class Waitable {
public:
    template <class Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 15s) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, pred);
    }

    mutable std::mutex m_mutex;

protected:
    template <class F>
    void change(F f) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            f();
        }
        m_cv.notify_all();
    }
    std::condition_variable m_cv;
};

class ConnHandler : public OVL::OVLConnectionHandlerPrototype, public Waitable {
public:
    void onError(const OVL::OVLRequestErrorData& err) override { record("error", err); }
    void onConnected(const OVL::eid_t& eid) override {
        change([&] {
            events.emplace_back("connected");
            this->eid = eid;
            threadOk = threadOk && std::this_thread::get_id() != caller;
        });
    }
    void onDisconnected(const OVL::OVLRequestErrorData& err) override { record("disconnected", err); }
    // Kept apart from `events`: a first trust comes before the connection's outcome.
    void onAgentTrusted(const OVL::OVLAgentTrust& trust) override {
        change([&] { trusts.push_back(trust); });
    }
    std::vector<OVL::OVLAgentTrust> trustsNow() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return trusts;
    }

    bool waitEvent(std::chrono::milliseconds timeout = 15s) {
        return waitFor([&] { return !events.empty(); }, timeout);
    }
    std::vector<std::string> eventsNow() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return events;
    }
    OVL::OVLRequestErrorData lastError() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return error;
    }

    std::vector<std::string> events;         // guarded by m_mutex
    OVL::eid_t eid;                          // guarded by m_mutex
    OVL::OVLRequestErrorData error;          // guarded by m_mutex
    std::vector<OVL::OVLAgentTrust> trusts;  // guarded by m_mutex
    std::thread::id caller = std::this_thread::get_id();
    bool threadOk = true;  // guarded by m_mutex: no callback on the creating thread

private:
    void record(const char* what, const OVL::OVLRequestErrorData& err) {
        change([&] {
            events.emplace_back(what);
            error = err;
            threadOk = threadOk && std::this_thread::get_id() != caller;
        });
    }
};

// Behaves like the console's handler: raw flag set, pieces are consumed and recorded; otherwise
// complete replies are recorded.
class TaskHandler : public OVL::OVLTaskHandlerPrototype, public Waitable {
public:
    int onReplyComplete(const OVL::OVLReplyPtr& reply) override {
        std::string scratch;
        char* text = reply->getText(0, scratch, 40000);
        change([&] { replies.emplace_back(text != nullptr ? text : ""); });
        std::free(text);
        return reply->finish();
    }
    void onRequestError(const OVL::OVLRequestErrorData& err) override {
        change([&] { errors.push_back(err.m_message); });
    }
    void onWriteFinished() override {
        change([&] { ++writes; });
    }
    bool onReplyPiece(const char* bytes, std::size_t length, std::size_t& used) override {
        if (isRaw()) {
            used = length;
            change([&] { pieces.emplace_back(bytes, length); });
            return false;
        }
        used = 0;
        return true;
    }

    bool waitReplies(std::size_t n, std::chrono::milliseconds timeout = 15s) {
        return waitFor([&] { return replies.size() >= n; }, timeout);
    }
    std::vector<std::string> repliesNow() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return replies;
    }
    std::vector<std::string> piecesNow() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return pieces;
    }
    std::vector<std::string> errorsNow() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return errors;
    }

    std::vector<std::string> replies;  // guarded by m_mutex
    std::vector<std::string> pieces;   // guarded by m_mutex
    std::vector<std::string> errors;   // guarded by m_mutex
    int writes = 0;                    // guarded by m_mutex
};

using ConnHandlerPtr = boost::intrusive_ptr<ConnHandler>;
using TaskHandlerPtr = boost::intrusive_ptr<TaskHandler>;

// Credentials of the harness's user "tester" in the system realm, given by the id the agent uses.
OVL::OVLAuthName testerAuth(const std::string& password = agent_test::kPassword);
OVL::OVLConnectionInfo tcpInfo(const agent_test::AgentProcess& agent,
                               const std::string& password = agent_test::kPassword);

// An agent connected with `info`; fails the test (and returns null) when it does not connect.
struct Connected {
    OVL::OVLAccessAgentPrototypePtr agent;
    ConnHandlerPtr handler;
    OVL::eid_t eid;
};
Connected connectOrFail(const OVL::OVLConnectionInfo& info);

// The environment id the agent keeps in its state file.
std::string agentEid(const agent_test::AgentProcess& agent);

// The id attribute of a packet's root.
std::string packetId(const std::string& text);

// An echo request of `text` to the system target, and a message body made from packet text.
std::string echoPacket(const std::string& text);
OVL::OVLMessageBodyPtr bodyOf(const std::string& text);

// A test with its own ovagent (the test configuration), started before and stopped after it.
class WithAgent : public ::testing::Test {
protected:
    agent_test::AgentProcess agent{agent_test::testConfig()};
};

// Descriptor and thread counts of this process.
int countFds();
int countThreads();

}  // namespace client_test
