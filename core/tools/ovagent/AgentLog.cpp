#include "AgentLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "OVLCommon/Logger.h"
#include "OVLCore/OVLLogMessage.h"
#include "OVLCore/OVLLogSystem.h"

namespace ovagent {

namespace {

std::atomic<int> s_level{AgentLog::info};
std::atomic<bool> s_opened{false};
std::mutex s_openMutex;
std::string s_path;  // guarded by s_openMutex

OVL::OVLLogSystem::LogLevel systemLevel(int level) {
    if (level <= 0)
        return OVL::OVLLogSystem::LOG_OFF;
    return level >= AgentLog::debug ? OVL::OVLLogSystem::LOG_DEBUG : OVL::OVLLogSystem::LOG_ON;
}

OVL::OVLLogSystem::LogMsgType messageType(int level) {
    switch (level) {
        case AgentLog::error:
            return OVL::OVLLogSystem::MSG_ERROR;
        case AgentLog::warning:
            return OVL::OVLLogSystem::MSG_WARNING;
        case AgentLog::info:
            return OVL::OVLLogSystem::MSG_INFO;
        default:
            return OVL::OVLLogSystem::MSG_DEBUG;
    }
}

}  // namespace

bool AgentLog::open(const std::string& path, int level) {
    setLevel(level);
    std::lock_guard<std::mutex> lock(s_openMutex);
    if (s_opened.load())
        return s_path == path;
    // The logging system does not report a file it cannot open (it then has no engine), so the
    // file is tried here first, as the engine opens it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    OVL::getLogSystem(systemLevel(level), path);
    s_path = path;
    s_opened.store(true);
    return true;
}

void AgentLog::setLevel(int level) {
    s_level.store(level);
    if (s_opened.load())
        OVL::getLogSystem().setLogLevel(systemLevel(level));
    else
        OVL::Log.setThreshold(level);
}

int AgentLog::level() {
    return s_level.load();
}

void AgentLog::putAt(const char* file, int line, int level, const char* format, ...) {
    if (level > s_level.load() || s_level.load() <= 0)
        return;
    va_list args;
    va_start(args, format);
    if (!s_opened.load()) {
        OVL::Log.vput(level, format, args);
        va_end(args);
        return;
    }
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    OVL::getLogSystem() << OVL::OVLLogMessage(file, static_cast<unsigned>(line), "ovagent", text,
                                              messageType(level))
                        << OVL::post;
}

}  // namespace ovagent
