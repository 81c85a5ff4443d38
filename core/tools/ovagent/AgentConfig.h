// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's configuration, read from its XML file (see docs/agent.md for the format).
// Immutable once loaded; a reload builds a new object. Read as an OVLMessage: errors in the text
// name its line and column.

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "OVLCore/OVLGUIDBase.h"

namespace ovagent {

struct ListenerConfig {
    bool enabled = true;
    std::string address = "127.0.0.1";
    unsigned short port = 0;
};

struct RealmConfig {
    OVL::OVLGUIDBase id;
    std::string name;
    std::string type;
};

struct UserConfig {
    std::string login;
    std::string domain;
    std::string passwordHash;
    std::vector<OVL::OVLGUIDBase> realms;
};

using ConfigFields = std::vector<std::pair<std::string, std::string>>;

struct EnvironmentSeed {
    OVL::OVLGUIDBase id;
    std::string name;
    ConfigFields config;
    ConfigFields altConfig;
};

struct Limits {
    std::size_t maxPacketSize;
    int maxDepth;
    int maxConnections = 1024;
    std::chrono::milliseconds loginTimeout{10000};
    std::chrono::milliseconds idleTimeout{300000};
    std::chrono::milliseconds failedLoginDelay{1000};
    int maxEnvironments = 10000;
    std::size_t maxStateSize = std::size_t(64) << 20;  // EnvironmentStore::stateSize() summed
    Limits();
};

class AgentConfig {
public:
    // Reads the file at `path`. False with a message in `error` when it cannot be read or is invalid;
    // `out` is then unchanged.
    static bool load(const std::string& path, AgentConfig& out, std::string& error);
    // Parses configuration text (the file's content).
    static bool parse(const std::string& text, AgentConfig& out, std::string& error);
    // The demo configuration: loopback only, login "peadmin" with password "5t6y7u" in the system
    // realm, a few realms and environments.
    static AgentConfig demo();

    ListenerConfig tcp;
    ListenerConfig tls;
    bool unixEnabled = true;
    std::string unixPath;  // empty: the protocol's default socket path
    // The socket file's mode (octal attribute "mode"): only the agent's user by default; the
    // packaged service's is 0666, as every request needs a login (docs/agent.md).
    unsigned unixMode = 0600;
    std::string certificateFile;
    std::string keyFile;
    std::string stateDirectory;  // empty: chosen by the command line or the default
    int logLevel = 3;
    std::string logFile;    // empty: ovagent.log in the state directory
    int workerThreads = 0;  // 0: one per processor
    Limits limits;
    std::vector<RealmConfig> realms;
    std::vector<UserConfig> users;
    std::vector<EnvironmentSeed> environments;

    const RealmConfig* findRealm(const OVL::OVLGUIDBase& id) const;
    const UserConfig* findUser(const std::string& login, const std::string& domain) const;
    // Puts the system realm first unless the realms already hold it.
    void addSystemRealm();
};

}  // namespace ovagent
