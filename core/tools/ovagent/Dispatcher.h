// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Turns one request frame into its reply frame(s): parses the packet, enforces the login, and
// hands the request to the handler of its target. Transport-independent; one per session, used
// by one thread at a time. Work that must not run on the session's thread (a password check, an
// environment operation) or that waits (a sample's interval) is left to the caller, named by the
// Outcome; the session answers no further frame until it is finished, so replies keep their order.

#include <optional>
#include <span>
#include <string>

#include "AgentContext.h"
#include "EnvironmentHandler.h"
#include "PerformanceHandler.h"
#include "SessionState.h"
#include "SystemHandler.h"

namespace ovagent {

class Dispatcher {
public:
    enum class Outcome {
        replied,  // reply frames appended to `out`
        login,    // `attempt` holds a login to verify (verifyLogin, then finishLogin)
        sample,   // a performance sample waits: after sampleInterval(), call finishSample
        store,    // an environment operation waits: call finishStore, off the network threads
    };

    explicit Dispatcher(AgentContext& context)
        : m_context(context), m_system(context), m_environments(context) {}

    Outcome handle(std::span<char> frame, SessionState& state, std::string& out, LoginAttempt& attempt);

    struct LoginVerdict {
        bool accepted = false;
        OVL::OVLGUIDBase realm;
    };
    // Checks the attempt against the configured users. CPU-heavy (password hash); thread-safe.
    // A login accepted is remembered (VerifiedLogins).
    LoginVerdict verifyLogin(const LoginAttempt& attempt) const;
    // The verdict on a login verified recently, without the password hash: a user who logged in
    // within VerifiedLogins::kRemembered. Empty when the login is not remembered. Cheap.
    std::optional<LoginVerdict> verifyRemembered(const LoginAttempt& attempt) const;
    // Applies a verdict: on acceptance marks the session logged in and appends the login reply; on
    // refusal appends the login-failed error (the caller then closes the connection).
    void finishLogin(const LoginAttempt& attempt, const LoginVerdict& verdict, SessionState& state,
                     std::string& out);

    std::chrono::milliseconds sampleInterval() const { return m_performance.pendingInterval(); }
    // Appends the reply of the waiting performance sample.
    void finishSample(std::string& out) { m_performance.finishSample(out); }

    // Runs the waiting environment operation and appends its reply. Blocks on the state file, so
    // the caller runs it on a thread of its own; the session must not use the dispatcher meanwhile.
    void finishStore(std::string& out) { m_environments.finishPending(out); }

    // The greeting frame sent on connect.
    static void appendGreeting(std::string& out);

private:
    // The verdict on `attempt` under `config`, its password known right or checked here.
    LoginVerdict verdictOf(const AgentConfig& config, const LoginAttempt& attempt, bool passwordKnown) const;

    AgentContext& m_context;
    SystemHandler m_system;
    EnvironmentHandler m_environments;
    PerformanceHandler m_performance;
};

}  // namespace ovagent
