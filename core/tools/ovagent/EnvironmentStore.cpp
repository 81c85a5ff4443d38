#include "EnvironmentStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "AgentLog.h"

namespace ovagent {

using OVL::OVLGUIDBase;

namespace {

class StringWriter final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text;
};

void writeFields(pugi::xml_node parent, const char* name, const ConfigFields& fields) {
    pugi::xml_node node = parent.append_child(name);
    for (const auto& [key, value] : fields)
        node.append_child(key.c_str()).text().set(value.c_str());
}

ConfigFields readFields(pugi::xml_node node) {
    ConfigFields fields;
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element)
            fields.emplace_back(child.name(), child.child_value());
    }
    return fields;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// Holds flock on the store's lock file for one operation; nothing when the store has none.
class EnvironmentStore::FileLock {
public:
    FileLock(int fd, int operation) : m_fd(fd) {
        if (m_fd < 0)
            return;
        while (::flock(m_fd, operation) != 0) {
            if (errno != EINTR) {
                AGENT_LOG(AgentLog::error, "state file: cannot lock: %s", std::strerror(errno));
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_UN);
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
                  lockPath.c_str(), std::strerror(errno));
    }
}

EnvironmentStore::~EnvironmentStore() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool EnvironmentStore::stampOf(FileStamp& stamp) const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0)
        return false;
    stamp = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return true;
}

void EnvironmentStore::refreshForRead() {
    FileLock fileLock(m_lockFd, LOCK_SH);
    FileStamp now;
    if (stampOf(now) && now == m_stamp)
        return;
    std::string error;
    if (!load(error))
        AGENT_LOG(AgentLog::error, "state file: cannot read it again, answering from memory: %s",
                  error.c_str());
}

bool EnvironmentStore::reloadForChange() {
    std::string error;
    if (load(error))
        return true;
    // Removed from under the agent: the change writes it again from what this store holds.
    if (!std::filesystem::exists(m_path))
        return true;
    AGENT_LOG(AgentLog::error, "state file: cannot read it again before a change: %s", error.c_str());
    return false;
}

bool EnvironmentStore::open(const std::vector<EnvironmentSeed>& seeds, std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Exclusive: of two processes starting on a new state directory, one creates the file.
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (std::filesystem::exists(m_path))
        return load(error);
    if (m_agentId.generate() != 0) {
        error = "no random bytes for the agent id";
        return false;
    }
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::vector<Environment> envs;
    for (const EnvironmentSeed& seed : seeds) {
        envs.push_back({seed.id, seed.name, seed.config, seed.altConfig, now, now, 1});
    }
    if (!save(envs, error))
        return false;
    m_envs = std::move(envs);
    return true;
}

bool EnvironmentStore::load(std::string& error) {
    // The stamp before the read: a replacement during the read makes the next refresh read again.
    FileStamp stamp;
    if (!stampOf(stamp)) {
        error = m_path + ": " + std::strerror(errno);
        return false;
    }
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_file(m_path.c_str());
    if (!parsed) {
        error = m_path + ": " + parsed.description();
        return false;
    }
    pugi::xml_node root = doc.child("ovagentState");
    OVLGUIDBase agentId;
    if (!root || agentId.fromString(root.child_value("agentId")) != 0) {
        error = m_path + ": not an agent state file";
        return false;
    }
    std::vector<Environment> envs;
    for (pugi::xml_node node : root.child("environments").children("environment")) {
        Environment env;
        if (env.id.fromString(node.attribute("id").value()) != 0) {
            error = m_path + ": an environment has no valid id";
            return false;
        }
        env.name = node.attribute("name").value();
        env.created = node.attribute("created").as_llong();
        env.changed = node.attribute("changed").as_llong();
        env.revision = node.attribute("revision").as_ullong(1);
        env.config = readFields(node.child("config"));
        env.altConfig = readFields(node.child("altConfig"));
        envs.push_back(std::move(env));
    }
    m_agentId = agentId;
    m_envs = std::move(envs);
    m_stamp = stamp;
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
    StringWriter writer;
    doc.save(writer, "  ");

    const std::string temp = m_path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, writer.text) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot write " + m_path + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temp.c_str());
        return false;
    }
    const std::string dir = std::filesystem::path(m_path).parent_path().string();
    int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    // The file is this store's own until the lock is released; an unknown stamp reads it again.
    if (!stampOf(m_stamp))
        m_stamp = FileStamp();
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
        if (env.id == id)
            return env;
    }
    return std::nullopt;
}

EnvironmentStore::Result EnvironmentStore::create(Environment& env, std::size_t maxEnvironments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (!reloadForChange())
        return Result::ioError;
    if (m_envs.size() >= maxEnvironments)
        return Result::full;
    if (!env.id.isValid() && env.id.generate() != 0)
        return Result::ioError;
    for (const Environment& other : m_envs) {
        if (other.id == env.id || other.name == env.name)
            return Result::conflict;
    }
    env.created = env.changed = static_cast<std::int64_t>(std::time(nullptr));
    env.revision = 1;
    std::vector<Environment> next = m_envs;
    next.push_back(env);
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    m_envs = std::move(next);
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
    if (!reloadForChange())
        return Result::ioError;
    std::vector<Environment> next = m_envs;
    Environment* target = nullptr;
    for (Environment& env : next) {
        if (env.id == id)
            target = &env;
    }
    if (target == nullptr)
        return Result::notFound;
    if (expectedRevision && *expectedRevision != target->revision)
        return Result::conflict;
    if (name) {
        for (const Environment& other : next) {
            if (other.id != id && other.name == *name)
                return Result::conflict;
        }
        target->name = *name;
    }
    if (config)
        target->config = *config;
    if (altConfig)
        target->altConfig = *altConfig;
    target->changed = static_cast<std::int64_t>(std::time(nullptr));
    ++target->revision;
    out = *target;
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    m_envs = std::move(next);
    return Result::ok;
}

EnvironmentStore::Result EnvironmentStore::destroy(const OVLGUIDBase& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FileLock fileLock(m_lockFd, LOCK_EX);
    if (!reloadForChange())
        return Result::ioError;
    std::vector<Environment> next;
    next.reserve(m_envs.size());
    for (const Environment& env : m_envs) {
        if (env.id != id)
            next.push_back(env);
    }
    if (next.size() == m_envs.size())
        return Result::notFound;
    std::string error;
    if (!save(next, error)) {
        AGENT_LOG(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    m_envs = std::move(next);
    return Result::ok;
}

}  // namespace ovagent
