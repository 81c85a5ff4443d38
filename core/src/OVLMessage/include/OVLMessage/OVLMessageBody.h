// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The body of a message as it goes out on a connection: the message's UTF-8 text, fixed at the
// moment the body was taken. Immutable, so one body may be shared by several threads.

#include <cstddef>
#include <string>

#include <boost/shared_ptr.hpp>

#include "OVLMessage/OVLMessageExport.h"

namespace OVL {

class OVLMESSAGE_EXPORT OVLMessageBody {
public:
    explicit OVLMessageBody(std::string text) : m_text(std::move(text)) {}

    // The text, without XML declaration and without a terminating zero byte in size().
    const std::string& text() const noexcept { return m_text; }
    const char* data() const noexcept { return m_text.data(); }
    std::size_t size() const noexcept { return m_text.size(); }

private:
    std::string m_text;
};

using OVLMessageBodyPtr = boost::shared_ptr<const OVLMessageBody>;

}  // namespace OVL
