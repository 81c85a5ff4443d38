// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The library's agent: an OVLAccessAgentPrototype over one AgentSession.

#include <memory>

#include "AgentSession.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"

namespace OVL::Agent {

class AccessAgent : public OVLAccessAgentPrototype {
public:
    AccessAgent(OVLEnvCachePtr envCache, void* opaque);
    ~AccessAgent() override;

    void connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler) override;
    int connect(const OVLConnectivityInfo& info, const OVLConnectionHandlerPrototypePtr& handler) override;
    void disconnect() override;
    OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                          const OVLTaskHandlerPrototypePtr& handler) override;
    OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                          const OVLTaskHandlerPrototypePtr& handler, const void* data,
                          std::size_t length) override;
    OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                          const OVLTaskHandlerPrototypePtr& handler, std::string& id) override;
    int requestSync(const std::string& packet, std::string& reply, std::string& error,
                    int timeoutMs) override;
    bool isConnected() const override;
    OVLEID getEID() const override;
    OVLEnvCachePtr getEnvCache() const override { return m_envCache; }
    void* getOpaque() const override { return m_opaque; }

private:
    int startConnect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler);

    std::shared_ptr<AgentSession> m_session;
    OVLEnvCachePtr m_envCache;
    void* m_opaque;
};

}  // namespace OVL::Agent
