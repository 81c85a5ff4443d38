// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Local time in the 24-character ctime layout ("Sun Dec  6 18:49:05 2026"), cheap enough to call
// once per log record: the offset from UTC is looked up through localtime_r only when the time
// enters a new quarter hour (daylight-saving changes fall on such boundaries), and the text is
// reused within one second. Not synchronised: the owner serialises calls.

#include <ctime>

namespace OVL {
namespace detail {

class OVLLocalClock {
public:
    static constexpr int kTextLength = 24;

    // Writes the text for `now` into out[0..23] (no terminating zero).
    void format(std::time_t now, char* out);

private:
    std::time_t m_offsetWindow = -1;  // quarter hour (UTC) for which m_offset holds
    long m_offset = 0;                // seconds east of UTC
    std::time_t m_textSecond = -1;    // second for which m_text holds
    char m_text[kTextLength] = {};
};

// Formats broken-down time fields in asctime layout; out must hold 24 characters.
void formatAsctime(const struct tm& tm, char* out) noexcept;

}  // namespace detail
}  // namespace OVL
