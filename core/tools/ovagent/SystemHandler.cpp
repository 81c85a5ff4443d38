// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SystemHandler.h"

#include "HostInfo.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"

namespace ovagent {

using namespace OVL::Wire;

void SystemHandler::handle(const Request& request, const SessionState& state, std::string& out) {
    (void)state;
    if (request.interfaceName() != "system") {
        appendErrorFrame(out, request.id(), kAgentName, request.target(), kErrUnknownTarget,
                         "target 'system' has no interface '" + std::string(request.interfaceName()) + "'");
        return;
    }
    const std::string_view op = request.operationName();
    ReplyWriter writer(request.id(), kAgentName, request.target(), kSystemNamespace);
    if (op == "echo") {
        pugi::xml_node result = writer.result("system", "echoResult");
        ReplyWriter::add(result, "text", childByLocalName(request.operationNode(), "text").child_value());
    } else if (op == "getRealms") {
        pugi::xml_node result = writer.result("system", "getRealmsResult");
        for (const RealmConfig& realm : m_context.config()->realms) {
            pugi::xml_node node = ReplyWriter::add(result, "realm");
            ReplyWriter::add(node, "id", realm.id.toString());
            ReplyWriter::add(node, "name", realm.name);
            ReplyWriter::add(node, "type", realm.type);
        }
    } else if (op == "getHostInfo") {
        const HostInfo info = HostInfo::read();
        pugi::xml_node result = writer.result("system", "getHostInfoResult");
        ReplyWriter::add(result, "hostname", info.hostname);
        ReplyWriter::add(result, "os", info.os);
        ReplyWriter::add(result, "kernel", info.kernel);
        ReplyWriter::add(result, "architecture", info.architecture);
        ReplyWriter::add(result, "cpuCount", std::to_string(info.cpuCount));
        ReplyWriter::add(result, "memoryTotal", std::to_string(info.memoryTotal));
        ReplyWriter::add(result, "memoryAvailable", std::to_string(info.memoryAvailable));
        ReplyWriter::add(result, "uptime", std::to_string(info.uptime));
        ReplyWriter::add(result, "time", info.time);
    } else {
        appendErrorFrame(out, request.id(), kAgentName, request.target(), kErrUnknownOperation,
                         "interface 'system' has no operation '" + std::string(op) + "'");
        return;
    }
    writer.appendFrame(out);
}

}  // namespace ovagent
