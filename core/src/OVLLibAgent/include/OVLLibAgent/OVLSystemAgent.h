// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's system interface over an agent connection: its list of realms.
//
// Threads: getRealm blocks the caller until the reply or the time-out (OVL_REQUEST_TIMEOUT_MS);
// it fails at once when called on the library's I/O thread. The system agent holds its access
// provider (the agent) while it exists.

#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"
#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLFunctionalityCore/OVLRealmList.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"

namespace OVL {

class OVLSystemAgent : public OVLRefCounter {
public:
    // eid: the agent's environment id from onConnected. accessProvider: the connected agent.
    OVLSystemAgent(const OVLEID& eid, OVLAccessAgentPrototypePtr accessProvider);
    ~OVLSystemAgent() override;

    // Appends the agent's realms, in the agent's order, to `realms`: each made by the realm parser
    // factory for its type, with the identifier and name the agent reports. 0 on success (the list
    // is unchanged otherwise); -2 on time-out; -1 on any other failure (no agent, not connected,
    // an error reply, an unreadable reply). getError() and OVL::getErrorMessage() say why.
    int getRealm(OVLRealmList& realms);

    const OVLEID& getEID() const noexcept { return m_eid; }
    const std::string& getError() const noexcept { return m_error; }

private:
    OVLEID m_eid;
    OVLAccessAgentPrototypePtr m_agent;
    std::string m_error;
};

using OVLSystemAgentPtr = boost::intrusive_ptr<OVLSystemAgent>;

}  // namespace OVL
