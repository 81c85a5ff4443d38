// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Round-trip figures of ovlsend --time: the summary over the recorded reply times, and the
// formatting of times in milliseconds.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace ovlsend {

struct RoundTripStats {
    std::size_t count = 0;
    std::chrono::nanoseconds mean{0};  // rounded down to the nanosecond
    std::chrono::nanoseconds p50{0};
    std::chrono::nanoseconds p99{0};
    std::chrono::nanoseconds max{0};
};

// The nearest-rank percentile (1 to 100) of the samples: the smallest sample that at least
// `percent` % of the samples do not exceed, i.e. the ceil(percent / 100 * n)-th smallest. Exact,
// no interpolation. Zero for no samples.
std::chrono::nanoseconds nearestRank(std::vector<std::chrono::nanoseconds> samples, int percent);

// Count, mean, p50, p99 and max of the samples; all zero for none.
RoundTripStats summarize(const std::vector<std::chrono::nanoseconds>& samples);

// A time in milliseconds with three decimals (microseconds, rounded to nearest): "12.400 ms".
std::string formatMs(std::chrono::nanoseconds time);

// The summary line: "count 3, mean 1.000 ms, p50 1.000 ms, p99 2.000 ms, max 2.000 ms".
std::string formatStats(const RoundTripStats& stats);

}  // namespace ovlsend
