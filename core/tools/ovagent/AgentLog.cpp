// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "AgentLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <tuple>

#include "OVLCommon/Logger.h"
#include "OVLCore/OVLLogMessage.h"
#include "OVLCore/OVLLogSystem.h"

namespace ovagent {

namespace {

std::atomic<int> s_level{AgentLog::info};
std::atomic<bool> s_opened{false};
std::mutex s_openMutex;
std::string s_path;  // guarded by s_openMutex: the file of open(), also when it could not be opened

OVL::OVLLogSystem::LogLevel systemLevel(int level) {
    if (level <= 0) {
        return OVL::OVLLogSystem::LOG_OFF;
    }
    return level >= AgentLog::debug ? OVL::OVLLogSystem::LOG_DEBUG : OVL::OVLLogSystem::LOG_ON;
}

OVL::OVLLogSystem::LogMsgType messageType(int level) {
    switch (level) {
        case AgentLog::error:
            return OVL::OVLLogSystem::MSG_ERROR;
        case AgentLog::warning:
            return OVL::OVLLogSystem::MSG_WARNING;
        case AgentLog::info:
            return OVL::OVLLogSystem::MSG_INFO;
        default:
            return OVL::OVLLogSystem::MSG_DEBUG;
    }
}

// Opens the log file for appending, or creates it with mode 0640, whatever the umask. Only a
// regular file is taken: a symbolic link at the path is not followed (it could point the agent's
// records at any file the agent may write), and a FIFO or device is refused without blocking on
// it. Empty on success, else why not.
std::string appendable(const std::string& path) {
    constexpr mode_t kLogMode = 0640;
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    bool created = true;
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kLogMode);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), kFlags);
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (err == ELOOP || (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
            return "it is a symbolic link, which the agent does not follow";
        }
        if (err == ENXIO) {
            return "it is not a regular file";  // a FIFO that nobody reads
        }
        return std::error_code(err, std::generic_category()).message();
    }
    struct stat st {};
    std::string why;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a regular file";
    } else if (created && ::fchmod(fd, kLogMode) != 0) {
        why = std::error_code(errno, std::generic_category()).message();
    }
    ::close(fd);
    return why;
}

// Caller holds s_openMutex.
bool bindFile(int level, std::string& why) {
    // The logging system does not report a file it cannot open (it then has no engine), so the
    // file is tried here first, as the engine opens it.
    why = appendable(s_path);
    if (!why.empty()) {
        return false;
    }
    OVL::getLogSystem(systemLevel(level), s_path);
    OVL::getLogSystem().setLogLevel(systemLevel(level));
    s_opened.store(true);
    return true;
}

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    return text;
}

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 0.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    std::size_t n = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, code = c & 0x07u;
    } else {
        return 0;
    }
    if (n > left) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (p[i] & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return n;
}

void appendHex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

// The records all sessions of one peer address may still write in the current window.
class AddressBudget {
public:
    using Clock = std::chrono::steady_clock;
    // True when `address` may write a record now. When a new window starts, `suppressed` is set to
    // the count of those refused in the last one.
    bool take(const std::string& address, long long& suppressed) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = Clock::now();
        suppressed = 0;
        if (m_entries.size() > kMaxAddresses) {
            forgetOld(now);
        }
        Entry& entry = m_entries[address];
        if (now - entry.windowStart >= SessionLog::kWindow) {
            suppressed = entry.suppressed;
            entry = Entry{now, 0, 0};
        }
        if (entry.written >= SessionLog::kAddressBurst) {
            ++entry.suppressed;
            return false;
        }
        ++entry.written;
        return true;
    }

private:
    static constexpr std::size_t kMaxAddresses = 4096;
    struct Entry {
        Clock::time_point windowStart;
        int written = 0;
        long long suppressed = 0;
    };
    // Drops the addresses whose window ended with nothing suppressed (caller holds m_mutex).
    void forgetOld(Clock::time_point now) {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (now - it->second.windowStart >= SessionLog::kWindow && it->second.suppressed == 0) {
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;  // guarded by m_mutex
};

AddressBudget& addressBudget() {
    static AddressBudget budget;
    return budget;
}

// The records AddressLog still lets through, per address and call site.
class SiteBudget {
public:
    using Clock = std::chrono::steady_clock;
    struct Key {
        std::string address;
        const char* file;
        int line;
        bool operator<(const Key& other) const {
            return std::tie(address, file, line) < std::tie(other.address, other.file, other.line);
        }
    };
    // A record whose window ended with records left out: written after the lock is released.
    struct Report {
        std::string address;
        const char* file;
        int line;
        int level;
        long long suppressed;
    };

    // True when the site may write a record for `address` now; `reports` gets what is due.
    bool take(const std::string& address, const char* file, int line, int level,
              std::vector<Report>& reports) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = Clock::now();
        auto it = m_entries.find(Key{address, file, line});
        if (it == m_entries.end()) {
            if (m_entries.size() >= AddressLog::kMaxEntries) {
                expire(now, false, reports);
            }
            if (m_entries.size() >= AddressLog::kMaxEntries) {
                ++m_overflow;
                return false;
            }
            it = m_entries.emplace(Key{address, file, line}, Entry{now, 0, 0, level}).first;
        }
        Entry& entry = it->second;
        if (now - entry.windowStart >= SessionLog::kWindow) {
            if (entry.suppressed > 0) {
                reports.push_back(Report{address, file, line, entry.level, entry.suppressed});
            }
            entry = Entry{now, 0, 0, level};
        }
        if (entry.written >= SessionLog::kBurst) {
            ++entry.suppressed;
            return false;
        }
        ++entry.written;
        return true;
    }

    // Moves the counts of the ended windows (every count when `all`) to `reports`, and forgets the
    // entries whose window ended.
    void expire(bool all, std::vector<Report>& reports, long long& overflow) {
        std::lock_guard<std::mutex> lock(m_mutex);
        expire(Clock::now(), all, reports);
        overflow = m_overflow;
        m_overflow = 0;
    }

private:
    struct Entry {
        Clock::time_point windowStart;
        int written;
        long long suppressed;
        int level;
    };
    // Caller holds m_mutex.
    void expire(Clock::time_point now, bool all, std::vector<Report>& reports) {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            const bool ended = now - it->second.windowStart >= SessionLog::kWindow;
            if ((ended || all) && it->second.suppressed > 0) {
                reports.push_back(Report{it->first.address, it->first.file, it->first.line, it->second.level,
                                         it->second.suppressed});
                it->second.suppressed = 0;
            }
            it = ended ? m_entries.erase(it) : std::next(it);
        }
    }

    std::mutex m_mutex;
    std::map<Key, Entry> m_entries;  // guarded by m_mutex
    long long m_overflow = 0;        // guarded by m_mutex: records of pairs not followed
};

SiteBudget& siteBudget() {
    static SiteBudget budget;
    return budget;
}

void writeReports(const std::vector<SiteBudget::Report>& reports) {
    for (const auto& report : reports) {
        AgentLog::putAt(report.file, report.line, report.level, "%s: %lld similar records suppressed",
                        report.address.c_str(), report.suppressed);
    }
}

}  // namespace

void AddressLog::putAt(const std::string& address, const char* file, int line, int level, const char* format,
                       ...) {
    if (level > AgentLog::level() || AgentLog::level() <= 0) {
        return;
    }
    std::vector<SiteBudget::Report> reports;
    const bool allowed = siteBudget().take(address, file, line, level, reports);
    writeReports(reports);
    if (!allowed) {
        return;
    }
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    AgentLog::putText(file, line, level, text);
}

void AddressLog::flushExpired(bool all) {
    std::vector<SiteBudget::Report> reports;
    long long overflow = 0;
    siteBudget().expire(all, reports, overflow);
    writeReports(reports);
    if (overflow > 0) {
        AgentLog::putAt(__FILE_NAME__, __LINE__, AgentLog::warning,
                        "%lld similar records of other addresses suppressed", overflow);
    }
}

std::string AgentLog::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '\r') {
            out += "\\r";
            ++i;
        } else if (c == '\t') {
            out += "\\t";
            ++i;
            // This branch and the next have the same body for two reasons: other C0 controls and
            // DEL, and bytes that start no UTF-8 sequence.
            // NOLINTNEXTLINE(bugprone-branch-clone)
        } else if (c < 0x80) {
            appendHex(out, c);
            ++i;
        } else if (const std::size_t n = utf8Length(p + i, size - i); n == 0) {
            appendHex(out, c);
            ++i;
        } else if (c == 0xC2 && p[i + 1] < 0xA0) {
            appendHex(out, c);  // C1 controls (NEL, CSI...)
            appendHex(out, p[i + 1]);
            i += 2;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string AgentLog::clip(std::string_view text, std::size_t max) {
    if (text.size() <= max) {
        return std::string(text);
    }
    std::string out(text.substr(0, max));
    out += "...";
    return out;
}

bool AgentLog::open(const std::string& path, int level, std::string& why) {
    setLevel(level);
    std::lock_guard<std::mutex> lock(s_openMutex);
    if (s_opened.load()) {
        why = s_path == path ? "" : "the log goes to " + s_path + " already";
        return why.empty();
    }
    s_path = path;
    return bindFile(level, why);
}

bool AgentLog::reopen(std::string& why) {
    std::lock_guard<std::mutex> lock(s_openMutex);
    if (s_path.empty()) {
        why = "no log file";
        return false;
    }
    if (s_opened.load()) {
        why = appendable(s_path);
        return why.empty();
    }
    return bindFile(s_level.load(), why);
}

void AgentLog::setLevel(int level) {
    s_level.store(level);
    if (s_opened.load()) {
        OVL::getLogSystem().setLogLevel(systemLevel(level));
    } else {
        OVL::Log.setThreshold(level);
    }
}

int AgentLog::level() {
    return s_level.load();
}

void AgentLog::putAt(const char* file, int line, int level, const char* format, ...) {
    if (level > s_level.load() || s_level.load() <= 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    putText(file, line, level, text);
}

void AgentLog::putText(const char* file, int line, int level, std::string_view text) {
    if (level > s_level.load() || s_level.load() <= 0) {
        return;
    }
    const std::string escaped = escape(text);
    if (!s_opened.load()) {
        OVL::Log.put(level, "%s", escaped.c_str());
        return;
    }
    OVL::getLogSystem() << OVL::OVLLogMessage(file, static_cast<unsigned>(line), "ovagent", escaped,
                                              messageType(level))
                        << OVL::post;
}

SessionLog::~SessionLog() {
    flushSuppressed();
}

SessionLog::Site& SessionLog::site(const char* file, int line, int level) {
    for (Site& s : m_sites) {
        if (s.line == line && s.file == file) {
            return s;
        }
    }
    m_sites.push_back(Site{file, line, level, Clock::now(), 0, 0});
    return m_sites.back();
}

void SessionLog::reportSuppressed(Site& s) {
    if (s.suppressed == 0) {
        return;
    }
    AgentLog::putAt(s.file, s.line, s.level, "%s: %lld similar records suppressed", m_peer.c_str(),
                    s.suppressed);
    s.suppressed = 0;
}

void SessionLog::flushSuppressed() {
    for (Site& s : m_sites) {
        reportSuppressed(s);
    }
}

void SessionLog::putAt(const char* file, int line, int level, const char* format, ...) {
    if (level > AgentLog::level() || AgentLog::level() <= 0) {
        return;
    }
    Site& s = site(file, line, level);
    const auto now = Clock::now();
    if (now - s.windowStart >= kWindow) {
        reportSuppressed(s);
        s.windowStart = now;
        s.written = 0;
    }
    if (s.written >= kBurst) {
        ++s.suppressed;
        return;
    }
    if (!m_address.empty()) {
        long long lastWindow = 0;
        const bool allowed = addressBudget().take(m_address, lastWindow);
        if (lastWindow > 0) {
            AgentLog::putAt(file, line, AgentLog::warning,
                            "%s: %lld similar records of this address suppressed", m_peer.c_str(),
                            lastWindow);
        }
        if (!allowed) {
            return;
        }
    }
    ++s.written;
    va_list args;
    va_start(args, format);
    std::string text = m_peer;
    text += ": ";
    text += vformat(format, args);
    va_end(args);
    AgentLog::putText(file, line, level, text);
}

}  // namespace ovagent
