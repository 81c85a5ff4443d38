// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The writer engine that appends each message as one record to a log file:
//   <24-character local ctime text> <first 4071 bytes of the text, up to its first zero byte>\n
// The file is opened, written once and closed for every record, so no descriptor stays open and
// records of other processes appending to the same file do not interleave with ours.
// Created only by OVLFileWriterRegistry. open() and writeMessage() are serialised by the
// engine's mutex.

#include <string>

#include "OVLCommon/Mutex.h"
#include "OVLCore/OVLLogWriterEngine.h"
#include "OVLLocalClock.h"

namespace OVL {

class OVLFileWriterEngine : public OVLLogWriterEngine {
public:
    static constexpr std::size_t kMaxText = 4071;
    static constexpr std::size_t kMaxRecord = detail::OVLLocalClock::kTextLength + 1 + kMaxText + 1;

    OVLFileWriterEngine();
    ~OVLFileWriterEngine() override;

    // Remembers the file and checks that it can be opened for appending (creating it with mode
    // 0644). True if it could; once true, later calls change nothing.
    bool open(const std::string& fileName, long long size);
    // Appends one record; a record that cannot be written is dropped.
    void writeMessage(const std::string& text) override;

private:
    bool m_opened = false;
    long long m_size = 0;  // stored only
    Mutex m_mutex;
    std::string m_fileName GUARDED_BY(m_mutex);
    detail::OVLLocalClock m_clock GUARDED_BY(m_mutex);
};

}  // namespace OVL
