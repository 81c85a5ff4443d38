// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLMessage/OVLElement.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace OVL {
namespace {

struct Entry {
    int id;
    const char* name;
};

constexpr Entry kTable[] = {
#define OVL_ELEMENT(constant, identifier, name) {identifier, name},
#include "OVLMessage/OVLElementTable.inc"
#undef OVL_ELEMENT
};

constexpr bool sortedAndUnique() {
    for (std::size_t i = 1; i < std::size(kTable); ++i) {
        if (kTable[i - 1].id >= kTable[i].id) {
            return false;
        }
    }
    return true;
}
static_assert(sortedAndUnique(), "OVLElementTable.inc must be sorted by identifier without duplicates");

}  // namespace

const char* OVLElement::name(int id) noexcept {
    const Entry* end = std::end(kTable);
    const Entry* it =
        std::lower_bound(std::begin(kTable), end, id, [](const Entry& e, int value) { return e.id < value; });
    return it != end && it->id == id ? it->name : nullptr;
}

int OVLElement::id(const char* name) noexcept {
    if (name == nullptr) {
        return -1;
    }
    for (const Entry& e : kTable) {
        if (std::strcmp(e.name, name) == 0) {
            return e.id;
        }
    }
    return -1;
}

}  // namespace OVL
