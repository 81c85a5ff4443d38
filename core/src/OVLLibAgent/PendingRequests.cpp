// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "PendingRequests.h"

#include <algorithm>

namespace OVL::Agent {

bool PendingRequests::arm() {
    if (m_timerArmed || m_closed) {
        return false;
    }
    m_timerArmed = true;
    return true;
}

bool PendingRequests::add(const std::string& id, Request request) {
    MutexLock lock(m_mutex);
    m_requests[id] = std::move(request);
    return arm();
}

bool PendingRequests::addRaw(RawWait raw) {
    MutexLock lock(m_mutex);
    m_rawWaits.push_back(std::move(raw));
    return arm();
}

void PendingRequests::cancel(const std::string& id, bool drop) {
    MutexLock lock(m_mutex);
    m_requests.erase(id);
    if (drop) {
        abandon(id);
    }
}

void PendingRequests::abandon(const std::string& id) {
    m_abandoned.push_back(id);
    if (m_abandoned.size() > kMaxAbandoned) {
        m_abandoned.pop_front();
    }
}

bool PendingRequests::claim(const std::string& id, OVLTaskHandlerPrototypePtr& handler) {
    MutexLock lock(m_mutex);
    auto request = m_requests.find(id);
    if (request != m_requests.end()) {
        handler = request->second.handler;
        return true;
    }
    auto given = std::find(m_abandoned.begin(), m_abandoned.end(), id);
    if (given == m_abandoned.end()) {
        return false;
    }
    m_abandoned.erase(given);
    return true;
}

PendingRequests::Done PendingRequests::complete(const std::string& id) {
    MutexLock lock(m_mutex);
    auto request = m_requests.find(id);
    if (request == m_requests.end()) {
        return nullptr;
    }
    Done done = std::move(request->second.done);
    m_requests.erase(request);
    return done;
}

void PendingRequests::countRawReply() {
    MutexLock lock(m_mutex);
    if (!m_rawWaits.empty() && --m_rawWaits.front().frames == 0) {
        m_rawWaits.pop_front();
    }
}

std::optional<PendingRequests::Clock::time_point> PendingRequests::earliestDeadline() {
    MutexLock lock(m_mutex);
    Clock::time_point earliest = Clock::time_point::max();
    for (const auto& [id, request] : m_requests) {
        earliest = std::min(earliest, request.deadline);
    }
    if (!m_rawWaits.empty()) {
        earliest = std::min(earliest, m_rawWaits.front().deadline);
    }
    if (m_closed || earliest == Clock::time_point::max()) {
        m_timerArmed = false;
        return std::nullopt;
    }
    return earliest;
}

PendingRequests::Expired PendingRequests::takeExpired(Clock::time_point now) {
    Expired expired;
    MutexLock lock(m_mutex);
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        if (it->second.deadline <= now) {
            if (!it->second.handler) {
                abandon(it->first);
            }
            expired.requests.emplace_back(it->first, std::move(it->second));
            it = m_requests.erase(it);
        } else {
            ++it;
        }
    }
    // Raw writes expire in write order. Their replies, should they still come, go to the
    // subscribers like any unclaimed frame.
    while (!m_rawWaits.empty() && m_rawWaits.front().deadline <= now) {
        if (m_rawWaits.front().handler) {
            expired.raw.push_back(std::move(m_rawWaits.front()));
        }
        m_rawWaits.pop_front();
    }
    return expired;
}

std::unordered_map<std::string, PendingRequests::Request> PendingRequests::close() {
    std::unordered_map<std::string, Request> requests;
    MutexLock lock(m_mutex);
    m_closed = true;
    requests.swap(m_requests);
    m_rawWaits.clear();
    m_abandoned.clear();
    return requests;
}

}  // namespace OVL::Agent
