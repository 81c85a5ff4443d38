// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The log record's time text against the C library's ctime, across zones, centuries and
// daylight-saving changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "OVLLocalClock.h"

using OVL::detail::OVLLocalClock;

namespace {

class LocalClockInZone : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        m_hadTz = old != nullptr;
        if (m_hadTz) {
            m_oldTz = old;
        }
        // The test runs no other thread.
        // NOLINTBEGIN(concurrency-mt-unsafe)
        setenv("TZ", GetParam(), 1);
        tzset();
    }
    void TearDown() override {
        if (m_hadTz) {
            setenv("TZ", m_oldTz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
        // NOLINTEND(concurrency-mt-unsafe)
    }

    static std::string expected(std::time_t t) {
        char text[64];
        if (ctime_r(&t, text) == nullptr) {
            return "";
        }
        return std::string(text, 24);
    }
    static std::string formatted(OVLLocalClock& clock, std::time_t t) {
        char text[24];
        clock.format(t, text);
        return std::string(text, 24);
    }

private:
    bool m_hadTz = false;
    std::string m_oldTz;
};

}  // namespace

TEST_P(LocalClockInZone, MatchesCtimeFrom1902To2100) {
    OVLLocalClock clock;
    for (long long t = -2147483647LL; t < 4102444800LL; t += 86400LL * 29 + 3599) {
        ASSERT_EQ(formatted(clock, static_cast<std::time_t>(t)), expected(static_cast<std::time_t>(t))) << t;
    }
}

TEST_P(LocalClockInZone, FollowsDaylightSavingChangesMinuteByMinute) {
    OVLLocalClock clock;
    // All of 2026 (both hemispheres change twice), every 7 minutes 13 seconds, in time order as a
    // log would see them.
    for (std::time_t t = 1767225600; t < 1798761600; t += 433) {
        ASSERT_EQ(formatted(clock, t), expected(t)) << t;
        ASSERT_EQ(formatted(clock, t), expected(t)) << t;  // the same second again, from the cache
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalClockInZone,
                         testing::Values("UTC", "Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns",
                                         "America/Los_Angeles"));

TEST(Asctime, FormatsFieldsAndMarksOutOfRangeOnes) {
    struct tm tm {};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 6;
    tm.tm_hour = 18;
    tm.tm_min = 49;
    tm.tm_sec = 5;
    char text[24];
    OVL::detail::formatAsctime(tm, text);
    EXPECT_EQ(std::string(text, 24), "Sun Dec  6 18:49:05 2026");
    tm.tm_wday = 9;
    tm.tm_mon = -1;
    tm.tm_mday = 123;
    tm.tm_year = 9000;
    OVL::detail::formatAsctime(tm, text);
    EXPECT_EQ(std::string(text, 24), "??? ??? ?? 18:49:05 ????");
}
