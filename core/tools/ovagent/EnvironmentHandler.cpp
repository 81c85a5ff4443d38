#include "EnvironmentHandler.h"

#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"

namespace ovagent {

using namespace OVL::Wire;

namespace {

void writeFields(pugi::xml_node parent, const char* name, const ConfigFields& fields) {
    pugi::xml_node node = ReplyWriter::add(parent, name);
    for (const auto& [key, value] : fields)
        ReplyWriter::add(node, key, value);
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
        if (child.type() != pugi::node_element)
            continue;
        if (firstElement(child)) {
            message = "configuration element '" + std::string(localName(child)) + "' must hold text only";
            return false;
        }
        fields.emplace_back(localName(child), child.child_value());
    }
    return true;
}

}  // namespace

void EnvironmentHandler::handle(const Request& request, const SessionState& state, std::string& out) {
    (void)state;
    auto fail = [&](int code, const std::string& message) {
        appendErrorFrame(out, request.id(), kAgentName, request.target(), code, message);
    };
    if (request.interfaceName() != "environments") {
        fail(kErrUnknownTarget,
             "target 'environments' has no interface '" + std::string(request.interfaceName()) + "'");
        return;
    }
    const std::string_view op = request.operationName();
    const pugi::xml_node args = request.operationNode();
    EnvironmentStore& store = m_context.environments();
    ReplyWriter writer(request.id(), kAgentName, request.target(), kEnvironmentsNamespace);

    OVL::OVLGUIDBase id;
    auto readId = [&](bool required) {
        pugi::xml_node idNode = childByLocalName(args, "id");
        if (!idNode) {
            if (required)
                fail(kErrBadArgument, "'" + std::string(op) + "' needs an <id>");
            return !required;
        }
        if (id.fromString(idNode.child_value()) != 0) {
            fail(kErrBadArgument, "'" + std::string(idNode.child_value()) + "' is not an environment id");
            return false;
        }
        return true;
    };
    auto storeFailure = [&](EnvironmentStore::Result result) {
        switch (result) {
            case EnvironmentStore::Result::notFound:
                fail(kErrNotFound, "no environment " + id.toString());
                break;
            case EnvironmentStore::Result::conflict:
                fail(kErrConflict,
                     "an environment with this id or name exists, or the revision is not current");
                break;
            case EnvironmentStore::Result::full:
                fail(kErrBadArgument, "the agent holds its maximum number of environments");
                break;
            case EnvironmentStore::Result::tooLarge:
                fail(kErrBadArgument, "the agent's stored environments would exceed maxStateSize (" +
                                          std::to_string(store.maxStateSize()) + " bytes); nothing was changed");
                break;
            default:
                fail(kErrInternal, "the state file could not be written; nothing was changed");
                break;
        }
    };

    if (op == "list") {
        pugi::xml_node result = writer.result("environments", "listResult");
        for (const Environment& env : store.list())
            writeEnvironment(result, env);
    } else if (op == "get") {
        if (!readId(true))
            return;
        auto env = store.get(id);
        if (!env)
            return fail(kErrNotFound, "no environment " + id.toString());
        writeEnvironment(writer.result("environments", "getResult"), *env);
    } else if (op == "create") {
        Environment env;
        std::string message;
        if (!readId(false))
            return;
        env.id = id;
        env.name = childText(args, "name");
        if (env.name.empty())
            return fail(kErrBadArgument, "'create' needs a non-empty <name>");
        if (!readFields(childByLocalName(args, "config"), env.config, message) ||
            !readFields(childByLocalName(args, "altConfig"), env.altConfig, message)) {
            return fail(kErrBadArgument, message);
        }
        auto result = store.create(env, static_cast<std::size_t>(m_context.config()->limits.maxEnvironments));
        if (result != EnvironmentStore::Result::ok)
            return storeFailure(result);
        writeEnvironment(writer.result("environments", "createResult"), env);
    } else if (op == "change") {
        if (!readId(true))
            return;
        std::optional<std::string> name;
        std::optional<ConfigFields> config;
        std::optional<ConfigFields> altConfig;
        std::optional<std::uint64_t> revision;
        std::string message;
        if (pugi::xml_node n = childByLocalName(args, "name")) {
            name = n.child_value();
            if (name->empty())
                return fail(kErrBadArgument, "<name> must not be empty");
        }
        if (pugi::xml_node n = childByLocalName(args, "config")) {
            config.emplace();
            if (!readFields(n, *config, message))
                return fail(kErrBadArgument, message);
        }
        if (pugi::xml_node n = childByLocalName(args, "altConfig")) {
            altConfig.emplace();
            if (!readFields(n, *altConfig, message))
                return fail(kErrBadArgument, message);
        }
        if (pugi::xml_node n = childByLocalName(args, "revision")) {
            char* end = nullptr;
            const char* text = n.child_value();
            unsigned long long value = std::strtoull(text, &end, 10);
            if (*text == '\0' || *end != '\0')
                return fail(kErrBadArgument, "<revision> must be a number");
            revision = value;
        }
        Environment env;
        auto result = store.change(id, name, config, altConfig, revision, env);
        if (result != EnvironmentStore::Result::ok)
            return storeFailure(result);
        writeEnvironment(writer.result("environments", "changeResult"), env);
    } else if (op == "destroy") {
        if (!readId(true))
            return;
        auto result = store.destroy(id);
        if (result != EnvironmentStore::Result::ok)
            return storeFailure(result);
        ReplyWriter::add(writer.result("environments", "destroyResult"), "id", id.toString());
    } else {
        return fail(kErrUnknownOperation,
                    "interface 'environments' has no operation '" + std::string(op) + "'");
    }
    writer.appendFrame(out);
}

}  // namespace ovagent
