#include "AgentLog.h"

#include <cstdarg>

#include "OVLCommon/Logger.h"

namespace ovagent {

bool AgentLog::open(const std::string& path, int level) {
    setLevel(level);
    return OVL::Log.setFile(path);
}

void AgentLog::setLevel(int level) {
    OVL::Log.setThreshold(level);
}

void AgentLog::put(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    OVL::Log.vput(level, format, args);
    va_end(args);
}

}  // namespace ovagent
