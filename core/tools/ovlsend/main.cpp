// ovlsend: sends packets to an agent and prints the replies (see SendOptions.cpp for the usage).

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <pugixml.hpp>

#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLMessage/OVLMessage.h"
#include "ReplyCollector.h"
#include "SendOptions.h"

namespace {

bool readInput(const std::string& name, std::string& text, std::string& error) {
    if (name == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        error = "cannot read " + name;
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool isErrorReply(const std::string& reply) {
    pugi::xml_document doc;
    if (!doc.load_string(reply.c_str()))
        return true;
    for (pugi::xml_node data : doc.document_element().children()) {
        std::string_view name = data.name();
        if (name.substr(name.find(':') + 1) != "data")
            continue;
        for (pugi::xml_node child : data.children()) {
            std::string_view childName = child.name();
            if (childName.substr(childName.find(':') + 1) == "error")
                return true;
        }
    }
    return false;
}

int fail(const std::string& message) {
    std::cerr << "ovlsend: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ovlsend::SendOptions options;
    std::string error;
    if (!ovlsend::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "ovlsend: " << error << "\n" << ovlsend::kUsage;
        return 1;
    }
    if (options.help) {
        std::cout << ovlsend::kUsage;
        return 0;
    }
    std::string password;
    if (!ovlsend::readPassword(options, password, error))
        return fail(error);
    options.info.getAuthName().setPassword(password);

    // Read and check every packet before connecting, so that bad input sends nothing.
    std::string input;
    for (const std::string& name : options.inputs.empty() ? std::vector<std::string>{"-"} : options.inputs) {
        std::string text;
        if (!readInput(name, text, error))
            return fail(error);
        input += text;
        if (!input.empty() && input.back() != '\0')
            input.push_back('\0');
    }
    const std::vector<std::string> packets = ovlsend::splitPackets(input);
    if (packets.empty())
        return fail("no packet to send");
    // Raw mode sends the packets as they are, without the blank pieces, which get no reply.
    input.clear();
    for (const std::string& packet : packets)
        input.append(packet).push_back('\0');
    std::vector<OVL::OVLMessageBodyPtr> bodies;
    if (!options.raw) {
        for (std::size_t i = 0; i < packets.size(); ++i) {
            OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
            if (message->parse(packets[i].data(), packets[i].size()) != 0)
                return fail("packet " + std::to_string(i + 1) + " cannot be parsed: " + message->getError());
            bodies.push_back(message->getBody(0));
        }
    }

    const std::chrono::milliseconds timeout(options.timeoutMs);
    // The library reads its limits from the environment; set before it starts its thread. Its own
    // connect time-out is the option's, and ovlsend waits a little longer, so that the library's
    // message says which step did not finish (no TCP connection, no greeting, no login reply).
    ::setenv("OVL_CONNECT_TIMEOUT_MS", std::to_string(options.timeoutMs).c_str(), 1);
    ::setenv("OVL_MAX_REPLY_SIZE", std::to_string(options.maxReplySize).c_str(), 1);
    boost::intrusive_ptr<ovlsend::ReplyCollector> collector(new ovlsend::ReplyCollector);
    OVL::OVLAccessAgentPrototypePtr agent =
        OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    agent->connect(options.info, OVL::OVLConnectionHandlerPrototypePtr(collector.get()));
    OVL::eid_t eid;
    if (!collector->waitConnected(timeout + std::chrono::seconds(2), eid, error))
        return fail(error);

    OVL::OVLTaskHandlerPrototypePtr handler(collector.get());
    if (options.raw) {
        agent->createTask(eid, "ovlsend", handler)->start();
        agent->createTask(eid, "ovlsend", handler, input.data(), input.size())->startRaw();
    } else {
        for (const auto& body : bodies) {
            std::string id;
            agent->createTask(eid, "ovlsend", handler, id)->send(body);
        }
    }
    bool sawError = false;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        std::string reply;
        if (!collector->nextReply(timeout, reply, error))
            return fail("reply " + std::to_string(i + 1) + " of " + std::to_string(packets.size()) + ": " +
                        error);
        std::cout << reply << "\n";
        sawError = sawError || isErrorReply(reply);
    }
    std::cout.flush();
    agent->disconnect();
    return sawError ? 2 : 0;
}
