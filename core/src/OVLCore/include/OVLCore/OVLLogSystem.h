// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The logging system: messages from any thread wait in a pending list until flush() hands them to
// every writer engine, in the order the engines were added. The default engine appends each
// message as one time-stamped record to a log file (by default "ovagent.log").
//
// Typical use (a message's own insertions go in parentheses, since << groups to the left):
//   getLogSystem() << (OVLLogMessage(__FILE__, __LINE__, "Agent", "port ", MSG_INFO) << 4433) << post;
//
// Threads: every member takes the log system's mutex for its whole duration (flush() holds it
// while the engines write). Nothing is reported to callers: a log file that cannot be opened
// gives a log system without an engine, and a record that cannot be written is dropped.

#include <list>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCommon/Mutex.h"
#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/OVLLogWriterEngine.h"
#include "OVLCore/OVLRefCounter.h"

namespace OVL {

class OVLLogMessage;

class OVLCORE_EXPORT OVLLogSystem : public OVLRefCounter {
public:
    // 0 writes nothing; any other value lets flush() write.
    enum LogLevel { LOG_OFF = 0, LOG_ON = 1, LOG_DEBUG = 2 };
    // Only printed as a number in a message's header.
    enum LogMsgType { MSG_INFO = 0, MSG_WARNING = 1, MSG_ERROR = 2, MSG_DEBUG = 3 };

    static constexpr const char* kDefaultFileName = "ovagent.log";
    static constexpr long long kDefaultSize = 10485760;

    // Sets the level and adds the file writer engine for `name` (shared with every other log
    // system of the process that uses that file name), unless the file cannot be opened.
    // The reference count starts at 0: put the new object into an intrusive_ptr.
    explicit OVLLogSystem(LogLevel level = LOG_ON, const std::string& name = kDefaultFileName,
                          long long size = kDefaultSize);
    // Removes the engines from the file writer registry; pending messages are discarded.
    ~OVLLogSystem() override;

    // Appends `engine` to the engines (duplicates are not checked).
    void addEngine(boost::intrusive_ptr<OVLLogWriterEngine> engine);
    // Queues a copy of the message's current text; the message may be extended and queued again.
    void addMessage(const OVLLogMessage& msg);
    // Unless the level is 0, hands every pending text to each engine in turn; then empties the
    // pending list whatever the level.
    void flush();
    void setLogLevel(LogLevel level);
    LogLevel getLogLevel();

private:
    void fini() EXCLUDES(m_mutex);

    // The class is exported: the fields keep the order (and the layout) of earlier releases.
    LogLevel m_level GUARDED_BY(m_mutex);
    std::list<boost::intrusive_ptr<OVLLogWriterEngine>> m_engines GUARDED_BY(m_mutex);
    std::list<std::string> m_pending GUARDED_BY(m_mutex);
    Mutex m_mutex;
};

// The process's log system, created by the first call with that call's arguments; later calls
// ignore theirs. It lives until the library is unloaded.
OVLCORE_EXPORT OVLLogSystem& getLogSystem(OVLLogSystem::LogLevel level = OVLLogSystem::LOG_ON,
                                          const std::string& name = OVLLogSystem::kDefaultFileName,
                                          long long size = OVLLogSystem::kDefaultSize);

OVLCORE_EXPORT OVLLogSystem& operator<<(OVLLogSystem& sys, const OVLLogMessage& msg);
OVLCORE_EXPORT OVLLogSystem& operator<<(OVLLogSystem& sys, OVLLogSystem& (*manip)(OVLLogSystem&));
// Manipulator that flushes: sys << msg << post.
OVLCORE_EXPORT OVLLogSystem& post(OVLLogSystem& sys);

}  // namespace OVL
