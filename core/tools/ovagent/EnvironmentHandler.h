// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Target "environments", interface "environments": list, get, create, change, destroy.
//
// The store's operations wait for its mutex and file lock, and a change for its fsyncs, so they
// do not run on the network threads: handle() checks the request and copies what the operation
// needs; the caller then runs finishPending() on a thread of its choice, which calls the store and
// appends the reply.
// One per session; used by one thread at a time.

#include <cstdint>
#include <optional>
#include <string>

#include "AgentContext.h"
#include "OVLWire/Request.h"
#include "SessionState.h"

namespace ovagent {

class EnvironmentHandler {
public:
    explicit EnvironmentHandler(AgentContext& context) : m_context(context) {}
    // Appends the reply frame for a request the handler refuses (unknown operation, bad argument)
    // to `out` and returns false; or keeps the operation and returns true: finishPending() then
    // runs it.
    bool handle(const OVL::Wire::Request& request, const SessionState& state, std::string& out);
    // Runs the kept operation against the store and appends its reply to `out`. May block on the
    // disk and on other processes' locks of the state file.
    void finishPending(std::string& out);

private:
    enum class Operation { list, get, create, change, destroy };
    struct Pending {
        Operation operation = Operation::list;
        OVL::Wire::PacketId requestId;
        std::string target;
        OVL::OVLGUIDBase id;
        Environment created;  // create: the new environment
        std::optional<std::string> name;
        std::optional<ConfigFields> config;
        std::optional<ConfigFields> altConfig;
        std::optional<std::uint64_t> revision;
    };

    AgentContext& m_context;
    Pending m_pending;
};

}  // namespace ovagent
