#pragma once
// The agent's environments and its own environment id, kept in the state file state.xml.
// Every change rewrites the file atomically (temporary file, fsync, rename, fsync of the directory),
// so a crash at any moment leaves either the old or the new complete file.
// Thread-safe: all members lock one mutex; a change is visible only once it is on disk.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AgentConfig.h"
#include "OVLCore/OVLGUIDBase.h"

namespace ovagent {

struct Environment {
    OVL::OVLGUIDBase id;
    std::string name;
    ConfigFields config;
    ConfigFields altConfig;
    std::int64_t created = 0;  // seconds since the epoch
    std::int64_t changed = 0;
    std::uint64_t revision = 1;
};

class EnvironmentStore {
public:
    enum class Result { ok, notFound, conflict, full, ioError };

    // `path`: the state file. Nothing is read until open().
    explicit EnvironmentStore(std::string path);
    EnvironmentStore(const EnvironmentStore&) = delete;
    EnvironmentStore& operator=(const EnvironmentStore&) = delete;

    // Loads the state file. When it does not exist, starts from `seeds` with a new agent id and
    // writes the file. False with `error` set when the file is unreadable or cannot be created.
    bool open(const std::vector<EnvironmentSeed>& seeds, std::string& error);

    OVL::OVLGUIDBase agentId() const;
    std::vector<Environment> list() const;
    std::optional<Environment> get(const OVL::OVLGUIDBase& id) const;

    // `env.id` nil: a new id is assigned. Names and ids are unique (conflict otherwise).
    // On success `env` holds the stored environment.
    Result create(Environment& env, std::size_t maxEnvironments);
    // Replaces the parts given; `expectedRevision` (if set) must match the stored one.
    Result change(const OVL::OVLGUIDBase& id, const std::optional<std::string>& name,
                  const std::optional<ConfigFields>& config, const std::optional<ConfigFields>& altConfig,
                  std::optional<std::uint64_t> expectedRevision, Environment& out);
    Result destroy(const OVL::OVLGUIDBase& id);

    const std::string& path() const { return m_path; }

private:
    bool save(const std::vector<Environment>& envs, std::string& error) const;  // caller holds m_mutex
    bool load(std::string& error);

    const std::string m_path;
    mutable std::mutex m_mutex;
    OVL::OVLGUIDBase m_agentId;       // guarded by m_mutex
    std::vector<Environment> m_envs;  // guarded by m_mutex
};

}  // namespace ovagent
