// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLConnection/OVLReply.h"

#include <cstdlib>
#include <cstring>

namespace OVL {

OVLReply::OVLReply(std::string text) : m_text(std::move(text)) {}

OVLReply::~OVLReply() = default;

char* OVLReply::getText(std::size_t offset, std::string& error, std::size_t maxKiB) const {
    if (m_finished) {
        error = "the reply was finished already";
        return nullptr;
    }
    if (offset > m_text.size()) {
        error = "offset " + std::to_string(offset) + " lies past the end of the reply (" +
                std::to_string(m_text.size()) + " bytes)";
        return nullptr;
    }
    const std::size_t length = m_text.size() - offset;
    if (maxKiB != 0 && length > maxKiB * 1024) {
        error = "the reply has " + std::to_string(length) + " bytes, more than the " +
                std::to_string(maxKiB) + " KiB asked for";
        return nullptr;
    }
    char* out = static_cast<char*>(std::malloc(length + 1));
    if (out == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    std::memcpy(out, m_text.data() + offset, length);
    out[length] = '\0';
    return out;
}

int OVLReply::finish() {
    if (m_finished) {
        return -1;
    }
    m_finished = true;
    std::string().swap(m_text);
    return 0;
}

}  // namespace OVL
