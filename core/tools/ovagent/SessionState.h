#pragma once

#include <string>

#include "OVLCore/OVLGUIDBase.h"

namespace ovagent {

// Who is logged in on one connection. Owned by its session.
struct SessionState {
    bool loggedIn = false;
    std::string login;
    std::string domain;
    OVL::OVLGUIDBase realm;
    std::string peer;  // for the log
};

// A login request, copied out of its packet so that it can be verified off the network threads.
// The destructor wipes the password.
struct LoginAttempt {
    std::string id;
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
