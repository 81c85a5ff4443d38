// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Facts about the host the agent runs on, read when asked.

#include <cstdint>
#include <string>

namespace ovagent {

struct HostInfo {
    std::string hostname;
    std::string os;  // PRETTY_NAME of /etc/os-release, else the kernel's name
    std::string kernel;
    std::string architecture;
    unsigned cpuCount = 0;
    std::uint64_t memoryTotal = 0;  // bytes
    std::uint64_t memoryAvailable = 0;
    std::uint64_t uptime = 0;  // seconds
    std::string time;          // UTC, ISO 8601

    static HostInfo read();
};

}  // namespace ovagent
