// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLLock.h"

#include <sched.h>

#include "OVLCore/OVLSpinLock.h"

namespace OVL {

OVLLock::OVLLock() = default;

OVLLock::~OVLLock() = default;

void OVLLock::lock() {
    m_section.lock();
}

void OVLLock::unlock() {
    m_section.unlock();
}

void schedYield() noexcept {
    ::sched_yield();
}

}  // namespace OVL
