// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Diagnostics logger of the platform: OVL::Log.
//
// Every put() call records exactly one line. By default lines go to standard error as
//   2026-12-07 23:14:05.123 [L1] text
// A process may redirect them to a file or to a callback (tests read lines this way).
// All members are thread-safe and never throw; a line that cannot be formatted or written is
// dropped.

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

#include "OVLCommon/Export.h"

namespace OVL {

class OVLCOMMON_EXPORT Logger {
public:
    // Levels, most severe first; a threshold keeps every level up to and including itself.
    enum Level : int { kError = 1, kWarning = 2, kInfo = 3, kDebug = 4 };
    // Level of the put() form without a level.
    static constexpr int kDefaultLevel = kWarning;

    // Receives the level and the formatted text (without time stamp or line end).
    using Sink = std::function<void(int level, std::string_view text)>;

    constexpr Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void put(int level, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
    void put(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
    void vput(int level, const char* format, va_list args) noexcept;

    // Lines whose level is above the threshold are dropped. Default: kInfo.
    void setThreshold(int level) noexcept;
    int threshold() const noexcept;

    // Sends lines to `sink`; an empty sink restores standard error. Returns the previous sink.
    Sink setSink(Sink sink);
    // Appends lines to the file at `path` (opened per line). False if it cannot be opened; the
    // previous destination then stays.
    bool setFile(const std::string& path);
};

// The process-wide logger.
OVLCOMMON_EXPORT extern Logger Log;

}  // namespace OVL
