// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// ovlsend: sends packets to an agent and prints the replies (see SendOptions.cpp for the usage).

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string_view>

#include <pugixml.hpp>

#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLMessage/OVLMessage.h"
#include "ReplyCollector.h"
#include "RoundTripStats.h"
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

struct ReplyFacts {
    bool error = true;  // an error reply of the agent, or a packet that does not parse
    std::string id;     // the packet's id attribute; empty without one
};

ReplyFacts inspectReply(const std::string& reply) {
    ReplyFacts facts;
    pugi::xml_document doc;
    if (!doc.load_string(reply.c_str())) {
        return facts;
    }
    facts.error = false;
    facts.id = doc.document_element().attribute("id").value();
    for (pugi::xml_node data : doc.document_element().children()) {
        std::string_view name = data.name();
        if (name.substr(name.find(':') + 1) != "data") {
            continue;
        }
        for (pugi::xml_node child : data.children()) {
            std::string_view childName = child.name();
            if (childName.substr(childName.find(':') + 1) == "error") {
                facts.error = true;
            }
        }
    }
    return facts;
}

int fail(const std::string& message) {
    std::cerr << "ovlsend: " << message << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::find(argv + 1, argv + argc, std::string_view("--version")) != argv + argc) {
        std::cout << "ovlsend " << FERRIK_VERSION << "\n";
        return 0;
    }
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
    if (!ovlsend::readPassword(options, password, error)) {
        return fail(error);
    }
    options.info.getAuthName().setPassword(password);

    // Read and check every packet before connecting, so that bad input sends nothing.
    std::string input;
    for (const std::string& name : options.inputs.empty() ? std::vector<std::string>{"-"} : options.inputs) {
        std::string text;
        if (!readInput(name, text, error)) {
            return fail(error);
        }
        input += text;
        if (!input.empty() && input.back() != '\0') {
            input.push_back('\0');
        }
    }
    const std::vector<std::string> packets = ovlsend::splitPackets(input);
    if (packets.empty()) {
        return fail("no packet to send");
    }
    // Raw mode sends the packets as they are, without the blank pieces, which get no reply.
    input.clear();
    for (const std::string& packet : packets) {
        input.append(packet).push_back('\0');
    }
    std::vector<OVL::OVLMessageBodyPtr> bodies;
    if (!options.raw) {
        for (std::size_t i = 0; i < packets.size(); ++i) {
            OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
            if (message->parse(packets[i].data(), packets[i].size()) != 0) {
                return fail("packet " + std::to_string(i + 1) + " cannot be parsed: " + message->getError());
            }
            bodies.push_back(message->getBody(0));
        }
    }

    const std::chrono::milliseconds timeout(options.timeoutMs);
    // How much longer than the library's connect time-out ovlsend waits for the connection.
    constexpr std::chrono::seconds kConnectGrace{2};
    // The library reads its limits from the environment; set before it starts its thread. Its own
    // connect time-out is the option's, and ovlsend waits a little longer, so that the library's
    // message says which step did not finish (no TCP connection, no greeting, no login reply).
    // NOLINTBEGIN(concurrency-mt-unsafe)
    ::setenv("OVL_CONNECT_TIMEOUT_MS", std::to_string(options.timeoutMs).c_str(), 1);
    ::setenv("OVL_MAX_REPLY_SIZE", std::to_string(options.maxReplySize).c_str(), 1);
    // NOLINTEND(concurrency-mt-unsafe)
    boost::intrusive_ptr<ovlsend::ReplyCollector> collector(new ovlsend::ReplyCollector);
    OVL::OVLAccessAgentPrototypePtr agent =
        OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
    agent->connect(options.info, OVL::OVLConnectionHandlerPrototypePtr(collector.get()));
    OVL::eid_t eid;
    if (!collector->waitConnected(timeout + kConnectGrace, eid, error)) {
        return fail(error);
    }

    using Clock = std::chrono::steady_clock;
    OVL::OVLTaskHandlerPrototypePtr handler(collector.get());
    if (options.raw) {
        agent->createTask(eid, "ovlsend", handler)->start();
    }
    std::vector<std::chrono::nanoseconds> roundTrips;
    const auto summary = [&] {
        if (options.time && options.repeatGiven) {
            std::cerr << "ovlsend: round trips: " << ovlsend::formatStats(ovlsend::summarize(roundTrips))
                      << "\n";
        }
    };
    bool sawError = false;
    // Each repetition sends the whole input and takes all its replies before the next one starts,
    // so that a round trip never includes waiting behind the previous repetition.
    for (int round = 1; round <= options.repeat; ++round) {
        std::vector<Clock::time_point> sent(packets.size());
        std::map<std::string, std::size_t> packetOfId;
        if (options.raw) {
            // One write carries every packet; each reply is timed from it.
            std::fill(sent.begin(), sent.end(), Clock::now());
            agent->createTask(eid, "ovlsend", handler, input.data(), input.size())->startRaw();
        } else {
            for (std::size_t i = 0; i < bodies.size(); ++i) {
                std::string id;
                OVL::OVLTaskPtr task = agent->createTask(eid, "ovlsend", handler, id);
                packetOfId[id] = i;
                sent[i] = Clock::now();
                task->send(bodies[i]);
            }
        }
        const std::string where =
            options.repeat > 1 ? "repeat " + std::to_string(round) + " of " + std::to_string(options.repeat)
                               : std::string();
        for (std::size_t k = 0; k < packets.size(); ++k) {
            ovlsend::CollectedReply reply;
            if (!collector->nextReply(timeout, reply, error)) {
                std::cout.flush();
                std::cerr << "ovlsend: " << (where.empty() ? "" : where + ": ") << "reply " << k + 1 << " of "
                          << packets.size() << ": " << error << "\n";
                summary();
                return 1;
            }
            std::cout << reply.text << "\n";
            const ReplyFacts facts = inspectReply(reply.text);
            sawError = sawError || facts.error;
            // Parsed replies are matched to their request by id; raw ones come in the input's order.
            std::size_t packet = k;
            if (const auto it = packetOfId.find(facts.id); it != packetOfId.end()) {
                packet = it->second;
            }
            const auto roundTrip =
                std::chrono::duration_cast<std::chrono::nanoseconds>(reply.complete - sent[packet]);
            roundTrips.push_back(roundTrip);
            if (options.time) {
                std::cout.flush();
                std::cerr << "ovlsend: " << (where.empty() ? "" : where + ", ") << "reply " << packet + 1
                          << (facts.id.empty() ? "" : " (id " + facts.id + ")") << ": "
                          << ovlsend::formatMs(roundTrip) << ", " << reply.text.size() << " bytes\n";
            }
        }
    }
    std::cout.flush();
    summary();
    agent->disconnect();
    return sawError ? 2 : 0;
}
