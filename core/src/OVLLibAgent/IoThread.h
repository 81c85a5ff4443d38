// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one I/O thread of the client library: a Boost.Asio io_context run by a thread that starts on
// first use and lives until the process exits. All connections and callbacks run on it.

#include <boost/asio/io_context.hpp>

namespace OVL::Agent {

class IoThread {
public:
    static boost::asio::io_context& context();
    // True on the I/O thread itself.
    static bool isCurrent() noexcept;
};

}  // namespace OVL::Agent
