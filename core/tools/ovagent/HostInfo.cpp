// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "HostInfo.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

namespace ovagent {

namespace {

std::string osName() {
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string value = line.substr(12);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return {};
}

std::uint64_t memAvailable() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0;
    std::string unit;
    while (in >> key >> value >> unit) {
        if (key == "MemAvailable:") {
            return value * 1024;
        }
    }
    return 0;
}

}  // namespace

HostInfo HostInfo::read() {
    HostInfo info;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        info.hostname = host;
    }
    struct utsname uts {};
    if (::uname(&uts) == 0) {
        info.kernel = std::string(uts.sysname) + " " + uts.release;
        info.architecture = uts.machine;
    }
    info.os = osName();
    if (info.os.empty()) {
        info.os = uts.sysname;
    }
    long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    info.cpuCount = cpus > 0 ? static_cast<unsigned>(cpus) : 1;
    struct sysinfo si {};
    if (::sysinfo(&si) == 0) {
        info.memoryTotal = static_cast<std::uint64_t>(si.totalram) * si.mem_unit;
        info.uptime = static_cast<std::uint64_t>(si.uptime);
    }
    info.memoryAvailable = memAvailable();
    std::time_t now = std::time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    info.time = text;
    return info;
}

}  // namespace ovagent
