// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <typeinfo>

#include "OVLCommon/Logger.h"
#include "OVLCore/OVLConnectivityInfo.h"
#include "OVLCore/OVLLoggedRefCounter.h"
#include "OVLCore/OVLRefCounter.h"

namespace OVL {

OVLRefCounter::~OVLRefCounter() = default;

void intrusive_ptr_add_ref(OVLRefCounter* p) noexcept {
    p->m_refCount.fetch_add(1, std::memory_order_relaxed);
}

void intrusive_ptr_release(OVLRefCounter* p) noexcept {
    if (p->m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete p;
    }
}

namespace {
// The run-time type name of a pointer to OVLLoggedRefCounter: the same text for every object.
const char* loggedTypeName() {
    return typeid(OVLLoggedRefCounter*).name();
}
}  // namespace

OVLLoggedRefCounter::~OVLLoggedRefCounter() = default;

void OVLLoggedRefCounter::addRef() {
    m_refCount.fetch_add(1);
    Log.put("+++Increment %s (%ld)", loggedTypeName(), m_refCount.load());
}

void OVLLoggedRefCounter::release() {
    Log.put("---Decrement %s (%ld)", loggedTypeName(), m_refCount.load() - 1);
    if (m_refCount.fetch_sub(1) == 1) {
        delete this;
    }
}

OVLConnectivityInfo::OVLConnectivityInfo(const std::string& first, const std::string& second, int value)
    : m_first(first), m_second(second), m_value(value) {}

OVLConnectivityInfo::~OVLConnectivityInfo() = default;

bool OVLConnectivityInfo::operator==(const OVLConnectivityInfo& other) const {
    return m_first == other.m_first && m_second == other.m_second && m_value == other.m_value;
}

bool OVLConnectivityInfo::operator<(const OVLConnectivityInfo& other) const {
    if (int c = m_second.compare(other.m_second)) {
        return c < 0;
    }
    if (int c = m_first.compare(other.m_first)) {
        return c < 0;
    }
    return m_value < other.m_value;
}

}  // namespace OVL
