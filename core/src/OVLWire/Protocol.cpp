// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/Protocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace OVL::Wire {

namespace {

std::string runtimeDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
            return runtime;
        }
    }
    return {};
}

}  // namespace

std::string privateSocketDirectory() {
    if (!runtimeDirectory().empty()) {
        return {};
    }
    return "/tmp/ovagent-" + std::to_string(::getuid());
}

std::string defaultSocketPath() {
    if (const std::string runtime = runtimeDirectory(); !runtime.empty()) {
        return runtime + "/ovagent.sock";
    }
    return privateSocketDirectory() + "/ovagent.sock";
}

std::vector<std::string> clientSocketPaths() {
    std::vector<std::string> paths{defaultSocketPath()};
    if (paths.front() != kServiceSocketPath) {
        paths.emplace_back(kServiceSocketPath);
    }
    return paths;
}

}  // namespace OVL::Wire
