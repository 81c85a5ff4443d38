// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/FrameSplitter.h"

#include <algorithm>
#include <cstring>

namespace OVL::Wire {

FrameSplitter::FrameSplitter(std::size_t maxFrameSize, std::size_t initialCapacity)
    : m_maxFrameSize(maxFrameSize), m_initialCapacity(std::max<std::size_t>(initialCapacity, 64)) {}

std::span<char> FrameSplitter::prepare(std::size_t minimum) {
    if (m_begin == m_end) {
        m_begin = m_scanned = m_end = 0;
    }
    if (m_capacity - m_end < minimum && m_begin > 0) {
        const std::size_t kept = m_end - m_begin;
        std::memmove(m_buffer.get(), m_buffer.get() + m_begin, kept);
        m_scanned -= m_begin;
        m_end = kept;
        m_begin = 0;
    }
    if (m_capacity - m_end < minimum) {
        std::size_t capacity =
            std::max(m_capacity == 0 ? m_initialCapacity : m_capacity * 2, m_end + minimum);
        auto grown = std::make_unique<char[]>(capacity);
        if (m_end > 0) {
            std::memcpy(grown.get(), m_buffer.get(), m_end);
        }
        m_buffer = std::move(grown);
        m_capacity = capacity;
    }
    return {m_buffer.get() + m_end, m_capacity - m_end};
}

void FrameSplitter::commit(std::size_t n) {
    m_end += std::min(n, m_capacity - m_end);
}

FrameSplitter::Status FrameSplitter::next(std::span<char>& frame) {
    char* base = m_buffer.get();
    if (m_scanned < m_end) {
        auto* zero = static_cast<char*>(std::memchr(base + m_scanned, 0, m_end - m_scanned));
        if (zero != nullptr) {
            const std::size_t length = static_cast<std::size_t>(zero - (base + m_begin));
            if (length > m_maxFrameSize) {
                return Status::tooLarge;
            }
            frame = {base + m_begin, length};
            m_begin = m_scanned = static_cast<std::size_t>(zero - base) + 1;
            return Status::frame;
        }
        m_scanned = m_end;
    }
    return m_end - m_begin > m_maxFrameSize ? Status::tooLarge : Status::needMore;
}

void FrameSplitter::shrink() {
    if (m_begin == m_end) {
        m_buffer.reset();
        m_capacity = m_begin = m_scanned = m_end = 0;
        return;
    }
    const std::size_t kept = m_end - m_begin;
    if (m_capacity <= m_initialCapacity || kept > m_initialCapacity) {
        return;
    }
    auto trimmed = std::make_unique<char[]>(m_initialCapacity);
    std::memcpy(trimmed.get(), m_buffer.get() + m_begin, kept);
    m_buffer = std::move(trimmed);
    m_capacity = m_initialCapacity;
    m_scanned -= m_begin;
    m_end = kept;
    m_begin = 0;
}

}  // namespace OVL::Wire
