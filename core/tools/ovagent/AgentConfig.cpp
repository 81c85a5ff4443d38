// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "AgentConfig.h"

#include <charconv>
#include <cstring>
#include <functional>

#include "OVLMessage/OVLMessage.h"
#include "OVLWire/Protocol.h"
#include "PasswordHash.h"

namespace ovagent {

using OVL::OVLGUIDBase;
using OVL::OVLMessageIterator;

Limits::Limits() : maxPacketSize(OVL::Wire::kDefaultMaxPacketSize), maxDepth(OVL::Wire::kDefaultMaxDepth) {}

namespace {

OVLGUIDBase systemRealmId() {
    OVLGUIDBase id;
    id.fromString(OVL::Wire::kSystemRealmID);
    return id;
}

// The element name without its namespace prefix.
std::string_view localName(const OVLMessageIterator& it) {
    std::string_view name = it.getName();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child element named `name` (qualified name as written); invalid when there is none.
OVLMessageIterator child(const OVLMessageIterator& parent, const char* name) {
    OVLMessageIterator it(parent);
    if (!it || it.moveTo(name) != 0) {
        return {};
    }
    return it;
}

// The first child element whose local name is `name`, whatever its prefix.
OVLMessageIterator childByLocalName(const OVLMessageIterator& parent, std::string_view name) {
    OVLMessageIterator it(parent);
    if (!it || it.moveToFirstChild() != 0) {
        return {};
    }
    do {
        if (localName(it) == name) {
            return it;
        }
    } while (it.moveToNextSibling() == 0);
    return {};
}

// Calls `visit` for every child element named `name`, in document order; stops at the first false.
bool forEachChild(const OVLMessageIterator& parent, const char* name,
                  const std::function<bool(const OVLMessageIterator&)>& visit) {
    OVLMessageIterator it = child(parent, name);
    if (!it) {
        return true;
    }
    do {
        if (!visit(it)) {
            return false;
        }
    } while (it.moveToNext(name) == 0);
    return true;
}

bool hasAttribute(const OVLMessageIterator& it, const char* name) {
    std::string ignored;
    return it && it.getAttribute(name, ignored) == 0;
}

// The attribute's value; `fallback` when the element or the attribute is missing.
std::string attribute(const OVLMessageIterator& it, const char* name, const char* fallback = "") {
    std::string value;
    if (!it || it.getAttribute(name, value) != 0) {
        return fallback;
    }
    return value;
}

// A missing or empty attribute gives `fallback`; otherwise true when it starts with 1, t, T, y or Y.
bool boolAttribute(const OVLMessageIterator& it, const char* name, bool fallback) {
    const std::string value = attribute(it, name);
    if (value.empty()) {
        return fallback;
    }
    return std::strchr("1tTyY", value[0]) != nullptr;
}

std::string text(const OVLMessageIterator& it) {
    std::string value;
    if (it) {
        it.getText(value);
    }
    return value;
}

template <class T>
bool readNumber(const OVLMessageIterator& node, const char* name, T& value, T min, T max,
                std::string& error) {
    std::string text;
    if (node.getAttribute(name, text) != 0) {
        return true;
    }
    long long parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < static_cast<long long>(min) ||
        parsed > static_cast<long long>(max)) {
        error = std::string("<") + node.getName() + "> " + name + "=\"" + text + "\" is not a number from " +
                std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    value = static_cast<T>(parsed);
    return true;
}

bool readMillis(const OVLMessageIterator& node, const char* name, std::chrono::milliseconds& value,
                std::string& error) {
    long long ms = value.count();
    if (!readNumber<long long>(node, name, ms, 1, 86400000LL, error)) {
        return false;
    }
    value = std::chrono::milliseconds(ms);
    return true;
}

bool readListener(const OVLMessageIterator& node, ListenerConfig& listener, std::string& error) {
    if (!node) {
        return true;
    }
    listener.enabled = boolAttribute(node, "enabled", true);
    if (hasAttribute(node, "address")) {
        listener.address = attribute(node, "address");
    }
    return readNumber<unsigned short>(node, "port", listener.port, 0, 65535, error);
}

ConfigFields readFields(const OVLMessageIterator& node) {
    ConfigFields fields;
    OVLMessageIterator it(node);
    if (!it || it.moveToFirstChild() != 0) {
        return fields;
    }
    do {
        fields.emplace_back(std::string(localName(it)), text(it));
    } while (it.moveToNextSibling() == 0);
    return fields;
}

bool fromMessage(const OVL::OVLMessage& message, AgentConfig& out, std::string& error);

}  // namespace

bool AgentConfig::load(const std::string& path, AgentConfig& out, std::string& error) {
    OVL::OVLMessagePtr message(new OVL::OVLMessage);
    if (message->load(path.c_str()) != 0) {
        if (message->getErrorLine() > 0) {
            error = path + ": malformed XML at " + message->getError();
        } else {
            error = "cannot open the configuration file " + path + ": " + message->getError();
        }
        return false;
    }
    if (!fromMessage(*message, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool AgentConfig::parse(const std::string& text, AgentConfig& out, std::string& error) {
    OVL::OVLMessagePtr message(new OVL::OVLMessage);
    // An empty text is parsed as one zero byte's worth, so that it fails as "no root element".
    if (message->parse(text.data(), text.empty() ? 0 : text.size()) != 0) {
        error = "malformed XML at " + message->getError();
        return false;
    }
    return fromMessage(*message, out, error);
}

namespace {

bool fromMessage(const OVL::OVLMessage& message, AgentConfig& out, std::string& error) {
    const OVLMessageIterator root = message.getIterator();
    if (std::string_view(message.getRootName()) != "ovagent") {
        error = "the root element must be <ovagent>";
        return false;
    }
    AgentConfig config;
    config.tcp.port = OVL::Wire::kDefaultTcpPort;
    config.tls.port = OVL::Wire::kDefaultTlsPort;
    const OVLMessageIterator listen = child(root, "listen");
    if (!readListener(child(listen, "tcp"), config.tcp, error) ||
        !readListener(child(listen, "tls"), config.tls, error)) {
        return false;
    }
    if (OVLMessageIterator tls = child(listen, "tls")) {
        config.certificateFile = attribute(tls, "certificate");
        config.keyFile = attribute(tls, "key");
        if (config.certificateFile.empty() != config.keyFile.empty()) {
            error = "<tls> needs both certificate and key, or neither";
            return false;
        }
    }
    if (OVLMessageIterator unixNode = child(listen, "unix")) {
        config.unixEnabled = boolAttribute(unixNode, "enabled", true);
        config.unixPath = attribute(unixNode, "path");
        if (hasAttribute(unixNode, "mode")) {
            const std::string mode = attribute(unixNode, "mode");
            const char* end = mode.data() + mode.size();
            unsigned value = 0;
            const auto parsed = std::from_chars(mode.data(), end, value, 8);
            if (mode.empty() || parsed.ec != std::errc() || parsed.ptr != end || value > 0777) {
                error = "<unix> mode \"" + mode + "\" is not an octal file mode (0600, 0666, ...)";
                return false;
            }
            config.unixMode = value;
        }
    }
    config.stateDirectory = text(child(root, "stateDirectory"));
    if (OVLMessageIterator log = child(root, "log")) {
        if (!readNumber<int>(log, "level", config.logLevel, 0, 9, error)) {
            return false;
        }
        config.logFile = attribute(log, "file");
    }
    if (OVLMessageIterator limits = child(root, "limits")) {
        Limits& l = config.limits;
        if (!readNumber<std::size_t>(limits, "maxPacketSize", l.maxPacketSize, 256,
                                     std::size_t{256} * 1024 * 1024, error) ||
            !readNumber<int>(limits, "maxDepth", l.maxDepth, 4, 1000, error) ||
            !readNumber<int>(limits, "maxConnections", l.maxConnections, 1, 1000000, error) ||
            !readNumber<int>(limits, "maxEnvironments", l.maxEnvironments, 1, 10000000, error) ||
            !readNumber<std::size_t>(limits, "maxStateSize", l.maxStateSize, 4096, std::size_t(1) << 40,
                                     error) ||
            !readNumber<int>(limits, "workerThreads", config.workerThreads, 0, 256, error) ||
            !readMillis(limits, "loginTimeoutMs", l.loginTimeout, error) ||
            !readMillis(limits, "idleTimeoutMs", l.idleTimeout, error)) {
            return false;
        }
        long long delay = l.failedLoginDelay.count();
        if (!readNumber<long long>(limits, "failedLoginDelayMs", delay, 0, 60000, error)) {
            return false;
        }
        l.failedLoginDelay = std::chrono::milliseconds(delay);
    }

    const bool realmsOk = forEachChild(child(root, "realms"), "realm", [&](const OVLMessageIterator& realm) {
        RealmConfig r;
        const std::string id = attribute(realm, "id");
        if (r.id.fromString(id.c_str()) != 0) {
            error = "realm id \"" + id + "\" is not a GUID";
            return false;
        }
        r.name = attribute(realm, "name");
        r.type = attribute(realm, "type", "standard");
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
        return true;
    });
    if (!realmsOk) {
        return false;
    }
    config.addSystemRealm();

    const bool usersOk = forEachChild(child(root, "users"), "user", [&](const OVLMessageIterator& user) {
        UserConfig u;
        u.login = attribute(user, "login");
        u.domain = attribute(user, "domain");
        u.passwordHash = attribute(user, "password");
        if (u.login.empty()) {
            error = "a <user> has no login";
            return false;
        }
        if (!PasswordHash::isWellFormed(u.passwordHash)) {
            error = "user \"" + u.login + "\": password must be a hash made by 'ovagent hash-password'";
            return false;
        }
        const bool refsOk = forEachChild(user, "realm", [&](const OVLMessageIterator& realmRef) {
            const std::string ref = text(realmRef);
            const RealmConfig* found = nullptr;
            for (const RealmConfig& r : config.realms) {
                if (r.name == ref || r.id.toString() == ref) {
                    found = &r;
                }
            }
            if (found == nullptr) {
                error = "user \"" + u.login + "\": unknown realm \"" + ref + "\"";
                return false;
            }
            u.realms.push_back(found->id);
            return true;
        });
        if (!refsOk) {
            return false;
        }
        if (u.realms.empty()) {
            u.realms.push_back(systemRealmId());
        }
        if (config.findUser(u.login, u.domain) != nullptr) {
            error = "user \"" + u.login + "\" is defined twice";
            return false;
        }
        config.users.push_back(std::move(u));
        return true;
    });
    if (!usersOk) {
        return false;
    }

    const bool environmentsOk =
        forEachChild(child(root, "environments"), "environment", [&](const OVLMessageIterator& env) {
            EnvironmentSeed seed;
            if (hasAttribute(env, "id") && seed.id.fromString(attribute(env, "id").c_str()) != 0) {
                error = "environment id \"" + attribute(env, "id") + "\" is not a GUID";
                return false;
            }
            if (!seed.id.isValid() && seed.id.generate() != 0) {
                error = "no random bytes for an environment id";
                return false;
            }
            seed.name = attribute(env, "name");
            seed.config = readFields(childByLocalName(env, "config"));
            seed.altConfig = readFields(childByLocalName(env, "altConfig"));
            config.environments.push_back(std::move(seed));
            return true;
        });
    if (!environmentsOk) {
        return false;
    }
    out = std::move(config);
    return true;
}

}  // namespace

void AgentConfig::addSystemRealm() {
    const OVLGUIDBase system = systemRealmId();
    if (findRealm(system) == nullptr) {
        realms.insert(realms.begin(), {system, OVL::Wire::kSystemRealmName, "system"});
    }
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
    for (const RealmConfig& r : config.realms) {
        demoUser.realms.push_back(r.id);
    }
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
        if (r.id == id) {
            return &r;
        }
    }
    return nullptr;
}

const UserConfig* AgentConfig::findUser(const std::string& login, const std::string& domain) const {
    for (const UserConfig& u : users) {
        if (u.login == login && u.domain == domain) {
            return &u;
        }
    }
    return nullptr;
}

}  // namespace ovagent
