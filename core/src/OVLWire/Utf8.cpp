#include "OVLWire/Utf8.h"

#include "OVLCommon/Utf8.h"

namespace OVL::Wire {

bool isValidUtf8(std::string_view text) noexcept {
    // The shared validator stops at zero bytes, which are valid UTF-8 here.
    for (;;) {
        const std::size_t valid = validUtf8Prefix(text);
        if (valid == text.size())
            return true;
        if (text[valid] != '\0')
            return false;
        text.remove_prefix(valid + 1);
    }
}

}  // namespace OVL::Wire
