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

    // 0: the fingerprint is the one remembered for host:port, or none was and it is now stored.
    // -1: a different one is remembered (`error` names both), or the store cannot be read or
    // written (`error` says why).
    static int check(const std::string& host, int port, const std::string& fingerprint, std::string& error);
};

}  // namespace OVL::Agent
