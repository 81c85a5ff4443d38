// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The trust-on-first-use store of agent certificates: one line per agent, "host:port fingerprint",
// the fingerprint being the SHA-256 of the certificate (DER) in colon-separated upper-case hex.
// File: $OVL_KNOWN_AGENTS_FILE, else $XDG_CONFIG_HOME/ovl/known_agents, else
// ~/.config/ovl/known_agents. Thread-safe within the process; lines are appended with O_APPEND so
// that processes sharing the file do not overwrite each other.

#include <string>

namespace OVL::Agent {

class KnownAgents {
public:
    static std::string path();

    enum class Verdict {
        Known,        // the fingerprint is the one remembered for host:port
        Remembered,   // none was remembered: this one is now (a first trust)
        Changed,      // a different one is remembered: `error` names both and how to accept the new one
        Unavailable,  // the store cannot be written: `error` says why
    };
    // Known and Remembered accept the certificate; Changed and Unavailable refuse it.
    static Verdict check(const std::string& host, int port, const std::string& fingerprint,
                         std::string& error);
};

}  // namespace OVL::Agent
