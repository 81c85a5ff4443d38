// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLEID.h"

#include <string>

namespace OVL {

int OVLGUIDReader::operator()(OVLMessageIterator& it, OVLGUIDBase& value) const {
    std::string text;
    if (it.getText(text) != 0) {
        return -1;
    }
    OVLGUIDBase parsed;
    // fromString reads a fixed number of characters; the length check makes it exact.
    const bool braced = !text.empty() && text.front() == '{';
    if (text.size() != (braced ? 38u : 36u) || parsed.fromString(text.c_str()) != 0) {
        return -1;
    }
    value = parsed;
    return 0;
}

int OVLGUIDWriter::operator()(OVLMessageIterator& it, const OVLGUIDBase& value) const {
    return it.setText(value.toString());
}

}  // namespace OVL
