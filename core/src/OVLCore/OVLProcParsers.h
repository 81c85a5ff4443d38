// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Parsers of the kernel's statistics texts that the counter source samples (/proc/stat,
// /proc/meminfo, /proc/diskstats, /proc/net/dev, /proc/<pid>/stat). Each is a pure function of
// the file's text: the caller reads the file. Internal to OVLCore.
//
// Malformed or truncated lines give zeros in the fields they lack, never a failure: the kernel
// writes these files whole, and a counter that reads 0 is better than a query that stops.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace OVL {
namespace detail {

// Clock ticks of one processor (or of all), summed the way the processor counters need them.
struct CpuTimes {
    unsigned long long total = 0;       // every state but guest time, which user time includes
    unsigned long long idle = 0;        // idle + iowait
    unsigned long long user = 0;        // user + nice
    unsigned long long privileged = 0;  // system + irq + softirq
};

// The "cpu" lines of /proc/stat: [0] all processors, [n + 1] processor n, `cpuCount + 1` entries;
// processors the text lacks (offline) stay zero, lines of processors beyond `cpuCount` are skipped.
std::vector<CpuTimes> parseStat(std::string_view text, std::size_t cpuCount);

// Bytes from /proc/meminfo; -1 when the text lacks the line.
struct MemoryTotals {
    long long available = -1;  // MemAvailable
    long long committed = -1;  // Committed_AS
};
MemoryTotals parseMeminfo(std::string_view text);

// Two running totals of one device: disk sectors read and written, or network bytes received
// and sent.
struct Transfer {
    unsigned long long in = 0;
    unsigned long long out = 0;
};
using TransferTable = std::map<std::string, Transfer, std::less<>>;

// Sectors per device of /proc/diskstats, with "_Total" the sum over the `physical` disks (so that
// partitions and virtual volumes are not counted twice).
TransferTable parseDiskstats(std::string_view text, const std::set<std::string>& physical);

// Bytes per interface of /proc/net/dev, with "_Total" the sum over every interface but "lo".
TransferTable parseNetDev(std::string_view text);

// CPU time and resident size of a /proc/<pid>/stat text. False when the text has no command name
// in parentheses.
struct ProcessStat {
    unsigned long long ticks = 0;  // utime + stime, in clock ticks
    long long rssPages = 0;
};
bool parseProcessStat(std::string_view text, ProcessStat& out);

}  // namespace detail
}  // namespace OVL
