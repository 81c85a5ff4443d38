// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "ReplyCollector.h"

#include <cstdlib>
#include <iostream>

namespace ovlsend {

void ReplyCollector::onError(const OVL::OVLRequestErrorData& err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_error = err.m_message;
    m_cv.notify_all();
}

void ReplyCollector::onConnected(const OVL::eid_t& eid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = true;
    m_eid = eid;
    m_cv.notify_all();
}

void ReplyCollector::onDisconnected(const OVL::OVLRequestErrorData& err) {
    onError(err);
}

void ReplyCollector::onAgentTrusted(const OVL::OVLAgentTrust& trust) {
    // One write, so that the line stays whole beside the main thread's output.
    std::cerr << ("ovlsend: trusted on first use: " + trust.describe() + "\n") << std::flush;
}

void ReplyCollector::onRequestError(const OVL::OVLRequestErrorData& err) {
    onError(err);
}

int ReplyCollector::onReplyComplete(const OVL::OVLReplyPtr& reply) {
    const auto complete = std::chrono::steady_clock::now();
    std::string error;
    char* text = reply->getText(0, error, 0);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back({text != nullptr ? text : "", complete});
        m_cv.notify_all();
    }
    std::free(text);
    return reply->finish();
}

bool ReplyCollector::waitConnected(std::chrono::milliseconds timeout, OVL::eid_t& eid, std::string& error) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [&] { return m_connected || m_ended; })) {
        error = "no connection within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    if (!m_connected) {
        error = m_error;
        return false;
    }
    eid = m_eid;
    return true;
}

bool ReplyCollector::nextReply(std::chrono::milliseconds timeout, CollectedReply& reply, std::string& error) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [&] { return m_taken < m_replies.size() || m_ended; })) {
        error = "no reply within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    if (m_taken < m_replies.size()) {
        reply = std::move(m_replies[m_taken++]);
        return true;
    }
    error = m_error;
    return false;
}

}  // namespace ovlsend
