// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "HeapTrimmer.h"

#include <malloc.h>

namespace ovagent {

void HeapTrimmer::request() {
    if (m_armed.exchange(true)) {
        return;  // a trim is due already
    }
    boost::asio::post(m_timer.get_executor(), [this] {
        m_timer.expires_after(kDelay);
        m_timer.async_wait([this](boost::system::error_code ec) {
            if (ec) {
                return;
            }
            // Cleared first: a large frame answered during the trim asks for the next one.
            m_armed.store(false);
            ::malloc_trim(0);
            ++m_trims;
        });
    });
}

}  // namespace ovagent
