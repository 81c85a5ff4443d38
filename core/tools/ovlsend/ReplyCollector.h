// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Collects what the agent library reports to ovlsend: the connection's outcome and the complete
// replies in arrival order, each with the time it was complete. The callbacks come on the
// library's I/O thread; the waiting operations are for the main thread.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"

namespace ovlsend {

struct CollectedReply {
    std::string text;                                // the packet as received, without its zero byte
    std::chrono::steady_clock::time_point complete;  // taken when the library handed it over
};

class ReplyCollector : public OVL::OVLConnectionHandlerPrototype, public OVL::OVLTaskHandlerPrototype {
public:
    void onError(const OVL::OVLRequestErrorData& err) override;
    void onConnected(const OVL::eid_t& eid) override;
    void onDisconnected(const OVL::OVLRequestErrorData& err) override;
    // Says on stderr which agent was trusted, with its fingerprint and store, as it happens.
    void onAgentTrusted(const OVL::OVLAgentTrust& trust) override;
    int onReplyComplete(const OVL::OVLReplyPtr& reply) override;
    void onRequestError(const OVL::OVLRequestErrorData& err) override;

    // True when connected within the time; else false with `error` set.
    bool waitConnected(std::chrono::milliseconds timeout, OVL::eid_t& eid, std::string& error);
    // Waits for the next reply; false with `error` set when the connection ended or time ran out.
    bool nextReply(std::chrono::milliseconds timeout, CollectedReply& reply, std::string& error);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_connected = false;               // guarded by m_mutex
    bool m_ended = false;                   // guarded by m_mutex
    std::string m_error;                    // guarded by m_mutex
    OVL::eid_t m_eid;                       // guarded by m_mutex
    std::vector<CollectedReply> m_replies;  // guarded by m_mutex
    std::size_t m_taken = 0;                // guarded by m_mutex
};

}  // namespace ovlsend
