// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Target "system", interface "system": getRealms, getHostInfo, echo (login is the dispatcher's).

#include <string>

#include "AgentContext.h"
#include "OVLWire/Request.h"
#include "SessionState.h"

namespace ovagent {

class SystemHandler {
public:
    explicit SystemHandler(AgentContext& context) : m_context(context) {}
    // Appends the reply frame for `request` to `out`.
    void handle(const OVL::Wire::Request& request, const SessionState& state, std::string& out);

private:
    AgentContext& m_context;
};

}  // namespace ovagent
