// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "PerformanceHandler.h"

#include <charconv>
#include <cstdio>
#include <set>

#include "AgentContext.h"
#include "OVLWire/Protocol.h"
#include "OVLWire/ReplyWriter.h"

namespace ovagent {

using namespace OVL::Wire;
using OVL::OVLPdhQuery;

namespace {

const char* statusText(long status) {
    switch (status) {
        case OVLPdhQuery::kNoInstance:
            return "no such instance";
        case OVLPdhQuery::kNoObject:
            return "unknown object";
        case OVLPdhQuery::kNoCounter:
            return "unknown counter";
        case OVLPdhQuery::kBadCounterName:
            return "malformed counter path";
        case OVLPdhQuery::kInvalidData:
            return "no value yet: a rate needs two samples (sample again, or give an interval)";
        case OVLPdhQuery::kReadFailed:
            return "the counter's source could not be read";
        default:
            return "the counter could not be read";
    }
}

std::string hexStatus(long status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFUL);
    return text;
}

std::string number(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

}  // namespace

const std::vector<PerformanceHandler::Offered>& PerformanceHandler::offeredCounters() {
    static const std::vector<Offered> counters = {
        {"\\Processor(_Total)\\% Processor Time", true},
        {"\\Processor(_Total)\\% User Time", true},
        {"\\Processor(_Total)\\% Privileged Time", true},
        {"\\Processor(_Total)\\% Idle Time", true},
        {"\\Memory\\Available Bytes", false},
        {"\\Memory\\Committed Bytes", false},
        {"\\PhysicalDisk(_Total)\\Disk Read Bytes/sec", true},
        {"\\PhysicalDisk(_Total)\\Disk Write Bytes/sec", true},
        {"\\Network Interface(_Total)\\Bytes Received/sec", true},
        {"\\Network Interface(_Total)\\Bytes Sent/sec", true},
        {"\\Network Interface(_Total)\\Bytes Total/sec", true},
        {"\\System\\Processes", false},
    };
    return counters;
}

bool PerformanceHandler::handle(const Request& request, std::string& out) {
    if (request.interfaceName() != "performance") {
        appendErrorFrame(
            out, request.id(), kAgentName, request.target(), kErrUnknownTarget,
            "target 'performance' has no interface '" + std::string(request.interfaceName()) + "'");
        return false;
    }
    const std::string_view op = request.operationName();
    if (op == "listCounters") {
        ReplyWriter writer(request.id(), kAgentName, request.target(), kPerformanceNamespace);
        pugi::xml_node result = writer.result("performance", "listCountersResult");
        for (const Offered& counter : offeredCounters()) {
            pugi::xml_node node = ReplyWriter::add(result, "counter");
            ReplyWriter::add(node, "path", counter.path);
            ReplyWriter::add(node, "rate", counter.rate ? "true" : "false");
        }
        writer.appendFrame(out);
        return false;
    }
    if (op == "sample") {
        bool waiting = false;
        sample(request, out, waiting);
        return waiting;
    }
    appendErrorFrame(out, request.id(), kAgentName, request.target(), kErrUnknownOperation,
                     "interface 'performance' has no operation '" + std::string(op) + "'");
    return false;
}

void PerformanceHandler::sample(const Request& request, std::string& out, bool& waiting) {
    auto fail = [&](const std::string& message) {
        appendErrorFrame(out, request.id(), kAgentName, request.target(), kErrBadArgument, message);
    };
    Pending pending;
    pending.id = request.id();
    pending.target = request.target();
    long long interval = 0;
    for (pugi::xml_node arg = firstElement(request.operationNode()); arg; arg = arg.next_sibling()) {
        if (arg.type() != pugi::node_element) {
            continue;
        }
        const std::string_view name = localName(arg);
        if (name == "counter") {
            if (pending.entries.size() == kMaxRequestCounters) {
                return fail("at most " + std::to_string(kMaxRequestCounters) + " counters per sample");
            }
            pending.entries.push_back({arg.child_value(), 0});
        } else if (name == "interval") {
            const std::string_view text = arg.child_value();
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), interval);
            if (ec != std::errc() || end != text.data() + text.size() || interval < 0 ||
                interval > kMaxIntervalMs) {
                return fail("interval '" + std::string(text) +
                            "' is not a number of milliseconds from 0 to " + std::to_string(kMaxIntervalMs));
            }
        } else {
            return fail("sample has no argument '" + std::string(name) + "'");
        }
    }
    if (pending.entries.empty()) {
        return fail("sample needs at least one counter");
    }
    pending.interval = std::chrono::milliseconds(interval);

    addCounters(pending.entries);
    m_query.collectData(0);
    bool anyAdded = false;
    for (const Entry& entry : pending.entries) {
        anyAdded |= entry.status == 0;
    }
    if (interval > 0 && anyAdded) {
        m_pending = std::move(pending);
        waiting = true;
        return;
    }
    appendSampleReply(pending, out);
}

void PerformanceHandler::addCounters(std::vector<Entry>& entries) {
    if (m_query.open() != 0) {
        for (Entry& entry : entries) {
            entry.status = m_query.getStatus();
        }
        return;
    }
    std::set<std::string> named;
    for (const Entry& entry : entries) {
        named.insert(entry.path);
    }
    std::size_t missing = 0;
    for (const std::string& path : named) {
        missing += m_counters.count(path) == 0 ? 1 : 0;
    }
    if (m_counters.size() + missing > kMaxSessionCounters) {
        for (auto it = m_counters.begin(); it != m_counters.end();) {
            if (named.count(it->first) == 0) {
                m_query.removeCounter(it->second);
                it = m_counters.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::set<std::string> added;
    for (Entry& entry : entries) {
        if (m_counters.count(entry.path) != 0) {
            continue;
        }
        OVL::OVLPdhCounter counter(entry.path);
        entry.status = m_query.addCounter(counter);
        if (entry.status == 0) {
            m_counters.emplace(entry.path, counter);
            added.insert(entry.path);
        }
    }
    for (Entry& entry : entries) {
        entry.fresh = added.count(entry.path) != 0;
    }
}

void PerformanceHandler::finishSample(std::string& out) {
    m_query.collectData(0);
    appendSampleReply(m_pending, out);
    m_pending = Pending();
}

void PerformanceHandler::appendSampleReply(const Pending& pending, std::string& out) {
    ReplyWriter writer(pending.id, kAgentName, pending.target, kPerformanceNamespace);
    pugi::xml_node result = writer.result("performance", "sampleResult");
    ReplyWriter::add(result, "interval", std::to_string(pending.interval.count()));
    for (const Entry& entry : pending.entries) {
        pugi::xml_node node = ReplyWriter::add(result, "counter");
        ReplyWriter::add(node, "path", entry.path);
        long status = entry.status;
        double value = 0;
        if (status == 0) {
            auto counter = m_counters.find(entry.path);
            status = counter == m_counters.end() ? OVLPdhQuery::kInvalidHandle
                                                 : m_query.getValue(counter->second, value);
            // The query's previous collection did not read a fresh counter's source, which it
            // reports as a missing instance: the rate simply has no first sample yet.
            if (status == OVLPdhQuery::kNoInstance && entry.fresh && pending.interval.count() == 0) {
                status = OVLPdhQuery::kInvalidData;
            }
        }
        if (status == 0) {
            ReplyWriter::add(node, "value", number(value));
        } else {
            ReplyWriter::add(node, "status", hexStatus(status));
            ReplyWriter::add(node, "message", statusText(status));
        }
    }
    writer.appendFrame(out);
}

}  // namespace ovagent
