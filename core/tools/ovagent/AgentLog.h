#pragma once
// The agent's log: lines appended to ovagent.log in the state directory (or the configured file).
// A thin adapter over the platform logger so that the destination can move to the core runtime's
// logging system without touching the callers. Thread-safe. Never pass a password to it.

#include <string>

namespace ovagent {

class AgentLog {
public:
    enum Level { error = 1, warning = 2, info = 3, debug = 4 };

    // Sends the process's log lines to `path`, keeping lines up to `level`. False when the file
    // cannot be opened; the lines then keep going to standard error.
    static bool open(const std::string& path, int level);
    static void setLevel(int level);

    static void put(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
};

}  // namespace ovagent
