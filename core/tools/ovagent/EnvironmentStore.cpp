// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "EnvironmentStore.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <set>
#include <system_error>

#include "AgentLog.h"
#include "OVLCommon/AtomicFile.h"
#include "OVLCommon/SysCall.h"

namespace ovagent {

using OVL::OVLGUIDBase;

namespace {

class SinkWriter final : public pugi::xml_writer {
public:
    explicit SinkWriter(OVL::ChunkSink& sink) : m_sink(sink) {}
    void write(const void* data, size_t size) override { m_sink.put(data, size); }

private:
    OVL::ChunkSink& m_sink;
};

void writeFields(pugi::xml_node parent, const char* name, const ConfigFields& fields) {
    pugi::xml_node node = parent.append_child(name);
    for (const auto& [key, value] : fields) {
        node.append_child(key.c_str()).text().set(value.c_str());
    }
}

ConfigFields readFields(pugi::xml_node node) {
    ConfigFields fields;
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element) {
            fields.emplace_back(child.name(), child.child_value());
        }
    }
    return fields;
}

// A whole number in [min, max] written in decimal digits (a leading '-' for negative numbers).
bool parseNumber(const char* text, long long min, long long max, long long& value) {
    if (*text == '\0') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

// Freed blocks stay in the heap's arenas; this much freed at once is given back to the system.
constexpr std::size_t kTrimThreshold = 1 << 20;

}  // namespace

// Holds flock on the store's lock file for one operation; nothing when the store has none.
class EnvironmentStore::FileLock {
public:
    FileLock(int fd, int operation) : m_fd(fd) {
        if (m_fd < 0) {
            return;
        }
        if (OVL::retryOnEintr([&] { return ::flock(m_fd, operation); }) != 0) {
            AGENT_LOG(AgentLog::error, "state file: cannot lock: %s",
                      std::generic_category().message(errno).c_str());
            m_fd = -1;
        }
    }
    ~FileLock() {
        if (m_fd >= 0) {
            ::flock(m_fd, LOCK_UN);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

bool EnvironmentStore::FileStamp::operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
}

EnvironmentStore::EnvironmentStore(std::string path) : m_path(std::move(path)) {
    const std::string lockPath = m_path + ".lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        AGENT_LOG(AgentLog::error,
                  "state file: cannot open %s (%s); changes by other agent processes "
                  "on this state directory may be overwritten",
                  lockPath.c_str(), std::generic_category().message(errno).c_str());
    }
}

EnvironmentStore::~EnvironmentStore() {
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

bool EnvironmentStore::stampOf(FileStamp& stamp) const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
        return false;
    }
    stamp = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return true;
}

void EnvironmentStore::refreshForRead() {
    FileLock fileLock(m_lockFd, LOCK_SH);
    FileStamp now;
    if (stampOf(now) && now == m_stamp) {
        return;
    }
    std::string error;
    if (!load(error)) {
        AGENT_LOG(AgentLog::error, "state file: cannot read it again, answering from memory: %s",
                  error.c_str());
    }
}

bool EnvironmentStore::reloadForChange() {
    std::string error;
    if (load(error)) {
        return true;
    }
    // Removed from under the agent: the change writes it again from what this store holds.
    if (!std::filesystem::exists(m_path)) {
        return true;
    }
    AGENT_LOG(AgentLog::error, "state file: cannot read it again before a change: %s", error.c_str());
    return false;
}

bool EnvironmentStore::open(const std::vector<EnvironmentSeed>& seeds, std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Exclusive: of two processes starting on a new state directory, one creates the file.
    FileLock fileLock(m_lockFd, LOCK_EX);
    removeStaleTemporaries();
    std::error_code ec;
    if (std::filesystem::symlink_status(m_path, ec).type() != std::filesystem::file_type::not_found) {
        return load(error);
    }
    if (m_agentId.generate() != 0) {
        error = "no random bytes for the agent id";
        return false;
    }
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::vector<Environment> envs;
    for (const EnvironmentSeed& seed : seeds) {
        envs.push_back({seed.id, seed.name, seed.config, seed.altConfig, now, now, 1});
    }
    if (!save(envs, error)) {
        return false;
    }
    replaceEnvironments(std::move(envs));
    return true;
}

void EnvironmentStore::removeStaleTemporaries() {
    // Writers create their temporary file only under the exclusive lock that the caller holds, so
    // every one there now is a left-over.
    const std::filesystem::path path(m_path);
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    const std::string prefix = OVL::temporaryPrefix(path.filename().string());
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0 || !it->is_regular_file(ec)) {
            continue;
        }
        if (std::filesystem::remove(it->path(), ec)) {
            AGENT_LOG(AgentLog::warning, "state file: removed %s, left by a write that did not finish",
                      it->path().c_str());
        }
    }
}

std::size_t EnvironmentStore::stateSize(const Environment& env) {
    constexpr std::size_t kOverhead = 64;
    std::size_t size = kOverhead + env.name.size();
    for (const ConfigFields* fields : {&env.config, &env.altConfig}) {
        for (const auto& [key, value] : *fields) {
            size += kOverhead + key.size() + value.size();
        }
    }
    return size;
}

bool EnvironmentStore::fits(const std::vector<Environment>& next) const {
    std::size_t size = 0;
    for (const Environment& env : next) {
        size += stateSize(env);
    }
    return size <= maxStateSize() || size <= m_stateSize;
}

void EnvironmentStore::replaceEnvironments(std::vector<Environment> next) {
    std::size_t size = 0;
    for (const Environment& env : next) {
        size += stateSize(env);
    }
    if (m_stateSize > size) {
        m_freedSinceTrim += m_stateSize - size;
    }
    m_envs = std::move(next);
    m_stateSize = size;
    // The old vector is gone now; malloc_trim returns free pages of every arena, also those that
    // earlier large replies and frames left. Counted over several changes, so that deleting large
    // environments one by one gives the memory back as well.
    if (m_freedSinceTrim >= kTrimThreshold) {
        ::malloc_trim(0);
        m_freedSinceTrim = 0;
    }
}

bool EnvironmentStore::load(std::string& error) {
    // The stamp before the read: a replacement during the read makes the next refresh read again.
    FileStamp stamp;
    struct stat st {};
    if (!stampOf(stamp) || ::stat(m_path.c_str(), &st) != 0) {
        error = m_path + ": " + std::generic_category().message(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = m_path + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file") +
                ", not a state file; move it away and start again";
        return false;
    }
    std::vector<Environment> envs;
    OVLGUIDBase agentId;
    {
        pugi::xml_document doc;
        const pugi::xml_parse_result parsed = doc.load_file(m_path.c_str());
        if (!parsed) {
            error = m_path + ": malformed XML at byte " + std::to_string(parsed.offset) + ": " +
                    parsed.description();
            return false;
        }
        if (!parseState(doc, agentId, envs, error)) {
            error = m_path + ": " + error;
            return false;
        }
    }
    m_agentId = agentId;
    replaceEnvironments(std::move(envs));
    m_stamp = stamp;
    // The document of a large file is freed now.
    if (static_cast<std::size_t>(st.st_size) >= kTrimThreshold) {
        ::malloc_trim(0);
    }
    return true;
}

bool EnvironmentStore::parseState(const pugi::xml_document& doc, OVLGUIDBase& agentId,
                                  std::vector<Environment>& envs, std::string& error) {
    pugi::xml_node root = doc.child("ovagentState");
    if (!root || agentId.fromString(root.child_value("agentId")) != 0) {
        error = "not an agent state file";
        return false;
    }
    std::set<OVLGUIDBase> ids;
    std::set<std::string> names;
    for (pugi::xml_node node : root.child("environments").children("environment")) {
        Environment env;
        const char* idText = node.attribute("id").value();
        if (env.id.fromString(idText) != 0) {
            error = "an environment has no valid id ('" + std::string(idText) + "')";
            return false;
        }
        const std::string which = "environment " + env.id.toString();
        if (!ids.insert(env.id).second) {
            error = "the environment id " + env.id.toString() + " appears twice";
            return false;
        }
        env.name = node.attribute("name").value();
        if (env.name.empty()) {
            error = which + " has no name";
            return false;
        }
        if (!names.insert(env.name).second) {
            error = "the environment name '" + env.name + "' appears twice";
            return false;
        }
        struct Number {
            const char* attribute;
            long long min;
            long long fallback;
            long long value;
        } numbers[] = {{"created", std::numeric_limits<long long>::min(), 0, 0},
                       {"changed", std::numeric_limits<long long>::min(), 0, 0},
                       {"revision", 1, 1, 0}};
        for (Number& n : numbers) {
            const pugi::xml_attribute attribute = node.attribute(n.attribute);
            n.value = n.fallback;
            if (attribute &&
                !parseNumber(attribute.value(), n.min, std::numeric_limits<long long>::max(), n.value)) {
                error = which + " has " + n.attribute + "=\"" + attribute.value() +
                        "\"; it must be a whole number" + (n.min == 1 ? " from 1" : "");
                return false;
            }
        }
        env.created = numbers[0].value;
        env.changed = numbers[1].value;
        env.revision = static_cast<std::uint64_t>(numbers[2].value);
        env.config = readFields(node.child("config"));
        env.altConfig = readFields(node.child("altConfig"));
        envs.push_back(std::move(env));
    }
    return true;
}

bool EnvironmentStore::save(const std::vector<Environment>& envs, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("ovagentState");
    root.append_attribute("version") = 1;
    root.append_child("agentId").text().set(m_agentId.toString().c_str());
    pugi::xml_node list = root.append_child("environments");
    for (const Environment& env : envs) {
        pugi::xml_node node = list.append_child("environment");
        node.append_attribute("id") = env.id.toString().c_str();
        node.append_attribute("name") = env.name.c_str();
        node.append_attribute("created") = static_cast<long long>(env.created);
        node.append_attribute("changed") = static_cast<long long>(env.changed);
        node.append_attribute("revision") = static_cast<unsigned long long>(env.revision);
        writeFields(node, "config", env.config);
        writeFields(node, "altConfig", env.altConfig);
    }
    if (OVL::replaceFileAtomically(
            m_path,
            [&doc](OVL::ChunkSink& sink) {
                SinkWriter writer(sink);
                doc.save(writer, "  ");
            },
            error, 0600) != 0) {
        return false;
    }
    // The file is this store's own until the lock is released; an unknown stamp reads it again.
    if (!stampOf(m_stamp)) {
        m_stamp = FileStamp();
    }
    return true;
}

OVLGUIDBase EnvironmentStore::agentId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_agentId;
}

std::vector<Environment> EnvironmentStore::list() {
    std::lock_guard<std::mutex> lock(m_mutex);
    refreshForRead();
    return m_envs;
}

std::optional<Environment> EnvironmentStore::get(const OVLGUIDBase& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    refreshForRead();
    for (const Environment& env : m_envs) {
        if (env.id == id) {
            return env;
        }
    }
    return std::nullopt;
}

EnvironmentStore::Result EnvironmentStore::create(Environment& env, std::size_t maxEnvironments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (!reloadForChange()) {
        return Result::ioError;
    }
    if (m_envs.size() >= maxEnvironments) {
        return Result::full;
    }
    if (!env.id.isValid() && env.id.generate() != 0) {
        return Result::ioError;
    }
    for (const Environment& other : m_envs) {
        if (other.id == env.id || other.name == env.name) {
            return Result::conflict;
        }
    }
    env.created = env.changed = static_cast<std::int64_t>(std::time(nullptr));
    env.revision = 1;
    std::vector<Environment> next = m_envs;
    next.push_back(env);
    if (!fits(next)) {
        return Result::tooLarge;
    }
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    replaceEnvironments(std::move(next));
    return Result::ok;
}

EnvironmentStore::Result EnvironmentStore::change(const OVLGUIDBase& id,
                                                  const std::optional<std::string>& name,
                                                  const std::optional<ConfigFields>& config,
                                                  const std::optional<ConfigFields>& altConfig,
                                                  std::optional<std::uint64_t> expectedRevision,
                                                  Environment& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (!reloadForChange()) {
        return Result::ioError;
    }
    std::vector<Environment> next = m_envs;
    Environment* target = nullptr;
    for (Environment& env : next) {
        if (env.id == id) {
            target = &env;
        }
    }
    if (target == nullptr) {
        return Result::notFound;
    }
    if (expectedRevision && *expectedRevision != target->revision) {
        return Result::conflict;
    }
    if (name) {
        for (const Environment& other : next) {
            if (other.id != id && other.name == *name) {
                return Result::conflict;
            }
        }
        target->name = *name;
    }
    if (config) {
        target->config = *config;
    }
    if (altConfig) {
        target->altConfig = *altConfig;
    }
    target->changed = static_cast<std::int64_t>(std::time(nullptr));
    ++target->revision;
    out = *target;
    if (!fits(next)) {
        return Result::tooLarge;
    }
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    replaceEnvironments(std::move(next));
    return Result::ok;
}

EnvironmentStore::Result EnvironmentStore::destroy(const OVLGUIDBase& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (!reloadForChange()) {
        return Result::ioError;
    }
    std::vector<Environment> next;
    next.reserve(m_envs.size());
    for (const Environment& env : m_envs) {
        if (env.id != id) {
            next.push_back(env);
        }
    }
    if (next.size() == m_envs.size()) {
        return Result::notFound;
    }
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    replaceEnvironments(std::move(next));
    return Result::ok;
}

}  // namespace ovagent
