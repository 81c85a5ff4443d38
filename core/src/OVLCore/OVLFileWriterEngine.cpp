// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFileWriterEngine.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "OVLCommon/SysCall.h"

namespace OVL {

namespace {

constexpr int kOpenFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
constexpr mode_t kMode = 0644;

int openLog(const std::string& name) {
    return retryOnEintr([&] { return sys::calls().open(name.c_str(), kOpenFlags, kMode); });
}

}  // namespace

OVLFileWriterEngine::OVLFileWriterEngine() = default;

OVLFileWriterEngine::~OVLFileWriterEngine() = default;

bool OVLFileWriterEngine::open(const std::string& fileName, long long size) {
    MutexLock lock(m_mutex);
    if (m_opened) {
        return true;
    }
    m_fileName = fileName;
    m_size = size;
    const int fd = openLog(m_fileName);
    if (fd >= 0) {
        sys::calls().close(fd);
    }
    m_opened = fd >= 0;
    return m_opened;
}

void OVLFileWriterEngine::writeMessage(const std::string& text) {
    MutexLock lock(m_mutex);
    const int fd = openLog(m_fileName);
    if (fd < 0) {
        return;
    }

    char record[kMaxRecord + 1];
    std::size_t length = detail::OVLLocalClock::kTextLength;
    m_clock.format(std::time(nullptr), record);
    record[length++] = ' ';
    const std::size_t limit = text.size() < kMaxText ? text.size() : kMaxText;
    // The text up to its first zero byte; the record is written by its length, never read as a
    // C string.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    const void* zero = std::memchr(text.data(), '\0', limit);
    const std::size_t count = zero ? static_cast<const char*>(zero) - text.data() : limit;
    std::memcpy(record + length, text.data(), count);
    length += count;
    record[length++] = '\n';

    retryOnEintr([&] { return sys::calls().write(fd, record, length); });
    sys::calls().close(fd);
}

}  // namespace OVL
