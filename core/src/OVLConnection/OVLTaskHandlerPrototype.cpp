// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLConnection/OVLTaskHandlerPrototype.h"

namespace OVL {

OVLTaskHandlerPrototype::~OVLTaskHandlerPrototype() = default;

int OVLTaskHandlerPrototype::onReplyComplete(const OVLReplyPtr& reply) {
    return reply->finish();
}

void OVLTaskHandlerPrototype::onRequestError(const OVLRequestErrorData&) {}

void OVLTaskHandlerPrototype::onWriteFinished() {
    m_writeFinishedUnused.store(true, std::memory_order_relaxed);
}

bool OVLTaskHandlerPrototype::onReplyPiece(const char*, std::size_t, std::size_t& used) {
    used = 0;
    return true;
}

}  // namespace OVL
