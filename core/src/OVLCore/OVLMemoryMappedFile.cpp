// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLMemoryMappedFile.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "OVLCommon/Errors.h"
#include "OVLCommon/Files.h"
#include "OVLCommon/Logger.h"
#include "OVLCommon/SysCall.h"
#include "OVLFileLocks.h"
#include "OVLNamedMutex.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace OVL {

namespace {

constexpr const char* kRemapName = "OVL::OVLMemoryMappedFile::remap";

int fileDescriptor(const boost::shared_ptr<OVLHandle>& handle) {
    return handle ? handleToFd(handle->getHandle()) : -1;
}

}  // namespace

OVLMemoryMappedFile::OVLMemoryMappedFile() = default;

OVLMemoryMappedFile::~OVLMemoryMappedFile() {
    unmap();
}

std::string OVLMemoryMappedFile::mutexName(const std::string& fileName) {
    std::string name = "Global\\" + fileName;
    std::replace(name.begin() + 7, name.end(), '\\', '%');
    return name;
}

void* OVLMemoryMappedFile::map(const std::string& name, unsigned int size, tFileMappingOptions options,
                               void* address) {
    unmap();
    const unsigned long share = static_cast<unsigned long>(options.share) & 7UL;
    const unsigned long access = options.access == 1 ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    const unsigned long disposition =
        options.openMode == 1 ? OPEN_EXISTING : (options.openMode == 0 ? CREATE_NEW : OPEN_ALWAYS);

    m_mutex.reset(new OVLHandle(detail::createNamedMutex(mutexName(name))));
    m_file.reset(new OVLHandle(
        CreateFileAU(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr)));
    m_options = options;
    return remap(size, address, nullptr);
}

void* OVLMemoryMappedFile::remap(unsigned int size, void* address, const OVLMemoryMappedFile* other) {
    if (m_pMemory != nullptr) {
        Log.put(Logger::kError,
                "[%s]: Wrong function sequence: OVLMemoryMappedFile::remap call while m_pMemory has been "
                "already set.",
                kRemapName);
        return nullptr;
    }
    if (other != nullptr && other != this) {
        m_options = other->m_options;
        m_mutex = other->m_mutex;
        m_file = other->m_file;
    }
    const int fd = fileDescriptor(m_file);
    if (fd < 0) {
        m_size = 0;
        return nullptr;
    }

    const bool writable = m_options.access == 1;
    struct stat st;
    const bool haveSize = ::fstat(fd, &st) == 0;
    unsigned int mappingSize = size;
    if (other == nullptr && m_options.useFileSize == 1 && haveSize) {
        mappingSize = std::max(mappingSize, static_cast<unsigned int>(st.st_size));
    }

    // Like a file mapping object: size 0 means the whole file, an empty mapping is refused, and
    // a larger mapping extends a writable file.
    std::size_t length = mappingSize;
    int error = 0;
    if (!haveSize) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = ENODEV;
    } else {
        if (length == 0) {
            length = static_cast<std::size_t>(st.st_size);
        }
        if (length == 0) {
            error = EINVAL;
        } else if (static_cast<off_t>(length) > st.st_size) {
            if (!writable) {
                error = EACCES;
            } else if (sys::calls().ftruncate(fd, static_cast<off_t>(length)) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        m_file.reset();
        m_size = 0;
        Log.put("[%s] Failed to map file on to memory. Cause: %s", kRemapName,
                formatWin32Error(error).c_str());
        return nullptr;
    }

    const int prot = writable ? (PROT_READ | PROT_WRITE) : PROT_READ;
    const int flags = MAP_SHARED | (address != nullptr ? MAP_FIXED_NOREPLACE : 0);
    void* view = sys::calls().mmap(address, length, prot, flags, fd, 0);
    if (view == MAP_FAILED) {
        view = nullptr;
    } else if (address != nullptr && view != address) {  // kernels without MAP_FIXED_NOREPLACE
        sys::calls().munmap(view, length);
        view = nullptr;
    }
    m_pMemory = view;
    m_viewLength = view ? length : 0;
    m_size = view ? mappingSize : 0;
    return view;
}

void OVLMemoryMappedFile::unmap() {
    if (m_pMemory == nullptr) {
        return;
    }
    sys::calls().munmap(m_pMemory, m_viewLength);
    m_mutex.reset();
    m_file.reset();
    m_pMemory = nullptr;
    m_size = 0;
    m_viewLength = 0;
}

void OVLMemoryMappedFile::syncMemory() const {
    if (m_pMemory != nullptr) {
        sys::calls().msync(m_pMemory, m_viewLength, MS_SYNC);
    }
}

int OVLMemoryMappedFile::protectMemory(bool readOnly) {
    if (m_pMemory == nullptr || m_size == 0) {
        return -1;
    }
    const int prot = readOnly ? PROT_READ : (PROT_READ | PROT_WRITE);
    return sys::calls().mprotect(m_pMemory, m_viewLength, prot) == 0 ? 0 : 1;
}

unsigned int OVLMemoryMappedFile::getMemoryPageSize() {
    return static_cast<unsigned int>(::sysconf(_SC_PAGESIZE));
}

int OVLMemoryMappedFile::lock(bool dontWait) {
    const int fd = fileDescriptor(m_file);
    if (fd < 0) {
        return -3;
    }
    if (!m_mutex || !m_mutex->isValid() || detail::waitNamedMutex(m_mutex->getHandle(), kMutexWaitMs) != 0) {
        return -2;
    }
    if (!detail::lockRange(fd, 0, 1, dontWait)) {
        // Nothing would release the mutex otherwise: the caller sees a failed lock and does not
        // call unlock().
        detail::releaseNamedMutex(m_mutex->getHandle());
        return -1;
    }
    return 0;
}

void OVLMemoryMappedFile::unlock() {
    detail::unlockRange(fileDescriptor(m_file), 0, 1);
    if (m_mutex) {
        detail::releaseNamedMutex(m_mutex->getHandle());
    }
}

int removeLockedCacheFile(const char* path, int reason) {
    Log.put("Removing cache file %s, reason %d", path ? path : "(null)", reason);
    return removeFile(path);
}

}  // namespace OVL
