// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// What all sessions of one agent share: the current configuration (replaced on reload), the
// environment store, the connection count and the logins verified recently. Thread-safe.

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include "AgentConfig.h"
#include "EnvironmentStore.h"
#include "LoginGate.h"

namespace ovagent {

inline constexpr const char* kAgentName = "ovagent";
inline constexpr const char* kAgentVersion = "0.1.0";

class AgentContext {
public:
    AgentContext(std::shared_ptr<const AgentConfig> config, EnvironmentStore& environments)
        : m_config(std::move(config)), m_environments(environments) {
        m_environments.setMaxStateSize(m_config->limits.maxStateSize);
    }
    AgentContext(const AgentContext&) = delete;
    AgentContext& operator=(const AgentContext&) = delete;

    // A snapshot; sessions keep using it for one request even if a reload happens meanwhile.
    std::shared_ptr<const AgentConfig> config() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_config;
    }
    // A change of the users (a login, password or realm added, changed or removed) forgets the
    // logins verified so far.
    void setConfig(std::shared_ptr<const AgentConfig> config) {
        bool usersChanged = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_environments.setMaxStateSize(config->limits.maxStateSize);
            usersChanged = !sameUsers(*m_config, *config);
            m_config = std::move(config);
        }
        if (usersChanged) {
            m_verified.forget();
        }
    }
    EnvironmentStore& environments() { return m_environments; }
    VerifiedLogins& verifiedLogins() { return m_verified; }
    std::atomic<int>& connections() { return m_connections; }

private:
    static bool sameUsers(const AgentConfig& a, const AgentConfig& b) {
        return std::equal(a.users.begin(), a.users.end(), b.users.begin(), b.users.end(),
                          [](const UserConfig& x, const UserConfig& y) {
                              return x.login == y.login && x.domain == y.domain &&
                                     x.passwordHash == y.passwordHash && x.realms == y.realms;
                          });
    }

    mutable std::mutex m_mutex;
    std::shared_ptr<const AgentConfig> m_config;  // guarded by m_mutex
    EnvironmentStore& m_environments;
    std::atomic<int> m_connections{0};
    VerifiedLogins m_verified;
};

}  // namespace ovagent
