#pragma once
// The agent's environments and its own environment id, kept in the state file state.xml.
// Every change rewrites the file atomically (temporary file, fsync, rename, fsync of the directory),
// so a crash at any moment leaves either the old or the new complete file.
// Thread-safe: all members lock one mutex; a change is visible only once it is on disk.
//
// Several processes may share one state file (the daemon and the --stdio sessions that ssh starts
// next to it). They take a lock on `<state file>.lock` (flock: shared to read, exclusive to
// change); a change reads the file again under the exclusive lock and applies itself to what is
// there, so no process overwrites another's change, and a read takes the file again when another
// process replaced it since.

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
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
    ~EnvironmentStore();
    EnvironmentStore(const EnvironmentStore&) = delete;
    EnvironmentStore& operator=(const EnvironmentStore&) = delete;

    // Loads the state file. When it does not exist, starts from `seeds` with a new agent id and
    // writes the file. False with `error` set when the file is unreadable or cannot be created.
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
    // Under the shared lock, reads the file again when it is not the one this store knows; on
    // failure logs and keeps what is in memory.
    void refreshForRead();
    // Reads the file again before a change (a file removed from under the store counts as read:
    // the change writes it again); logs and returns false when that fails.
    bool reloadForChange();
    bool stampOf(FileStamp& stamp) const;

    const std::string m_path;
    int m_lockFd = -1;  // `<path>.lock`; -1 when it cannot be opened (then nothing is locked)
    mutable std::mutex m_mutex;
    FileStamp m_stamp;                // guarded by m_mutex
    OVL::OVLGUIDBase m_agentId;       // guarded by m_mutex
    std::vector<Environment> m_envs;  // guarded by m_mutex
};

}  // namespace ovagent
