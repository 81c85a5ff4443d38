// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A log message under construction: a handle on a shared text stream. Copies share the stream,
// so what is inserted through one copy is seen through all; the stream is freed with the last
// copy. The constructor writes the header
//   "type: <type>, <label> (<file>:<line>) : <text>"
// and every insertion appends directly after it, formatted by the stream's current state.
//
// A message is not synchronised: one thread builds it at a time.

#include <netinet/in.h>

#include <ctime>
#include <ios>
#include <memory>
#include <sstream>
#include <string>

#include <boost/shared_ptr.hpp>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/OVLLogSystem.h"

namespace OVL {

class OVLLogMessageImpl;

class OVLCORE_EXPORT OVLLogMessage {
public:
    OVLLogMessage(const std::string& file, unsigned int line, const std::string& label,
                  const std::string& text, OVLLogSystem::LogMsgType type);
    OVLLogMessage(const OVLLogMessage& other);
    OVLLogMessage& operator=(const OVLLogMessage& other);
    ~OVLLogMessage();

    // The whole text so far.
    std::string text() const;
    OVLLogSystem::LogMsgType type() const;
    // The shared stream; valid while any copy lives.
    std::stringstream& stream() const;

private:
    boost::shared_ptr<OVLLogMessageImpl> m_impl;
};

// Each insertion appends to the shared stream and returns a copy, so insertions chain.
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, int value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, unsigned int value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, long value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, unsigned long value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, long long value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, unsigned long long value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, float value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, double value);
// A null pointer inserts "(null)".
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, const char* value);
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, const std::string& value);
// The time in asctime layout without its line end: exactly 24 characters (fields out of their
// ranges print as '?'). A null pointer inserts "(null)".
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, const struct tm* value);
// Dotted decimal IPv4 address.
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, const struct in_addr& value);
// Applies a stream manipulator such as std::hex to the rest of the message.
OVLCORE_EXPORT OVLLogMessage operator<<(OVLLogMessage msg, std::ios_base& (*manip)(std::ios_base&));

}  // namespace OVL
