#pragma once
// What all sessions of one agent share: the current configuration (replaced on reload), the
// environment store and the connection count. Thread-safe.

#include <atomic>
#include <memory>
#include <mutex>

#include "AgentConfig.h"
#include "EnvironmentStore.h"

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
    void setConfig(std::shared_ptr<const AgentConfig> config) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_environments.setMaxStateSize(config->limits.maxStateSize);
        m_config = std::move(config);
    }
    EnvironmentStore& environments() { return m_environments; }
    std::atomic<int>& connections() { return m_connections; }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const AgentConfig> m_config;  // guarded by m_mutex
    EnvironmentStore& m_environments;
    std::atomic<int> m_connections{0};
};

}  // namespace ovagent
