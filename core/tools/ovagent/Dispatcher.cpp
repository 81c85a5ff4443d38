// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Dispatcher.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "AgentLog.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"
#include "PasswordHash.h"

namespace ovagent {

using namespace OVL::Wire;

LoginAttempt::~LoginAttempt() {
    if (!password.empty()) {
        OPENSSL_cleanse(password.data(), password.size());
    }
}

void Dispatcher::appendGreeting(std::string& out) {
    ReplyWriter writer({}, kAgentName, "system", kSystemNamespace);
    pugi::xml_node hello = writer.result("system", "hello");
    ReplyWriter::add(hello, "agent", kAgentName);
    ReplyWriter::add(hello, "version", kAgentVersion);
    ReplyWriter::add(hello, "protocol", std::to_string(kProtocolVersion));
    writer.appendFrame(out);
}

Dispatcher::Outcome Dispatcher::handle(std::span<char> frame, SessionState& state, std::string& out,
                                       LoginAttempt& attempt) {
    const auto config = m_context.config();
    Request request;
    std::string message;
    if (int code = request.parse(frame, ParseLimits{config->limits.maxDepth}, message); code != 0) {
        SESSION_LOG(state.log, AgentLog::warning, "rejected packet: %d %s", code,
                    AgentLog::clip(message, 2 * AgentLog::kMaxClientText).c_str());
        appendErrorFrame(out, request.id(), kAgentName, request.target(), code, message);
        return Outcome::replied;
    }
    const std::string& target = request.target();
    if (target == "system" && request.interfaceName() == "system" && request.operationName() == "login") {
        if (state.loggedIn) {
            appendErrorFrame(out, request.id(), kAgentName, target, kErrConflict, "already logged in");
            return Outcome::replied;
        }
        pugi::xml_node op = request.operationNode();
        attempt.id = request.id();
        attempt.target = target;
        attempt.login = childText(op, "login");
        attempt.domain = childText(op, "domain");
        attempt.realm = childText(op, "realm");
        attempt.password = childText(op, "password");
        return Outcome::login;
    }
    if (!state.loggedIn) {
        appendErrorFrame(out, request.id(), kAgentName, target, kErrNotLoggedIn,
                         "log in first (system/login)");
        return Outcome::replied;
    }
    if (target == "system") {
        m_system.handle(request, state, out);
    } else if (target == "environments") {
        if (m_environments.handle(request, state, out)) {
            return Outcome::store;
        }
    } else if (target == "performance") {
        if (m_performance.handle(request, out)) {
            return Outcome::sample;
        }
    } else {
        appendErrorFrame(out, request.id(), kAgentName, target, kErrUnknownTarget,
                         "unknown target '" + target + "'");
    }
    return Outcome::replied;
}

namespace {

// A hash of the configured users' highest cost, to check an unknown login against.
std::string unknownUserHash(const AgentConfig& config) {
    int iterations = PasswordHash::kMinIterations;
    for (const UserConfig& user : config.users) {
        iterations = std::max(iterations, PasswordHash::iterationsOf(user.passwordHash));
    }
    static std::mutex mutex;
    static std::map<int, std::string> hashes;  // guarded by mutex; one per cost configured so far
    std::lock_guard<std::mutex> lock(mutex);
    std::string& hash = hashes[iterations];
    if (hash.empty()) {
        hash = PasswordHash::create("", iterations);
    }
    return hash;
}

}  // namespace

Dispatcher::LoginVerdict Dispatcher::verifyLogin(const LoginAttempt& attempt) const {
    // Read before the configuration: a reload that changes the users between the two makes the
    // login not remembered, never remembered under users it was not checked against.
    const unsigned long generation = m_context.verifiedLogins().generation();
    const auto config = m_context.config();
    LoginVerdict verdict = verdictOf(*config, attempt, false);
    if (verdict.accepted) {
        m_context.verifiedLogins().remember(attempt.login, attempt.domain, attempt.password, generation);
    }
    return verdict;
}

std::optional<Dispatcher::LoginVerdict> Dispatcher::verifyRemembered(const LoginAttempt& attempt) const {
    if (!m_context.verifiedLogins().contains(attempt.login, attempt.domain, attempt.password)) {
        return std::nullopt;
    }
    return verdictOf(*m_context.config(), attempt, true);
}

Dispatcher::LoginVerdict Dispatcher::verdictOf(const AgentConfig& config, const LoginAttempt& attempt,
                                               bool passwordKnown) const {
    LoginVerdict verdict;
    // The realm is named by its id text; its name is accepted too ("System" for the system realm).
    const RealmConfig* realm = nullptr;
    if (OVL::OVLGUIDBase id; id.fromString(attempt.realm.c_str()) == 0) {
        realm = config.findRealm(id);
    } else {
        for (const RealmConfig& r : config.realms) {
            if (r.name == attempt.realm) {
                realm = &r;
            }
        }
    }
    const UserConfig* user = config.findUser(attempt.login, attempt.domain);
    // Hash even for an unknown user, and as costly as for the configured ones, so that timing does
    // not tell which logins exist.
    const bool passwordOk =
        passwordKnown || PasswordHash::verify(attempt.password,
                                              user != nullptr ? user->passwordHash : unknownUserHash(config));
    if (user == nullptr || !passwordOk || realm == nullptr) {
        return verdict;
    }
    for (const OVL::OVLGUIDBase& allowed : user->realms) {
        if (allowed == realm->id) {
            verdict.accepted = true;
            verdict.realm = realm->id;
        }
    }
    return verdict;
}

void Dispatcher::finishLogin(const LoginAttempt& attempt, const LoginVerdict& verdict, SessionState& state,
                             std::string& out) {
    if (!verdict.accepted) {
        SESSION_LOG(state.log, AgentLog::warning, "login failed for '%s' domain '%s' realm '%s'",
                    AgentLog::clip(attempt.login).c_str(), AgentLog::clip(attempt.domain).c_str(),
                    AgentLog::clip(attempt.realm).c_str());
        appendErrorFrame(out, attempt.id, kAgentName, attempt.target, kErrLoginFailed,
                         "login failed: wrong login, domain, realm or password");
        return;
    }
    const auto config = m_context.config();
    state.loggedIn = true;
    state.login = attempt.login;
    state.domain = attempt.domain;
    state.realm = verdict.realm;
    const RealmConfig* realm = config->findRealm(verdict.realm);
    SESSION_LOG(state.log, AgentLog::info, "'%s' domain '%s' logged in to realm '%s'", attempt.login.c_str(),
                attempt.domain.c_str(), realm != nullptr ? realm->name.c_str() : "?");
    ReplyWriter writer(attempt.id, kAgentName, attempt.target, kSystemNamespace);
    pugi::xml_node result = writer.result("system", "loginResult");
    ReplyWriter::add(result, "eid", m_context.environments().agentId().toString());
    ReplyWriter::add(result, "realm", verdict.realm.toString());
    if (realm != nullptr) {
        ReplyWriter::add(result, "realmName", realm->name);
    }
    writer.appendFrame(out);
}

}  // namespace ovagent
