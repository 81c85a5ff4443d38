#pragma once
// The seam through which the runtime's handle, lock, log-file, mapping and counter code reaches
// the operating system. Every entry starts out as the plain system call; tests replace single
// entries (and restore them) to force failures such as ENOSPC or a refused mmap.
//
// Entries are read without synchronisation: replace them only while no other thread uses the
// runtime.

#include <fcntl.h>
#include <sys/types.h>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {
namespace sys {

struct Calls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*close)(int fd);
    // fcntl with a struct flock argument (F_OFD_SETLK, F_OFD_SETLKW, F_OFD_GETLK).
    int (*lockControl)(int fd, int cmd, struct flock* lock);
    void* (*mmap)(void* address, size_t length, int prot, int flags, int fd, off_t offset);
    int (*munmap)(void* address, size_t length);
    int (*msync)(void* address, size_t length, int flags);
    int (*mprotect)(void* address, size_t length, int prot);
    int (*ftruncate)(int fd, off_t length);
};

// The process-wide table.
OVLCORE_EXPORT Calls& calls() noexcept;

// The table as it was at load time, to restore entries after a test.
OVLCORE_EXPORT const Calls& defaultCalls() noexcept;

}  // namespace sys
}  // namespace OVL
