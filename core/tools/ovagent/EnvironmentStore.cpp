#include "EnvironmentStore.h"

#include <fcntl.h>
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

EnvironmentStore::EnvironmentStore(std::string path) : m_path(std::move(path)) {}

bool EnvironmentStore::open(const std::vector<EnvironmentSeed>& seeds, std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
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
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_file(m_path.c_str());
    if (!parsed) {
        error = m_path + ": " + parsed.description();
        return false;
    }
    pugi::xml_node root = doc.child("ovagentState");
    if (!root || m_agentId.fromString(root.child_value("agentId")) != 0) {
        error = m_path + ": not an agent state file";
        return false;
    }
    m_envs.clear();
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
        m_envs.push_back(std::move(env));
    }
    return true;
}

bool EnvironmentStore::save(const std::vector<Environment>& envs, std::string& error) const {
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
    return true;
}

OVLGUIDBase EnvironmentStore::agentId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_agentId;
}

std::vector<Environment> EnvironmentStore::list() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_envs;
}

std::optional<Environment> EnvironmentStore::get(const OVLGUIDBase& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Environment& env : m_envs) {
        if (env.id == id)
            return env;
    }
    return std::nullopt;
}

EnvironmentStore::Result EnvironmentStore::create(Environment& env, std::size_t maxEnvironments) {
    std::lock_guard<std::mutex> lock(m_mutex);
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
        AgentLog::put(AgentLog::error, "state file: %s", error.c_str());
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
        AgentLog::put(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    m_envs = std::move(next);
    return Result::ok;
}

EnvironmentStore::Result EnvironmentStore::destroy(const OVLGUIDBase& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
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
        AgentLog::put(AgentLog::error, "state file: %s", error.c_str());
        return Result::ioError;
    }
    m_envs = std::move(next);
    return Result::ok;
}

}  // namespace ovagent
