// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The configuration of an agent environment: an ordered list of named text fields (names are
// XML element names, values UTF-8 text). The substitution feature of the console looks
// environments up by these fields.
//
// XML form: one child element per field, in order, below the current element:
//     <hostname>web01</hostname><role>db</role>
//
// A value type; not synchronised.

#include <string>
#include <utility>
#include <vector>

#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLEnvConfig {
public:
    using Field = std::pair<std::string, std::string>;

    // Sets a field, replacing the value of an existing one (which keeps its place).
    void set(const std::string& name, std::string value);
    // 0 and the value when the field exists; -1 otherwise (`value` unchanged).
    int get(const std::string& name, std::string& value) const;
    // 0 when a field was removed, -1 when there was none.
    int remove(const std::string& name);

    const std::vector<Field>& fields() const noexcept { return m_fields; }
    bool empty() const noexcept { return m_fields.empty(); }

    bool operator==(const OVLEnvConfig& other) const { return m_fields == other.m_fields; }
    bool operator!=(const OVLEnvConfig& other) const { return !(*this == other); }

    // Replaces the configuration by the child elements of the current element (name and
    // text of each; a repeated name keeps the last value). Always 0.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLEnvConfig& config) const;
    };
    // Writes every field as a child element. -1 when a field name is not a valid element name
    // or its value is not valid text; the other fields are still written.
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLEnvConfig& config) const;
    };

private:
    std::vector<Field> m_fields;
};

}  // namespace OVL
