// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "KnownAgents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "OVLCommon/Errors.h"

namespace OVL::Agent {

namespace {
std::mutex g_mutex;
}

std::string KnownAgents::path() {
    if (const char* file = std::getenv("OVL_KNOWN_AGENTS_FILE"); file != nullptr && *file != '\0') {
        return file;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/ovl/known_agents";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/ovl/known_agents";
}

KnownAgents::Verdict KnownAgents::check(const std::string& host, int port, const std::string& fingerprint,
                                        std::string& error) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::string file = path();
    const std::string key = host + ":" + std::to_string(port);
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string name, known;
            if (!(fields >> name >> known) || name != key) {
                continue;
            }
            if (known == fingerprint) {
                return Verdict::Known;
            }
            error = "the TLS certificate of agent " + key + " changed: remembered SHA-256 fingerprint " +
                    known + ", presented " + fingerprint + "; connection refused. To accept the new " +
                    "certificate, remove the line of " + key + " from " + file + " and connect again";
            return Verdict::Changed;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write the store of known agents " + file + ": " + formatWin32Error(errno);
        return Verdict::Unavailable;
    }
    const std::string line = key + " " + fingerprint + "\n";
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int saved = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(line.size())) {
        error = "cannot write the store of known agents " + file + ": " + formatWin32Error(saved);
        return Verdict::Unavailable;
    }
    return Verdict::Remembered;
}

}  // namespace OVL::Agent
