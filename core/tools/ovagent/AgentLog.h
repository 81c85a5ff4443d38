// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's log: records appended through the core runtime's logging system to ovagent.log in
// the state directory (or the configured file). Each record is one line: the 24-character local
// time, a space, then
//   "type: <n>, ovagent (<source file>:<line>) : <text>"
// with n = 0 info, 1 warning, 2 error, 3 debug. The text is escaped (escape()), so no text, a
// client's least of all, can end a record early or forge another one. Never pass a password to it.
//
// The logging system is a process-wide singleton bound to the file of the first open(); a later
// open() of another file fails. The engine opens the file by its name for every record, so a log
// moved away (logrotate) is created again by the next record. Before open() (or when it failed)
// lines go to standard error.
// Thread-safe: every record is written by the calling thread under the logging system's mutex.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ovagent {

class AgentLog {
public:
    enum Level { error = 1, warning = 2, info = 3, debug = 4 };

    // Sends the process's log records to `path`, keeping those up to `level` (0: none). A new file
    // gets mode 0640. False with the reason in `why` when the file cannot be opened for appending,
    // is a symbolic link or not a regular file (a FIFO, a device), or when the process's log
    // already went to another file.
    static bool open(const std::string& path, int level, std::string& why);
    // For SIGHUP: checks that the log file can be opened again (creating it when it was moved
    // away) and, when the log went to standard error because the file could not be opened at
    // start, tries that file again. False with the reason when the log still cannot be written to
    // its file.
    static bool reopen(std::string& why);
    static void setLevel(int level);
    static int level();

    static void putAt(const char* file, int line, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    // Logs `text` as it is (escaped like every record).
    static void putText(const char* file, int line, int level, std::string_view text);

    // `text` with backslash, control characters (C0, DEL and C1) and bytes that are not UTF-8
    // written as escapes: \\ \n \r \t and \xNN (the UTF-8 bytes of a C1 character as \xC2\xNN).
    static std::string escape(std::string_view text);
    // A text from a client for a record: at most `max` bytes, longer ones cut with "...".
    static std::string clip(std::string_view text, std::size_t max = kMaxClientText);

    static constexpr std::size_t kMaxClientText = 128;
};

// The records of one session. Each call site may write kBurst records per kWindow; further
// records of that site are counted and reported as "<peer>: N similar records suppressed" with the
// next record of the site after the window, or when the session ends. So a client that repeats a
// bad request writes a few records a window, however fast it sends. All sessions of one peer
// address together write at most kAddressBurst records per kWindow (a client that opens
// connection after connection); the records over that are counted the same way, per address.
// Every record starts with the session's peer name.
// Not thread-safe: used on the session's strand only (the per-address counts lock a mutex).
class SessionLog {
public:
    static constexpr int kBurst = 5;
    static constexpr int kAddressBurst = 200;
    static constexpr std::chrono::seconds kWindow{10};

    SessionLog() = default;
    ~SessionLog();  // reports what is still suppressed
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // `address`: what the per-address budget counts by (empty: no budget).
    void setPeer(std::string peer, std::string address = {}) {
        m_peer = std::move(peer);
        m_address = std::move(address);
    }
    const std::string& peer() const { return m_peer; }

    void putAt(const char* file, int line, int level, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // Reports every site's suppressed records now.
    void flushSuppressed();

private:
    using Clock = std::chrono::steady_clock;
    struct Site {
        const char* file;
        int line;
        int level;
        Clock::time_point windowStart;
        int written;
        long long suppressed;
    };
    Site& site(const char* file, int line, int level);
    void reportSuppressed(Site& site);

    std::string m_peer;
    std::string m_address;
    std::vector<Site> m_sites;  // few: one per call site this session used
};

// Records about a peer address outside any session: a refused connection, a failed accept. Each
// call site writes at most SessionLog::kBurst records per SessionLog::kWindow for one address
// (outside the sessions' budget of SessionLog::kAddressBurst, so that the sessions of a flood
// cannot hide its refusals); further ones are counted and reported as
// "<address>: N similar records suppressed"
// with that site's next record for the address after the window, or by flushExpired(). So a
// flood of connections from one address writes a few records a window, however fast it connects.
// At most kMaxEntries address and site pairs are followed; records of further ones are counted
// together ("N similar records of other addresses suppressed"). Thread-safe.
class AddressLog {
public:
    static constexpr std::size_t kMaxEntries = 4096;

    static void putAt(const std::string& address, const char* file, int line, int level, const char* format,
                      ...) __attribute__((format(printf, 5, 6)));
    // Reports the counts of the windows that have ended (all counts when `all`), and forgets the
    // addresses whose window ended.
    static void flushExpired(bool all = false);
};

}  // namespace ovagent

// Logs one record with the caller's source position: AGENT_LOG(AgentLog::info, "%s: connected", peer).
#define AGENT_LOG(level, ...) ::ovagent::AgentLog::putAt(__FILE_NAME__, __LINE__, (level), __VA_ARGS__)
// Logs one record of a session, rate-limited per call site and prefixed with the peer:
// SESSION_LOG(state.log, AgentLog::info, "connected").
#define SESSION_LOG(log, level, ...) (log).putAt(__FILE_NAME__, __LINE__, (level), __VA_ARGS__)
// Logs one record about a peer address, rate-limited per call site and address (AddressLog):
// ADDRESS_LOG(peer.address, AgentLog::warning, "%s: refused, %s", peer.name.c_str(), why).
#define ADDRESS_LOG(address, level, ...) \
    ::ovagent::AddressLog::putAt((address), __FILE_NAME__, __LINE__, (level), __VA_ARGS__)
