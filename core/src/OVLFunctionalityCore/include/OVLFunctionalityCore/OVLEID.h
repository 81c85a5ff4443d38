// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Identifiers of the agent data types, and their reader and writer.
//
// OVLEID identifies an agent environment (the id that a connection reports when the agent has
// accepted a login); OVLGUID identifies realms. Both are OVLGUIDBase values and travel in their
// 36-character lower-case text form as an element's text.

#include "OVLCore/OVLGUIDBase.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

using OVLEID = eid_t;
using OVLGUID = OVLGUIDBase;

// Reads the element's text as GUID text (the strict 36-character form, or in braces). -1 on
// any other text; the value is then unchanged.
struct OVLFUNCTIONALITYCORE_EXPORT OVLGUIDReader {
    int operator()(OVLMessageIterator& it, OVLGUIDBase& value) const;
};
// Writes the value's text form as the element's text.
struct OVLFUNCTIONALITYCORE_EXPORT OVLGUIDWriter {
    int operator()(OVLMessageIterator& it, const OVLGUIDBase& value) const;
};

}  // namespace OVL
