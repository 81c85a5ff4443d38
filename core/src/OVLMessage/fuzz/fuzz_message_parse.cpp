// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for OVLMessage::parse.
//
// Every input must either be rejected with an error text that names a position, or give a tree
// that can be walked, printed, and parsed again to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "OVLMessage/OVLMessage.h"

namespace {

void walk(OVL::OVLMessageIterator it) {
    // Iterative depth-first walk over every element.
    std::string text;
    for (;;) {
        it.getText(text);
        it.getAttribute("id", text);
        if (it.moveToFirstChild() == 0) {
            continue;
        }
        while (it.moveToNextSibling() != 0) {
            if (it.moveToParent() != 0) {
                return;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    OVL::OVLMessagePtr msg = OVL::OVLMessage::getFactory()->createNew();
    if (msg->parse(reinterpret_cast<const char*>(data), size, 0) != 0) {
        if (msg->getError().empty()) {
            std::abort();
        }
        return 0;
    }
    walk(msg->getIterator());
    const std::string compact = msg->toString(OVL::OVLMessage::kCompact);
    const std::string indented = msg->toString(OVL::OVLMessage::kIndent | OVL::OVLMessage::kDeclaration);

    OVL::OVLMessagePtr again = OVL::OVLMessage::getFactory()->createNew();
    if (again->parse(compact.data(), compact.size(), 0) != 0) {
        std::abort();
    }
    if (again->toString(OVL::OVLMessage::kCompact) != compact) {
        std::abort();
    }
    // The layouts with line breaks add only whitespace that parsing drops again.
    if (again->parse(indented.data(), indented.size(), 0) != 0) {
        std::abort();
    }
    if (again->toString(OVL::OVLMessage::kCompact) != compact) {
        std::abort();
    }
    const std::string lines = msg->toString(OVL::OVLMessage::kLines);
    if (again->parse(lines.data(), lines.size(), 0) != 0) {
        std::abort();
    }
    if (again->toString(OVL::OVLMessage::kCompact) != compact) {
        std::abort();
    }
    return 0;
}
