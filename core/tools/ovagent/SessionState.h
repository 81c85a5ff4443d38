// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "AgentLog.h"
#include "OVLCore/OVLGUIDBase.h"
#include "OVLWire/Protocol.h"

namespace ovagent {

// Who is logged in on one connection, and its log. Owned by its session.
struct SessionState {
    bool loggedIn = false;
    std::string login;
    std::string domain;
    OVL::OVLGUIDBase realm;
    SessionLog log;  // its peer names the connection ("tcp://127.0.0.1:54942")
};

// A login request, copied out of its packet so that it can be verified off the network threads.
// The destructor wipes the password.
struct LoginAttempt {
    OVL::Wire::PacketId id;
    std::string target;
    std::string login;
    std::string domain;
    std::string realm;
    std::string password;

    LoginAttempt() = default;
    LoginAttempt(const LoginAttempt&) = delete;
    LoginAttempt& operator=(const LoginAttempt&) = delete;
    LoginAttempt(LoginAttempt&&) = default;
    LoginAttempt& operator=(LoginAttempt&&) = default;
    ~LoginAttempt();
};

}  // namespace ovagent
