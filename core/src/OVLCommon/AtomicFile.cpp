// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "OVLCommon/Errors.h"
#include "OVLCommon/Logger.h"
#include "OVLCommon/SysCall.h"

namespace OVL {

namespace {

std::string systemError(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + formatWin32Error(static_cast<unsigned long>(err));
}

// Buffers chunks into large writes to one descriptor; remembers the first failure.
class FdSink final : public ChunkSink {
public:
    explicit FdSink(int fd) : m_fd(fd) { m_buffer.reserve(kCapacity); }

    bool put(const void* data, std::size_t size) override {
        if (m_errno != 0) {
            return false;
        }
        if (m_buffer.size() + size > kCapacity) {
            if (!flush()) {
                return false;
            }
            if (size >= kCapacity) {
                return writeAll(static_cast<const char*>(data), size);
            }
        }
        m_buffer.append(static_cast<const char*>(data), size);
        return true;
    }

    bool flush() {
        if (m_errno != 0) {
            return false;
        }
        const bool ok = writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

    int error() const { return m_errno; }

private:
    static constexpr std::size_t kCapacity = 1 << 16;

    bool writeAll(const char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = retryOnEintr([&] { return sys::calls().write(m_fd, p, n); });
            if (w < 0) {
                m_errno = errno;
                return false;
            }
            if (w == 0) {
                m_errno = ENOSPC;
                return false;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }

    int m_fd;
    int m_errno = 0;
    std::string m_buffer;
};

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

}  // namespace

std::string temporaryPrefix(const std::string& path) {
    return path + ".tmp";
}

int replaceFileAtomically(const std::string& path, const std::function<void(ChunkSink&)>& produce,
                          std::string& error, mode_t newFileMode) {
    if (path.empty() || path.back() == '/') {
        error = "not a file name: " + path;
        return -1;
    }
    struct stat st {};
    bool keepMode = false;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            error = (S_ISDIR(st.st_mode) ? "a directory, not a file: " : "not a regular file: ") + path;
            return -1;
        }
        // Replacing needs only a writable directory, but a file that its owner made read-only
        // must stay as it is, as with an ordinary write.
        if (::access(path.c_str(), W_OK) != 0) {
            error = systemError("cannot write", path, errno);
            return -1;
        }
        keepMode = true;
    }

    // A name of our own beside the target, so that the rename stays within one file system.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryPrefix(path) + "-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1));
        fd = retryOnEintr([&] {
            return sys::calls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
        });
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = systemError("cannot create", temp, errno);
        return -1;
    }

    auto abandon = [&](const char* what, int err) {
        if (fd >= 0) {
            sys::calls().close(fd);
        }
        sys::calls().unlink(temp.c_str());
        error = systemError(what, temp, err);
        return -1;
    };

    if (keepMode && ::fchmod(fd, st.st_mode & 07777) != 0) {
        return abandon("cannot set the mode of", errno);
    }

    FdSink sink(fd);
    produce(sink);
    if (!sink.flush()) {
        return abandon("cannot write", sink.error());
    }
    if (sys::calls().fsync(fd) != 0) {
        return abandon("cannot flush", errno);
    }
    const int closed = sys::calls().close(fd);
    fd = -1;
    if (closed != 0) {
        return abandon("cannot close", errno);
    }
    if (sys::calls().rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        sys::calls().unlink(temp.c_str());
        error = systemError("cannot rename to", path, err);
        return -1;
    }

    // The new content is in place; flushing the directory makes the rename itself durable.
    const std::string dir = directoryOf(path);
    const int dirFd =
        retryOnEintr([&] { return sys::calls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (dirFd >= 0) {
        if (sys::calls().fsync(dirFd) != 0 && errno != EINVAL) {
            OVL::Log.put(OVL::Logger::kError, "cannot flush directory %s: %s", dir.c_str(),
                         formatWin32Error(static_cast<unsigned long>(errno)).c_str());
        }
        sys::calls().close(dirFd);
    }
    return 0;
}

int replaceFileAtomically(const std::string& path, std::string_view content, std::string& error,
                          mode_t newFileMode) {
    return replaceFileAtomically(
        path, [content](ChunkSink& sink) { sink.put(content.data(), content.size()); }, error, newFileMode);
}

}  // namespace OVL
