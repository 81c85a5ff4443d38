#include "AgentConfig.h"

#include <pugixml.hpp>

#include <charconv>
#include <fstream>
#include <sstream>

#include "OVLWire/Protocol.h"
#include "OVLWire/Request.h"
#include "PasswordHash.h"

namespace ovagent {

using OVL::OVLGUIDBase;
using OVL::Wire::childByLocalName;
using OVL::Wire::localName;

Limits::Limits() : maxPacketSize(OVL::Wire::kDefaultMaxPacketSize), maxDepth(OVL::Wire::kDefaultMaxDepth) {}

namespace {

OVLGUIDBase systemRealmId() {
    OVLGUIDBase id;
    id.fromString(OVL::Wire::kSystemRealmID);
    return id;
}

template <class T>
bool readNumber(pugi::xml_node node, const char* name, T& value, T min, T max, std::string& error) {
    pugi::xml_attribute attr = node.attribute(name);
    if (!attr)
        return true;
    std::string_view text = attr.value();
    long long parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < static_cast<long long>(min) ||
        parsed > static_cast<long long>(max)) {
        error = std::string("<") + node.name() + "> " + name + "=\"" + std::string(text) +
                "\" is not a number from " + std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    value = static_cast<T>(parsed);
    return true;
}

bool readMillis(pugi::xml_node node, const char* name, std::chrono::milliseconds& value, std::string& error) {
    long long ms = value.count();
    if (!readNumber<long long>(node, name, ms, 1, 86400000LL, error))
        return false;
    value = std::chrono::milliseconds(ms);
    return true;
}

bool readListener(pugi::xml_node node, ListenerConfig& listener, std::string& error) {
    if (!node)
        return true;
    listener.enabled = node.attribute("enabled").as_bool(true);
    if (node.attribute("address"))
        listener.address = node.attribute("address").value();
    return readNumber<unsigned short>(node, "port", listener.port, 0, 65535, error);
}

ConfigFields readFields(pugi::xml_node node) {
    ConfigFields fields;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element)
            fields.emplace_back(localName(child), child.child_value());
    }
    return fields;
}

}  // namespace

bool AgentConfig::load(const std::string& path, AgentConfig& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the configuration file " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!parse(text.str(), out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool AgentConfig::parse(const std::string& text, AgentConfig& out, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = std::string("malformed XML at offset ") + std::to_string(parsed.offset) + ": " +
                parsed.description();
        return false;
    }
    pugi::xml_node root = doc.document_element();
    if (std::string_view(root.name()) != "ovagent") {
        error = "the root element must be <ovagent>";
        return false;
    }
    AgentConfig config;
    config.tcp.port = OVL::Wire::kDefaultTcpPort;
    config.tls.port = OVL::Wire::kDefaultTlsPort;
    pugi::xml_node listen = root.child("listen");
    if (!readListener(listen.child("tcp"), config.tcp, error) ||
        !readListener(listen.child("tls"), config.tls, error))
        return false;
    if (pugi::xml_node tls = listen.child("tls")) {
        config.certificateFile = tls.attribute("certificate").value();
        config.keyFile = tls.attribute("key").value();
        if (config.certificateFile.empty() != config.keyFile.empty()) {
            error = "<tls> needs both certificate and key, or neither";
            return false;
        }
    }
    if (pugi::xml_node unixNode = listen.child("unix")) {
        config.unixEnabled = unixNode.attribute("enabled").as_bool(true);
        config.unixPath = unixNode.attribute("path").value();
    }
    config.stateDirectory = root.child("stateDirectory").child_value();
    if (pugi::xml_node log = root.child("log")) {
        if (!readNumber<int>(log, "level", config.logLevel, 0, 9, error))
            return false;
        config.logFile = log.attribute("file").value();
    }
    if (pugi::xml_node limits = root.child("limits")) {
        Limits& l = config.limits;
        if (!readNumber<std::size_t>(limits, "maxPacketSize", l.maxPacketSize, 256, 256u * 1024 * 1024,
                                     error) ||
            !readNumber<int>(limits, "maxDepth", l.maxDepth, 4, 1000, error) ||
            !readNumber<int>(limits, "maxConnections", l.maxConnections, 1, 1000000, error) ||
            !readNumber<int>(limits, "maxEnvironments", l.maxEnvironments, 1, 10000000, error) ||
            !readNumber<int>(limits, "workerThreads", config.workerThreads, 0, 256, error) ||
            !readMillis(limits, "loginTimeoutMs", l.loginTimeout, error) ||
            !readMillis(limits, "idleTimeoutMs", l.idleTimeout, error)) {
            return false;
        }
        long long delay = l.failedLoginDelay.count();
        if (!readNumber<long long>(limits, "failedLoginDelayMs", delay, 0, 60000, error))
            return false;
        l.failedLoginDelay = std::chrono::milliseconds(delay);
    }

    for (pugi::xml_node realm : root.child("realms").children("realm")) {
        RealmConfig r;
        if (r.id.fromString(realm.attribute("id").value()) != 0) {
            error = std::string("realm id \"") + realm.attribute("id").value() + "\" is not a GUID";
            return false;
        }
        r.name = realm.attribute("name").value();
        r.type = realm.attribute("type").as_string("standard");
        if (r.name.empty()) {
            error = "realm " + r.id.toString() + " has no name";
            return false;
        }
        for (const RealmConfig& other : config.realms) {
            if (other.id == r.id || other.name == r.name) {
                error = "realm \"" + r.name + "\" is defined twice";
                return false;
            }
        }
        config.realms.push_back(std::move(r));
    }
    config.addSystemRealm();

    for (pugi::xml_node user : root.child("users").children("user")) {
        UserConfig u;
        u.login = user.attribute("login").value();
        u.domain = user.attribute("domain").value();
        u.passwordHash = user.attribute("password").value();
        if (u.login.empty()) {
            error = "a <user> has no login";
            return false;
        }
        if (!PasswordHash::isWellFormed(u.passwordHash)) {
            error = "user \"" + u.login + "\": password must be a hash made by 'ovagent hash-password'";
            return false;
        }
        for (pugi::xml_node realmRef : user.children("realm")) {
            std::string ref = realmRef.child_value();
            const RealmConfig* found = nullptr;
            for (const RealmConfig& r : config.realms) {
                if (r.name == ref || r.id.toString() == ref)
                    found = &r;
            }
            if (found == nullptr) {
                error = "user \"" + u.login + "\": unknown realm \"" + ref + "\"";
                return false;
            }
            u.realms.push_back(found->id);
        }
        if (u.realms.empty())
            u.realms.push_back(systemRealmId());
        if (config.findUser(u.login, u.domain) != nullptr) {
            error = "user \"" + u.login + "\" is defined twice";
            return false;
        }
        config.users.push_back(std::move(u));
    }

    for (pugi::xml_node env : root.child("environments").children("environment")) {
        EnvironmentSeed seed;
        if (env.attribute("id") && seed.id.fromString(env.attribute("id").value()) != 0) {
            error = std::string("environment id \"") + env.attribute("id").value() + "\" is not a GUID";
            return false;
        }
        if (!seed.id.isValid() && seed.id.generate() != 0) {
            error = "no random bytes for an environment id";
            return false;
        }
        seed.name = env.attribute("name").value();
        seed.config = readFields(childByLocalName(env, "config"));
        seed.altConfig = readFields(childByLocalName(env, "altConfig"));
        config.environments.push_back(std::move(seed));
    }
    out = std::move(config);
    return true;
}

void AgentConfig::addSystemRealm() {
    const OVLGUIDBase system = systemRealmId();
    if (findRealm(system) == nullptr)
        realms.insert(realms.begin(), {system, OVL::Wire::kSystemRealmName, "system"});
}

AgentConfig AgentConfig::demo() {
    AgentConfig config;
    config.tcp = {true, "127.0.0.1", OVL::Wire::kDefaultTcpPort};
    config.tls = {true, "127.0.0.1", OVL::Wire::kDefaultTlsPort};
    config.addSystemRealm();
    auto realm = [&](const char* id, const char* name, const char* type) {
        RealmConfig r;
        r.id.fromString(id);
        r.name = name;
        r.type = type;
        config.realms.push_back(r);
    };
    realm("5d1f8a52-3c1e-4b7a-9f41-0a6c2e7d9b10", "Operations", "standard");
    realm("8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80", "Lab", "standard");
    UserConfig demoUser;
    demoUser.login = "peadmin";
    demoUser.passwordHash = PasswordHash::create("5t6y7u");
    for (const RealmConfig& r : config.realms)
        demoUser.realms.push_back(r.id);
    config.users.push_back(std::move(demoUser));
    auto env = [&](const char* id, const char* name, ConfigFields fields, ConfigFields alt) {
        EnvironmentSeed seed;
        seed.id.fromString(id);
        seed.name = name;
        seed.config = std::move(fields);
        seed.altConfig = std::move(alt);
        config.environments.push_back(std::move(seed));
    };
    env("0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60", "prod-db",
        {{"name", "prod-db"}, {"type", "database"}, {"host", "db1"}, {"stage", "production"}},
        {{"role", "primary"}, {"version", "15"}});
    env("3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70", "test-web",
        {{"name", "test-web"}, {"type", "webserver"}, {"host", "web7"}, {"stage", "test"}},
        {{"role", "frontend"}, {"version", "2"}});
    env("6e4b8d23-1c5a-4a7f-b3d9-8e2f0c1a4b90", "lab-cache",
        {{"name", "lab-cache"}, {"type", "cache"}, {"host", "lab3"}, {"stage", "lab"}},
        {{"role", "replica"}, {"version", "7"}});
    return config;
}

const RealmConfig* AgentConfig::findRealm(const OVLGUIDBase& id) const {
    for (const RealmConfig& r : realms) {
        if (r.id == id)
            return &r;
    }
    return nullptr;
}

const UserConfig* AgentConfig::findUser(const std::string& login, const std::string& domain) const {
    for (const UserConfig& u : users) {
        if (u.login == login && u.domain == domain)
            return &u;
    }
    return nullptr;
}

}  // namespace ovagent
