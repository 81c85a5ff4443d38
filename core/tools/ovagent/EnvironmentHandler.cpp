// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "EnvironmentHandler.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"

namespace ovagent {

using namespace OVL::Wire;

namespace {

void writeFields(pugi::xml_node parent, const char* name, const ConfigFields& fields) {
    pugi::xml_node node = ReplyWriter::add(parent, name);
    for (const auto& [key, value] : fields) {
        ReplyWriter::add(node, key, value);
    }
}

void writeEnvironment(pugi::xml_node parent, const Environment& env) {
    pugi::xml_node node = ReplyWriter::add(parent, "environment");
    ReplyWriter::add(node, "id", env.id.toString());
    ReplyWriter::add(node, "name", env.name);
    writeFields(node, "config", env.config);
    writeFields(node, "altConfig", env.altConfig);
    pugi::xml_node runtime = ReplyWriter::add(node, "runtime");
    ReplyWriter::add(runtime, "state", "ready");
    ReplyWriter::add(runtime, "created", std::to_string(env.created));
    ReplyWriter::add(runtime, "changed", std::to_string(env.changed));
    ReplyWriter::add(runtime, "revision", std::to_string(env.revision));
}

// A flat list of named text elements. False with `message` when an element has element children.
bool readFields(pugi::xml_node node, ConfigFields& fields, std::string& message) {
    fields.clear();
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (firstElement(child)) {
            message = "configuration element '" + std::string(localName(child)) + "' must hold text only";
            return false;
        }
        fields.emplace_back(localName(child), child.child_value());
    }
    return true;
}

void appendStoreFailure(std::string& out, const PacketId& requestId, const std::string& target,
                        const OVL::OVLGUIDBase& id, EnvironmentStore::Result result,
                        const EnvironmentStore& store) {
    switch (result) {
        case EnvironmentStore::Result::notFound:
            appendErrorFrame(out, requestId, kAgentName, target, kErrNotFound,
                             "no environment " + id.toString());
            break;
        case EnvironmentStore::Result::conflict:
            appendErrorFrame(out, requestId, kAgentName, target, kErrConflict,
                             "an environment with this id or name exists, or the revision is not current");
            break;
        case EnvironmentStore::Result::full:
            appendErrorFrame(out, requestId, kAgentName, target, kErrBadArgument,
                             "the agent holds its maximum number of environments");
            break;
        case EnvironmentStore::Result::tooLarge:
            appendErrorFrame(out, requestId, kAgentName, target, kErrBadArgument,
                             "the agent's stored environments would exceed maxStateSize (" +
                                 std::to_string(store.maxStateSize()) + " bytes); nothing was changed");
            break;
        default:
            appendErrorFrame(out, requestId, kAgentName, target, kErrInternal,
                             "the state file could not be written; nothing was changed");
            break;
    }
}

}  // namespace

bool EnvironmentHandler::handle(const Request& request, const SessionState& state, std::string& out) {
    (void)state;
    auto fail = [&](int code, const std::string& message) {
        appendErrorFrame(out, request.id(), kAgentName, request.target(), code, message);
        return false;
    };
    if (request.interfaceName() != "environments") {
        return fail(kErrUnknownTarget,
                    "target 'environments' has no interface '" + std::string(request.interfaceName()) + "'");
    }
    const std::string_view op = request.operationName();
    const pugi::xml_node args = request.operationNode();
    Pending pending;
    pending.requestId = request.id();
    pending.target = request.target();

    auto readId = [&](bool required) {
        pugi::xml_node idNode = childByLocalName(args, "id");
        if (!idNode) {
            if (required) {
                fail(kErrBadArgument, "'" + std::string(op) + "' needs an <id>");
            }
            return !required;
        }
        if (pending.id.fromString(idNode.child_value()) != 0) {
            fail(kErrBadArgument, "'" + std::string(idNode.child_value()) + "' is not an environment id");
            return false;
        }
        return true;
    };

    if (op == "list") {
        pending.operation = Operation::list;
    } else if (op == "get") {
        pending.operation = Operation::get;
        if (!readId(true)) {
            return false;
        }
    } else if (op == "create") {
        pending.operation = Operation::create;
        std::string message;
        if (!readId(false)) {
            return false;
        }
        Environment& env = pending.created;
        env.id = pending.id;
        env.name = childText(args, "name");
        if (env.name.empty()) {
            return fail(kErrBadArgument, "'create' needs a non-empty <name>");
        }
        if (!readFields(childByLocalName(args, "config"), env.config, message) ||
            !readFields(childByLocalName(args, "altConfig"), env.altConfig, message)) {
            return fail(kErrBadArgument, message);
        }
    } else if (op == "change") {
        pending.operation = Operation::change;
        if (!readId(true)) {
            return false;
        }
        std::string message;
        if (pugi::xml_node n = childByLocalName(args, "name")) {
            pending.name = n.child_value();
            if (pending.name->empty()) {
                return fail(kErrBadArgument, "<name> must not be empty");
            }
        }
        if (pugi::xml_node n = childByLocalName(args, "config")) {
            pending.config.emplace();
            if (!readFields(n, *pending.config, message)) {
                return fail(kErrBadArgument, message);
            }
        }
        if (pugi::xml_node n = childByLocalName(args, "altConfig")) {
            pending.altConfig.emplace();
            if (!readFields(n, *pending.altConfig, message)) {
                return fail(kErrBadArgument, message);
            }
        }
        if (pugi::xml_node n = childByLocalName(args, "revision")) {
            // Digits only (no sign, no space), 1 to 2^64-1: revisions start at 1.
            const std::string_view text = n.child_value();
            const char* end = text.data() + text.size();
            std::uint64_t value = 0;
            const auto parsed = std::from_chars(text.data(), end, value, 10);
            if (text.empty() || text.front() < '0' || text.front() > '9' || parsed.ec != std::errc() ||
                parsed.ptr != end || value == 0) {
                return fail(kErrBadArgument,
                            "<revision> must be a whole number from 1 to 18446744073709551615");
            }
            pending.revision = value;
        }
    } else if (op == "destroy") {
        pending.operation = Operation::destroy;
        if (!readId(true)) {
            return false;
        }
    } else {
        return fail(kErrUnknownOperation,
                    "interface 'environments' has no operation '" + std::string(op) + "'");
    }
    m_pending = std::move(pending);
    return true;
}

void EnvironmentHandler::finishPending(std::string& out) {
    Pending pending = std::move(m_pending);
    m_pending = Pending{};
    EnvironmentStore& store = m_context.environments();
    ReplyWriter writer(pending.requestId, kAgentName, pending.target, kEnvironmentsNamespace);
    auto failed = [&](EnvironmentStore::Result result) {
        if (result == EnvironmentStore::Result::ok) {
            return false;
        }
        appendStoreFailure(out, pending.requestId, pending.target, pending.id, result, store);
        return true;
    };
    switch (pending.operation) {
        case Operation::list: {
            pugi::xml_node result = writer.result("environments", "listResult");
            for (const Environment& env : store.list()) {
                writeEnvironment(result, env);
            }
            break;
        }
        case Operation::get: {
            auto env = store.get(pending.id);
            if (!env) {
                return appendStoreFailure(out, pending.requestId, pending.target, pending.id,
                                          EnvironmentStore::Result::notFound, store);
            }
            writeEnvironment(writer.result("environments", "getResult"), *env);
            break;
        }
        case Operation::create: {
            const auto maxEnvironments = static_cast<std::size_t>(m_context.config()->limits.maxEnvironments);
            if (failed(store.create(pending.created, maxEnvironments))) {
                return;
            }
            writeEnvironment(writer.result("environments", "createResult"), pending.created);
            break;
        }
        case Operation::change: {
            Environment env;
            if (failed(store.change(pending.id, pending.name, pending.config, pending.altConfig,
                                    pending.revision, env))) {
                return;
            }
            writeEnvironment(writer.result("environments", "changeResult"), env);
            break;
        }
        case Operation::destroy:
            if (failed(store.destroy(pending.id))) {
                return;
            }
            ReplyWriter::add(writer.result("environments", "destroyResult"), "id", pending.id.toString());
            break;
    }
    writer.appendFrame(out);
}

}  // namespace ovagent
