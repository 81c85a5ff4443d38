// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/Logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "OVLCommon/Mutex.h"
#include "OVLCommon/SysCall.h"

namespace OVL {

Logger Log;

namespace {

// Lines longer than this are cut; one line is formatted on the stack without allocation.
constexpr size_t kMaxLine = 4096;

struct LoggerState {
    Mutex mutex;
    Logger::Sink sink GUARDED_BY(mutex);
    std::string filePath GUARDED_BY(mutex);  // empty: standard error
    std::atomic<int> threshold{Logger::kInfo};
};

// Never destroyed, so that code running during static destruction can still log.
LoggerState& state() {
    static LoggerState* s = new LoggerState;
    return *s;
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = retryOnEintr([&] { return ::write(fd, data, size); });
        if (n < 0) {
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// "2026-12-07 23:14:05.123 [L1] " into buf; returns its length.
size_t formatPrefix(char* buf, size_t size, int level) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    size_t n = strftime(buf, size, "%Y-%m-%d %H:%M:%S", &local);
    int m = snprintf(buf + n, size - n, ".%03ld [L%d] ", ts.tv_nsec / 1000000, level);
    return m > 0 ? n + static_cast<size_t>(m) : n;
}

}  // namespace

void Logger::vput(int level, const char* format, va_list args) noexcept {
    LoggerState& s = state();
    if (level > s.threshold.load(std::memory_order_relaxed)) {
        return;
    }
    if (format == nullptr) {
        format = "(null format)";
    }
    const int savedErrno = errno;  // logging must not disturb the caller's last error
    try {
        char text[kMaxLine];
        int len = vsnprintf(text, sizeof text, format, args);
        if (len < 0) {
            errno = savedErrno;
            return;
        }
        size_t textLen = std::min(static_cast<size_t>(len), sizeof text - 1);

        MutexLock lock(s.mutex);
        if (s.sink) {
            s.sink(level, std::string_view(text, textLen));
        } else {
            char line[kMaxLine + 64];
            size_t n = formatPrefix(line, sizeof line, level);
            size_t copy = std::min(textLen, sizeof line - n - 1);
            memcpy(line + n, text, copy);
            n += copy;
            line[n++] = '\n';
            if (s.filePath.empty()) {
                writeAll(STDERR_FILENO, line, n);
            } else {
                int fd = ::open(s.filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
                if (fd >= 0) {
                    writeAll(fd, line, n);
                    ::close(fd);
                }
            }
        }
    } catch (...) {
        // A sink that throws loses its line; the caller never sees the exception.
    }
    errno = savedErrno;
}

void Logger::put(int level, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    vput(level, format, args);
    va_end(args);
}

void Logger::put(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    vput(kDefaultLevel, format, args);
    va_end(args);
}

void Logger::setThreshold(int level) noexcept {
    state().threshold.store(level);
}

int Logger::threshold() const noexcept {
    return state().threshold.load();
}

Logger::Sink Logger::setSink(Sink sink) {
    LoggerState& s = state();
    MutexLock lock(s.mutex);
    Sink old = std::move(s.sink);
    s.sink = std::move(sink);
    return old;
}

bool Logger::setFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    LoggerState& s = state();
    MutexLock lock(s.mutex);
    s.sink = nullptr;
    s.filePath = path;
    return true;
}

}  // namespace OVL
