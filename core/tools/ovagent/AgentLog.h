#pragma once
// The agent's log: records appended through the core runtime's logging system to ovagent.log in
// the state directory (or the configured file). Each record is one line (more when the text holds
// line ends): the 24-character local time, a space, then
//   "type: <n>, ovagent (<source file>:<line>) : <text>"
// with n = 0 info, 1 warning, 2 error, 3 debug. Never pass a password to it.
//
// The logging system is a process-wide singleton bound to the file of the first open(); a later
// open() of another file fails. Before open() (or when it failed) lines go to standard error.
// Thread-safe: every record is written by the calling thread under the logging system's mutex.

#include <string>

namespace ovagent {

class AgentLog {
public:
    enum Level { error = 1, warning = 2, info = 3, debug = 4 };

    // Sends the process's log records to `path`, keeping those up to `level` (0: none). False when
    // the file cannot be opened for appending, or when the process's log already went to another
    // file.
    static bool open(const std::string& path, int level);
    static void setLevel(int level);
    static int level();

    static void putAt(const char* file, int line, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
};

}  // namespace ovagent

// Logs one record with the caller's source position: AGENT_LOG(AgentLog::info, "%s: connected", peer).
#define AGENT_LOG(level, ...) ::ovagent::AgentLog::putAt(__FILE_NAME__, __LINE__, (level), __VA_ARGS__)
