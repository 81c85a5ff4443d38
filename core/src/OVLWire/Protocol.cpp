#include "OVLWire/Protocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace OVL::Wire {

std::string defaultSocketPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
            return std::string(runtime) + "/ovagent.sock";
        }
    }
    return "/tmp/ovagent-" + std::to_string(::getuid()) + ".sock";
}

}  // namespace OVL::Wire
