// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLProcParsers.h"

#include <charconv>
#include <cstring>

namespace OVL {
namespace detail {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Walks the lines of a text and the blank-separated fields of the current line.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : m_next(text.data()), m_end(text.data() + text.size()) {}

    // Moves to the next line; false at the end of the text.
    bool next() {
        if (m_next >= m_end) {
            return false;
        }
        m_pos = m_next;
        const void* nl = std::memchr(m_pos, '\n', static_cast<std::size_t>(m_end - m_pos));
        m_lineEnd = nl ? static_cast<const char*>(nl) : m_end;
        m_next = m_lineEnd + 1;
        return true;
    }
    std::string_view word() {
        skipBlanks();
        const char* start = m_pos;
        while (m_pos < m_lineEnd && !isBlank(*m_pos)) {
            ++m_pos;
        }
        return {start, static_cast<std::size_t>(m_pos - start)};
    }
    // The trimmed text up to `stop` (which is skipped); empty when the line has no `stop`.
    std::string_view upTo(char stop) {
        skipBlanks();
        const void* found = std::memchr(m_pos, stop, static_cast<std::size_t>(m_lineEnd - m_pos));
        if (found == nullptr) {
            return {};
        }
        const char* start = m_pos;
        m_pos = static_cast<const char*>(found) + 1;
        const char* last = m_pos - 1;
        while (last > start && last[-1] == ' ') {
            --last;
        }
        return {start, static_cast<std::size_t>(last - start)};
    }
    // The next field as a decimal number; 0 when it is missing, its leading digits otherwise.
    unsigned long long number() { return toNumber(word()); }

    static unsigned long long toNumber(std::string_view digits) {
        unsigned long long value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return value;
    }

private:
    void skipBlanks() {
        while (m_pos < m_lineEnd && isBlank(*m_pos)) {
            ++m_pos;
        }
    }

    const char* m_next;
    const char* m_end;
    const char* m_pos = nullptr;
    const char* m_lineEnd = nullptr;
};

}  // namespace

std::vector<CpuTimes> parseStat(std::string_view text, std::size_t cpuCount) {
    std::vector<CpuTimes> cpus(cpuCount + 1);
    for (LineCursor line(text); line.next();) {
        const std::string_view name = line.word();
        if (name.substr(0, 3) != "cpu") {
            break;  // the processor lines come first
        }
        std::size_t index = 0;
        if (name.size() > 3) {
            index = static_cast<std::size_t>(LineCursor::toNumber(name.substr(3))) + 1;
        }
        if (index >= cpus.size()) {
            continue;
        }
        // user nice system idle iowait irq softirq steal (guest time is inside user already)
        unsigned long long v[8];
        for (auto& x : v) {
            x = line.number();
        }
        CpuTimes& t = cpus[index];
        t.user = v[0] + v[1];
        t.privileged = v[2] + v[5] + v[6];
        t.idle = v[3] + v[4];
        t.total = t.user + t.privileged + t.idle + v[7];
    }
    return cpus;
}

MemoryTotals parseMeminfo(std::string_view text) {
    MemoryTotals totals;
    for (LineCursor line(text); line.next();) {
        const std::string_view key = line.word();
        if (key == "MemAvailable:") {
            totals.available = static_cast<long long>(line.number()) * 1024;
        } else if (key == "Committed_AS:") {
            totals.committed = static_cast<long long>(line.number()) * 1024;
        }
    }
    return totals;
}

TransferTable parseDiskstats(std::string_view text, const std::set<std::string>& physical) {
    TransferTable disks;
    Transfer total;
    for (LineCursor line(text); line.next();) {
        line.number();  // major
        line.number();  // minor
        const std::string name(line.word());
        if (name.empty()) {
            continue;
        }
        // reads, merged, sectors read, ms, writes, merged, sectors written
        unsigned long long v[7];
        for (auto& x : v) {
            x = line.number();
        }
        disks[name] = {v[2], v[6]};
        if (physical.count(name)) {
            total.in += v[2];
            total.out += v[6];
        }
    }
    disks["_Total"] = total;
    return disks;
}

TransferTable parseNetDev(std::string_view text) {
    TransferTable nets;
    Transfer total;
    for (LineCursor line(text); line.next();) {
        const std::string_view name = line.upTo(':');
        if (name.empty()) {
            continue;  // the two heading lines
        }
        // received: bytes packets errs drop fifo frame compressed multicast; then sent bytes
        unsigned long long v[9];
        for (auto& x : v) {
            x = line.number();
        }
        nets[std::string(name)] = {v[0], v[8]};
        if (name != "lo") {
            total.in += v[0];
            total.out += v[8];
        }
    }
    nets["_Total"] = total;
    return nets;
}

bool parseProcessStat(std::string_view text, ProcessStat& out) {
    // The command name may hold blanks and parentheses: it ends at the last ')'.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return false;
    }
    out = ProcessStat{};
    std::string_view rest = text.substr(close + 1);
    // Fields after the name: state is field 3; utime 14, stime 15, rss 24.
    for (int n = 3; n <= 24; ++n) {
        const auto start = rest.find_first_not_of(" \t\n");
        if (start == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(start);
        const std::string_view field = rest.substr(0, rest.find_first_of(" \t\n"));
        rest.remove_prefix(field.size());
        if (n == 14 || n == 15) {
            out.ticks += LineCursor::toNumber(field);
        } else if (n == 24) {
            std::from_chars(field.data(), field.data() + field.size(), out.rssPages);
        }
    }
    return true;
}

}  // namespace detail
}  // namespace OVL
