// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "RoundTripStats.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace ovlsend {

std::chrono::nanoseconds nearestRank(std::vector<std::chrono::nanoseconds> samples, int percent) {
    if (samples.empty()) {
        return std::chrono::nanoseconds(0);
    }
    percent = std::clamp(percent, 1, 100);
    const std::size_t n = samples.size();
    const std::size_t rank = (static_cast<std::size_t>(percent) * n + 99) / 100;  // ceil, >= 1
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank - 1), samples.end());
    return samples[rank - 1];
}

RoundTripStats summarize(const std::vector<std::chrono::nanoseconds>& samples) {
    RoundTripStats stats;
    if (samples.empty()) {
        return stats;
    }
    stats.count = samples.size();
    std::chrono::nanoseconds total{0};
    for (const auto sample : samples) {
        total += sample;
    }
    stats.mean = total / static_cast<std::chrono::nanoseconds::rep>(samples.size());
    stats.p50 = nearestRank(samples, 50);
    stats.p99 = nearestRank(samples, 99);
    stats.max = *std::max_element(samples.begin(), samples.end());
    return stats;
}

std::string formatMs(std::chrono::nanoseconds time) {
    const std::int64_t us = (std::max<std::int64_t>(time.count(), 0) + 500) / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03" PRId64 " ms", us / 1000, us % 1000);
    return text;
}

std::string formatStats(const RoundTripStats& stats) {
    return "count " + std::to_string(stats.count) + ", mean " + formatMs(stats.mean) + ", p50 " +
           formatMs(stats.p50) + ", p99 " + formatMs(stats.p99) + ", max " + formatMs(stats.max);
}

}  // namespace ovlsend
