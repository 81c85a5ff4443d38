// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLEnvConfig.h"

#include <algorithm>

namespace OVL {

void OVLEnvConfig::set(const std::string& name, std::string value) {
    for (Field& f : m_fields) {
        if (f.first == name) {
            f.second = std::move(value);
            return;
        }
    }
    m_fields.emplace_back(name, std::move(value));
}

int OVLEnvConfig::get(const std::string& name, std::string& value) const {
    for (const Field& f : m_fields) {
        if (f.first == name) {
            value = f.second;
            return 0;
        }
    }
    return -1;
}

int OVLEnvConfig::remove(const std::string& name) {
    auto it = std::find_if(m_fields.begin(), m_fields.end(), [&](const Field& f) { return f.first == name; });
    if (it == m_fields.end()) {
        return -1;
    }
    m_fields.erase(it);
    return 0;
}

int OVLEnvConfig::Reader::operator()(OVLMessageIterator& it, OVLEnvConfig& config) const {
    OVLEnvConfig read;
    OVLMessageIterator field(it);
    if (field.moveToFirstChild() == 0) {
        do {
            std::string value;
            field.getText(value);
            read.set(field.getName(), std::move(value));
        } while (field.moveToNextSibling() == 0);
    }
    config = std::move(read);
    return 0;
}

int OVLEnvConfig::Writer::operator()(OVLMessageIterator& it, const OVLEnvConfig& config) const {
    int result = 0;
    for (const Field& f : config.m_fields) {
        if (it.writeText(f.first.c_str(), f.second) != 0) {
            result = -1;
        }
    }
    return result;
}

}  // namespace OVL
