// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLLogMessage.h"

#include <arpa/inet.h>

#include "OVLLocalClock.h"

namespace OVL {

class OVLLogMessageImpl {
public:
    explicit OVLLogMessageImpl(OVLLogSystem::LogMsgType type)
        : m_type(type), m_stream(std::ios_base::in | std::ios_base::out) {}

    OVLLogSystem::LogMsgType m_type;
    std::stringstream m_stream;
};

OVLLogMessage::OVLLogMessage(const std::string& file, unsigned int line, const std::string& label,
                             const std::string& text, OVLLogSystem::LogMsgType type)
    : m_impl(new OVLLogMessageImpl(type)) {
    m_impl->m_stream << "type: " << static_cast<int>(type) << ", " << label << " (" << file << ':' << line
                     << ") : " << text;
}

OVLLogMessage::OVLLogMessage(const OVLLogMessage& other) = default;
OVLLogMessage& OVLLogMessage::operator=(const OVLLogMessage& other) = default;
OVLLogMessage::~OVLLogMessage() = default;

std::string OVLLogMessage::text() const {
    return m_impl->m_stream.str();
}

OVLLogSystem::LogMsgType OVLLogMessage::type() const {
    return m_impl->m_type;
}

std::stringstream& OVLLogMessage::stream() const {
    return m_impl->m_stream;
}

namespace {

template <typename T>
OVLLogMessage insert(OVLLogMessage& msg, const T& value) {
    msg.stream() << value;
    return msg;
}

}  // namespace

// The operators take the message by value and return it extended: the public signatures, which
// let a temporary message be built up in one expression.
// NOLINTBEGIN(performance-unnecessary-value-param)
OVLLogMessage operator<<(OVLLogMessage msg, int value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, unsigned int value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, long value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, unsigned long value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, long long value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, unsigned long long value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, float value) {
    return insert(msg, value);
}
OVLLogMessage operator<<(OVLLogMessage msg, double value) {
    return insert(msg, value);
}

OVLLogMessage operator<<(OVLLogMessage msg, const char* value) {
    msg.stream() << (value ? value : "(null)");
    return msg;
}

OVLLogMessage operator<<(OVLLogMessage msg, const std::string& value) {
    return insert(msg, value);
}

OVLLogMessage operator<<(OVLLogMessage msg, const struct tm* value) {
    if (value == nullptr) {
        msg.stream() << "(null)";
        return msg;
    }
    char text[24];
    detail::formatAsctime(*value, text);
    msg.stream().write(text, sizeof text);
    return msg;
}

OVLLogMessage operator<<(OVLLogMessage msg, const struct in_addr& value) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &value, text, sizeof text) == nullptr) {
        text[0] = '\0';
    }
    msg.stream() << text;
    return msg;
}

OVLLogMessage operator<<(OVLLogMessage msg, std::ios_base& (*manip)(std::ios_base&)) {
    manip(msg.stream());
    return msg;
}

// NOLINTEND(performance-unnecessary-value-param)

}  // namespace OVL
