#pragma once
// The strict check of one frame against XML 1.0: what a conforming parser accepts, and nothing else.
// The DOM parser behind Request is lenient (it keeps a second root element, undefined entities,
// duplicate attributes, control characters), so every request frame passes this check first.

#include <string>
#include <string_view>

namespace OVL::Wire {

// True when `text` is exactly one well-formed XML 1.0 document in UTF-8: one root element, no
// document type declaration (so no entities but the five predefined), no encoding declared other
// than UTF-8. Else false with `message` saying what is wrong and where:
// "malformed XML at line 1, column 37: junk after document element". Thread-safe.
bool checkWellFormed(std::string_view text, std::string& message);

}  // namespace OVL::Wire
