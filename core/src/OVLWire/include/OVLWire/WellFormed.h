// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The strict check of one frame against XML 1.0: what a conforming parser accepts, and nothing else.
// The DOM parser behind Request is lenient (it keeps a second root element, undefined entities,
// duplicate attributes, control characters), so every request frame passes this check first.

#include <string>
#include <string_view>

#include "OVLWire/Protocol.h"

namespace OVL::Wire {

// True when `text` is exactly one well-formed XML 1.0 document in UTF-8: one root element, no
// document type declaration (so no entities but the five predefined), no encoding declared other
// than UTF-8. Else false with `message` saying what is wrong and where:
// "malformed XML at line 1, column 37: junk after document element". Thread-safe.
bool checkWellFormed(std::string_view text, std::string& message);

// What checkFrame read of a packet before it stopped: the root's `id` attribute (when the root is
// a `packet`, matched by local name) and the text of the root's first `target` child, once that
// element has ended.
struct FrameStart {
    PacketId id;  // none, or the id attribute's text (empty for id="")
    std::string target;
};

// The check of checkWellFormed, and also of the nesting: an element deeper than `maxDepth` (the
// root counting as 1) stops the check where it starts, so that what the check holds is bounded by
// the depth limit, not by the frame's size. Returns 0, kErrMalformed (message as above) or
// kErrTooDeep ("element nesting deeper than 32"); `start` gets what could be read before.
int checkFrame(std::string_view text, int maxDepth, std::string& message, FrameStart& start);

}  // namespace OVL::Wire
