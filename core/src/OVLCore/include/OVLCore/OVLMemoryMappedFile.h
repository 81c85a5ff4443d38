// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A file mapped into memory so that several processes share its contents, paired with a
// system-wide named mutex ("Global\" + the path with every backslash replaced by '%') and a
// one-byte lock of the file, so that the processes can take turns writing:
//   file.lock(false); change file.getMemory(); file.syncMemory(); file.unlock();
//
// The named mutex is an open-file-description lock on a small lock file derived from the name,
// in the shared-memory directory (/dev/shm, else /tmp). The kernel releases it when the holder's
// last descriptor goes away, so a process that dies holding it does not block the others.
// Each object opens its own descriptor of the lock file, so separate objects exclude each other
// even inside one process; objects that share handles through remap(..., other) share the mutex.
//
// One object is used by one thread at a time. Diagnostics go to OVL::Log. Not copyable.

#include <string>

#include <boost/shared_ptr.hpp>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/OVLHandle.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

class OVLCORE_EXPORT OVLMemoryMappedFile : private noncopyable_::noncopyable {
public:
    struct tFileMappingOptions {
        // Bits 1 read, 2 write, 4 delete: what other openers may do (advisory on this platform).
        int share;
        // 0 create a new file (fail if it exists); 1 open an existing file; else open or create.
        int openMode;
        // 1 read and write; anything else read only.
        int access;
        // 1: the mapping covers at least the file's current size.
        int useFileSize;

        tFileMappingOptions(int share = 7, int openMode = 2, int access = 1, int useFileSize = 1)
            : share(share), openMode(openMode), access(access), useFileSize(useFileSize) {}
    };

    // How long lock() waits for the named mutex.
    static constexpr unsigned int kMutexWaitMs = 5000;

    OVLMemoryMappedFile();
    ~OVLMemoryMappedFile();

    // Opens (or creates, per options.openMode) the file and its named mutex and maps
    // max(size, file size) bytes (only `size` with options.useFileSize != 1; size 0 means the
    // whole file), extending a writable file to the mapping size. At `address` if not null (the
    // range must be free). Returns the view, or null with getSize() 0 when the file cannot be
    // opened, mapped or extended (the last two are logged).
    void* map(const std::string& name, unsigned int size, tFileMappingOptions options = tFileMappingOptions(),
              void* address = nullptr);
    // Maps the file already opened by map(), or the file of `other` (sharing its handles and
    // options). Null without an open file, and null with a logged sequence error while a view
    // is mapped (that view stays).
    void* remap(unsigned int size, void* address = nullptr, const OVLMemoryMappedFile* other = nullptr);
    // Unmaps the view and releases both handles; nothing happens without a view.
    void unmap();

    void* getMemory() const { return m_pMemory; }
    // The mapping size asked for or found; 0 when nothing is mapped or a whole file was mapped
    // with size 0.
    unsigned int getSize() const { return m_size; }
    // Writes the view's changed pages back to the file and waits for that; the result is not
    // examined.
    void syncMemory() const;
    // Makes the view read-only or read-write: 0 on success, 1 when refused, -1 without a view
    // (or with getSize() 0).
    int protectMemory(bool readOnly);
    static unsigned int getMemoryPageSize();

    // Takes the named mutex (waiting up to kMutexWaitMs), then the lock of the file's first
    // byte (failing at once with dontWait, else waiting). 0 locked; -1 the byte lock failed (the
    // mutex is released again); -2 the mutex was not obtained in time or there is none; -3 no
    // open file. A second lock() through the same object succeeds at once; one unlock() then
    // releases both.
    int lock(bool dontWait);
    // Releases the byte lock and then the mutex. Without handles it does nothing.
    void unlock();

    // "Global\" followed by fileName with every backslash replaced by '%'.
    static std::string mutexName(const std::string& fileName);

private:
    void* m_pMemory = nullptr;
    unsigned int m_size = 0;
    tFileMappingOptions m_options;
    boost::shared_ptr<OVLHandle> m_mutex;
    boost::shared_ptr<OVLHandle> m_file;
    std::size_t m_viewLength = 0;  // bytes actually mapped at m_pMemory
};

// Logs "Removing cache file <path>, reason <reason>" and deletes the file: 0, or -1 on failure.
OVLCORE_EXPORT int removeLockedCacheFile(const char* path, int reason);

}  // namespace OVL
