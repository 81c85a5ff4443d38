// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Numeric element identifiers.
//
// Messages address child elements either by name or by a numeric identifier that stands for a
// fixed element name (OVLElementTable.inc holds the table). OVLElement::Data (1307) is the
// packet's `data` element, OVLElement::Target (1401) its `target` element, and so on.
// Resolving an identifier is a binary search over a static table: no allocation, no string
// building. All members are thread-safe.

#include "OVLMessage/OVLMessageExport.h"

namespace OVL {

class OVLMESSAGE_EXPORT OVLElement {
public:
    enum : int {
#define OVL_ELEMENT(constant, identifier, name) constant = (identifier),
#include "OVLMessage/OVLElementTable.inc"
#undef OVL_ELEMENT
    };

    // The element name of `id`; null for an identifier that the table does not know.
    static const char* name(int id) noexcept;
    // The identifier of an element name; -1 when no identifier stands for it (or name is null).
    static int id(const char* name) noexcept;
};

}  // namespace OVL
