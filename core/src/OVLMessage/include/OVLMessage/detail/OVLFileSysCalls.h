#pragma once
// The system calls through which OVLMessage::save() writes files. Tests replace them to force
// failures (ENOSPC on write, EIO on fsync, a failing rename) that a real disk rarely gives.
// Not for production use.

#include <sys/types.h>

#include "OVLMessage/OVLMessageExport.h"

namespace OVL::detail {

struct OVLFileSysCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

// The real calls.
OVLMESSAGE_EXPORT const OVLFileSysCalls& realFileSysCalls() noexcept;
// Makes save() use `calls` (which must outlive their use); null restores the real calls.
// Not thread-safe with concurrent saves.
OVLMESSAGE_EXPORT void setFileSysCalls(const OVLFileSysCalls* calls) noexcept;

}  // namespace OVL::detail
