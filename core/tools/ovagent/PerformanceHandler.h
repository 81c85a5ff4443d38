// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Target "performance", interface "performance": listCounters and sample, over the host's counter
// queries (OVLPdhQuery).
//
// A session's counters stay in its query between requests, so a sample with interval 0 gives a
// rate counter's value since the session's previous sample of it; the first sample of a rate
// counter with interval 0 answers it with status kInvalidData. A sample with an interval takes one
// collection now and one after the interval: the caller waits in between (on a timer, without
// blocking a thread) and then calls finishSample(). The query keeps at most kMaxSessionCounters
// counters: when a request needs more, the counters it does not name are dropped first.
//
// One per session; used by one thread at a time (the session's strand).

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "OVLCore/OVLPdhQuery.h"
#include "OVLWire/Request.h"

namespace ovagent {

class PerformanceHandler {
public:
    static constexpr std::size_t kMaxRequestCounters = 32;
    static constexpr std::size_t kMaxSessionCounters = 64;
    static constexpr long long kMaxIntervalMs = 5000;

    // The counter paths offered by listCounters, with whether each is a rate.
    struct Offered {
        const char* path;
        bool rate;
    };
    static const std::vector<Offered>& offeredCounters();

    // Appends the reply for `request` to `out` and returns false; or, for a sample with an
    // interval, takes the first collection and returns true: the reply then comes from
    // finishSample() after pendingInterval().
    bool handle(const OVL::Wire::Request& request, std::string& out);
    std::chrono::milliseconds pendingInterval() const { return m_pending.interval; }
    // Takes the second collection of the pending sample and appends its reply to `out`.
    void finishSample(std::string& out);

private:
    struct Entry {
        std::string path;
        long status = 0;     // of adding the counter; 0 when it is in the query
        bool fresh = false;  // added by this request: no earlier collection holds its source
    };
    struct Pending {
        OVL::Wire::PacketId id;
        std::string target;
        std::vector<Entry> entries;
        std::chrono::milliseconds interval{0};
    };

    void sample(const OVL::Wire::Request& request, std::string& out, bool& waiting);
    void addCounters(std::vector<Entry>& entries);
    void appendSampleReply(const Pending& pending, std::string& out);

    OVL::OVLPdhQuery m_query;
    std::map<std::string, OVL::OVLPdhCounter> m_counters;  // in m_query, by the path as requested
    Pending m_pending;
};

}  // namespace ovagent
