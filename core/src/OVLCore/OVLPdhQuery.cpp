// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLPdhQuery.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "OVLCommon/Errors.h"
#include "OVLCounterSource.h"

namespace OVL {

OVLPdhQuery::OVLPdhQuery() = default;
OVLPdhQuery::OVLPdhQuery(const OVLPdhQuery& other) = default;

OVLPdhQuery& OVLPdhQuery::operator=(const OVLPdhQuery& other) {
    if (this != &other) {
        close();
        m_query = other.m_query;
        m_open = other.m_open;
        m_counters = other.m_counters;
        m_status = other.m_status;
        m_message = other.m_message;
    }
    return *this;
}

OVLPdhQuery::~OVLPdhQuery() {
    close();
}

long OVLPdhQuery::checkResult(long status) {
    m_status = status;
    if (status == 0) {
        return 0;
    }
    m_message = formatWin32Error(getLastError());
    return status;
}

long OVLPdhQuery::open() {
    if (m_open) {
        return 0;
    }
    long status = 0;
    try {
        m_query = std::make_shared<detail::OVLCounterSource>();
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        status = kInvalidArgument;
    }
    status = checkResult(status);
    m_open = status == 0;
    return status;
}

long OVLPdhQuery::addCounter(OVLPdhCounter& counter) {
    if (!m_query) {
        errno = EBADF;
        return checkResult(kInvalidHandle);
    }
    OVLPdhCounter::Handle handle = 0;
    const long status = checkResult(m_query->add(counter.m_path, handle));
    if (status == 0) {
        counter.m_handle = handle;
        m_counters.insert(handle);
    }
    return status;
}

long OVLPdhQuery::addCounter(OVLPdhCounter* counters, int count) {
    if (count > 0 && counters == nullptr) {
        errno = EINVAL;
        return checkResult(kInvalidArgument);
    }
    for (int i = 0; i < count; ++i) {
        if (const long status = addCounter(counters[i]); status != 0) {
            return status;
        }
    }
    return 0;
}

long OVLPdhQuery::removeCounter(OVLPdhCounter& counter) {
    m_counters.erase(counter.m_handle);
    if (!m_query) {
        errno = EBADF;
        return checkResult(kInvalidHandle);
    }
    return checkResult(m_query->remove(counter.m_handle));
}

long OVLPdhQuery::collectData(unsigned long ms) {
    if (!m_query) {
        errno = EBADF;
        return checkResult(kInvalidHandle);
    }
    long status = checkResult(m_query->collect());
    if (status == 0 && ms != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        status = checkResult(m_query->collect());
    }
    return status;
}

long OVLPdhQuery::getValue(const OVLPdhCounter& counter, double& value) {
    if (!m_query) {
        errno = EBADF;
        return checkResult(kInvalidHandle);
    }
    return checkResult(m_query->value(counter.m_handle, value));
}

void OVLPdhQuery::close() {
    // Copies share the query: only the last one removes the counters and closes it.
    if (m_query && m_query.use_count() == 1) {
        for (OVLPdhCounter::Handle handle : m_counters) {
            m_query->remove(handle);
        }
    }
    m_counters.clear();
    m_query.reset();
    m_open = false;
}

}  // namespace OVL
