// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// An access point: the environments of the agent behind an agent connection.
//
//     auto ap = OVL::OVLAccessPointPrototype::createInstance(agent, nullptr);
//     if (ap->initializeSync(OVL::OVLConnectionInfo(), nullptr, 0) == 0)
//         for (const OVL::OVLEnvPtr& env : *ap->getEnvList()) ...
//
// initializeSync asks the agent for its environment list (environments/list) over the agent's
// logged-in connection and keeps it in the environment cache: the one given here, else the
// agent's, else one of its own. An agent's environment has a configuration (getConfig) and a
// second configuration (the agent's altConfig, as getRuntimeConfig).
//
// Threads: initializeSync blocks the caller until the reply or the time-out; it fails at once when
// called on the library's I/O thread. getEnvList may be called on any thread.

#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEnvCache.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"

namespace OVL {

class OVLAccessPointPrototype;
using OVLAccessPointPrototypePtr = boost::intrusive_ptr<OVLAccessPointPrototype>;

class OVLAccessPointPrototype : public OVLRefCounter {
public:
    // accessObject: the agent whose connection is used (null gives an access point whose
    // initializeSync fails with a message). Never null.
    static OVLAccessPointPrototypePtr createInstance(const OVLAccessAgentPrototypePtr& accessObject,
                                                     const OVLEnvCachePtr& envCache);

    OVLAccessPointPrototype(OVLAccessAgentPrototypePtr agent, OVLEnvCachePtr envCache);
    ~OVLAccessPointPrototype() override;

    // Fetches the environment list. `info` is reserved (the agent's connection is used as it is);
    // `requestHandler`, when set, gets onError with the failure; `timeoutMs` bounds the wait (<= 0 or
    // larger than a minute: OVL_REQUEST_TIMEOUT_MS). 0 when the list is in the cache; -2 on
    // time-out; -1 on any other failure. getError() and the thread's error message (OVL::
    // getErrorMessage) say why.
    int initializeSync(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& requestHandler,
                       int timeoutMs);

    // The list of the last successful initializeSync; null before one.
    OVLEnvCache::EnvValuesListPtr getEnvList() const;
    OVLEnvCachePtr getEnvCache() const { return m_cache; }
    // The reason of the last failure; empty after success.
    std::string getError() const;

private:
    int failWith(int code, const std::string& message, const OVLConnectionHandlerPrototypePtr& handler);

    OVLAccessAgentPrototypePtr m_agent;
    OVLEnvCachePtr m_cache;
    bool m_initialized = false;
    std::string m_error;
};

}  // namespace OVL
