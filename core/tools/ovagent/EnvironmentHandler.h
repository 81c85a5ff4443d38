#pragma once
// Target "environments", interface "environments": list, get, create, change, destroy.

#include <string>

#include "AgentContext.h"
#include "OVLWire/Request.h"
#include "SessionState.h"

namespace ovagent {

class EnvironmentHandler {
public:
    explicit EnvironmentHandler(AgentContext& context) : m_context(context) {}
    // Appends the reply frame for `request` to `out`.
    void handle(const OVL::Wire::Request& request, const SessionState& state, std::string& out);

private:
    AgentContext& m_context;
};

}  // namespace ovagent
