// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLLocalClock.h"

#include <cstdio>
#include <cstring>

namespace OVL {
namespace detail {

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void put2(char* out, int value, char pad) {
    out[0] = value >= 10 ? static_cast<char>('0' + value / 10) : pad;
    out[1] = static_cast<char>('0' + value % 10);
}

bool inRange(int value, int low, int high) {
    return value >= low && value <= high;
}

// Days since 1970-01-01 to year/month/day of the proleptic Gregorian calendar.
void civilFromDays(long long days, long long& year, int& month, int& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

void formatAsctime(const struct tm& tm, char* out) noexcept {
    std::memset(out, '?', 24);
    if (inRange(tm.tm_wday, 0, 6)) {
        std::memcpy(out, kDays[tm.tm_wday], 3);
    }
    out[3] = ' ';
    if (inRange(tm.tm_mon, 0, 11)) {
        std::memcpy(out + 4, kMonths[tm.tm_mon], 3);
    }
    out[7] = ' ';
    if (inRange(tm.tm_mday, 0, 99)) {
        put2(out + 8, tm.tm_mday, ' ');
    }
    out[10] = ' ';
    if (inRange(tm.tm_hour, 0, 99)) {
        put2(out + 11, tm.tm_hour, '0');
    }
    out[13] = ':';
    if (inRange(tm.tm_min, 0, 99)) {
        put2(out + 14, tm.tm_min, '0');
    }
    out[16] = ':';
    if (inRange(tm.tm_sec, 0, 99)) {
        put2(out + 17, tm.tm_sec, '0');
    }
    out[19] = ' ';
    const long long year = 1900LL + tm.tm_year;
    if (year >= 0 && year <= 9999) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(year));
        std::memcpy(out + 20, digits, 4);
    }
}

void OVLLocalClock::format(std::time_t now, char* out) {
    if (now != m_textSecond) {
        const std::time_t window = now / 900;
        if (window != m_offsetWindow) {
            struct tm local;
            if (localtime_r(&now, &local) != nullptr) {
                m_offset = local.tm_gmtoff;
            }
            m_offsetWindow = window;
        }
        const long long t = static_cast<long long>(now) + m_offset;
        long long days = t / 86400;
        long long secs = t % 86400;
        if (secs < 0) {
            secs += 86400;
            --days;
        }
        struct tm fields;
        std::memset(&fields, 0, sizeof fields);
        long long year;
        civilFromDays(days, year, fields.tm_mon, fields.tm_mday);
        fields.tm_mon -= 1;
        fields.tm_year = static_cast<int>(year - 1900);
        fields.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
        fields.tm_hour = static_cast<int>(secs / 3600);
        fields.tm_min = static_cast<int>(secs / 60 % 60);
        fields.tm_sec = static_cast<int>(secs % 60);
        formatAsctime(fields, m_text);
        m_textSecond = now;
    }
    std::memcpy(out, m_text, kTextLength);
}

}  // namespace detail
}  // namespace OVL
