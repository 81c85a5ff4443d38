// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's environments and its own environment id, kept in the state file state.xml.
// Every change rewrites the file atomically (OVL::replaceFileAtomically), so a crash at any moment
// leaves either the old or the new complete file; open() removes the temporary files such a crash
// leaves behind.
// Thread-safe: all members lock one mutex; a change is visible only once it is on disk.
//
// Several processes may share one state file (the daemon and the --stdio sessions that ssh starts
// next to it). They take a lock on `<state file>.lock` (flock: shared to read, exclusive to
// change); a change reads the file again under the exclusive lock and applies itself to what is
// there, so no process overwrites another's change, and a read takes the file again when another
// process replaced it since.

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

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
    // full: at the caller's maximum number of environments; tooLarge: the change would make the
    // stored state larger than maxStateSize().
    enum class Result { ok, notFound, conflict, full, tooLarge, ioError };

    // `path`: the state file. Nothing is read until open().
    explicit EnvironmentStore(std::string path);
    ~EnvironmentStore();
    EnvironmentStore(const EnvironmentStore&) = delete;
    EnvironmentStore& operator=(const EnvironmentStore&) = delete;

    // Loads the state file. When it does not exist, starts from `seeds` with a new agent id and
    // writes the file. False with `error` set when the file is unreadable, is not a valid state file
    // (two environments with one id or name, a revision that is not a whole number from 1...) or
    // cannot be created.
    bool open(const std::vector<EnvironmentSeed>& seeds, std::string& error);

    OVL::OVLGUIDBase agentId() const;
    std::vector<Environment> list();
    std::optional<Environment> get(const OVL::OVLGUIDBase& id);

    // `env.id` nil: a new id is assigned. Names and ids are unique (conflict otherwise).
    // On success `env` holds the stored environment.
    Result create(Environment& env, std::size_t maxEnvironments);
    // Replaces the parts given; `expectedRevision` (if set) must match the stored one.
    Result change(const OVL::OVLGUIDBase& id, const std::optional<std::string>& name,
                  const std::optional<ConfigFields>& config, const std::optional<ConfigFields>& altConfig,
                  std::optional<std::uint64_t> expectedRevision, Environment& out);
    Result destroy(const OVL::OVLGUIDBase& id);

    const std::string& path() const { return m_path; }

    // Bound of the stored state: the sum of stateSize() over the environments. A create or change
    // that would pass it, and grow the state, is refused with tooLarge (a state over the bound,
    // loaded from disk, may still shrink). Thread-safe; applies from the next change.
    void setMaxStateSize(std::size_t bytes) { m_maxStateSize.store(bytes, std::memory_order_relaxed); }
    std::size_t maxStateSize() const { return m_maxStateSize.load(std::memory_order_relaxed); }
    // What one environment counts towards the bound: its name, each configuration field's name and
    // text, and a fixed 64 bytes per environment and per field for what the file adds around them.
    static std::size_t stateSize(const Environment& env);

private:
    class FileLock;
    // The identity of the state file as this store last read or wrote it: another process's
    // change replaces the file (rename), which changes it.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileStamp&) const;
    };

    // The callers hold m_mutex and the file lock.
    bool save(const std::vector<Environment>& envs, std::string& error);
    bool load(std::string& error);
    static bool parseState(const pugi::xml_document& doc, OVL::OVLGUIDBase& agentId,
                           std::vector<Environment>& envs, std::string& error);
    // Under the shared lock, reads the file again when it is not the one this store knows; on
    // failure logs and keeps what is in memory.
    void refreshForRead();
    // Reads the file again before a change (a file removed from under the store counts as read:
    // the change writes it again); logs and returns false when that fails.
    bool reloadForChange();
    bool stampOf(FileStamp& stamp) const;
    // The temporary files that a writer killed half-way left; called under the exclusive lock.
    void removeStaleTemporaries();
    // Checks a change's result against maxStateSize().
    bool fits(const std::vector<Environment>& next) const;
    // Replaces m_envs and gives the heap's free memory back to the system when much was freed.
    void replaceEnvironments(std::vector<Environment> next);

    const std::string m_path;
    int m_lockFd = -1;  // `<path>.lock`; -1 when it cannot be opened (then nothing is locked)
    mutable std::mutex m_mutex;
    FileStamp m_stamp;                 // guarded by m_mutex
    OVL::OVLGUIDBase m_agentId;        // guarded by m_mutex
    std::vector<Environment> m_envs;   // guarded by m_mutex
    std::size_t m_stateSize = 0;       // guarded by m_mutex; the sum of stateSize() over m_envs
    std::size_t m_freedSinceTrim = 0;  // guarded by m_mutex; state bytes freed since the last trim
    std::atomic<std::size_t> m_maxStateSize{std::numeric_limits<std::size_t>::max()};
};

}  // namespace ovagent
