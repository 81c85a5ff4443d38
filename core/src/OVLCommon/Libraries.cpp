// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/Libraries.h"

#include <dlfcn.h>

#include <cstring>

#include "OVLCommon/Mutex.h"

namespace OVL {

namespace {

Mutex g_dirMutex;
std::string g_dllDirectory GUARDED_BY(g_dirMutex);

thread_local std::string t_libraryError;

void recordDlError() {
    const char* text = dlerror();
    t_libraryError = text ? text : "unknown dynamic loader error";
}

}  // namespace

bool SetDllDirectoryAU(const char* dir) noexcept {
    try {
        MutexLock lock(g_dirMutex);
        g_dllDirectory = dir ? dir : "";
    } catch (...) {
        return false;
    }
    return true;
}

std::string getDllDirectory() {
    MutexLock lock(g_dirMutex);
    return g_dllDirectory;
}

void* LoadLibraryAU(const char* path) noexcept {
    if (path == nullptr || *path == '\0') {
        t_libraryError = "empty library path";
        return nullptr;
    }
    try {
        if (strchr(path, '/') == nullptr) {
            std::string dir = getDllDirectory();
            if (!dir.empty()) {
                std::string candidate = dir + "/" + path;
                if (void* h = dlopen(candidate.c_str(), RTLD_NOW)) {
                    return h;
                }
            }
        }
        void* h = dlopen(path, RTLD_NOW);
        if (h == nullptr) {
            recordDlError();
        }
        return h;
    } catch (...) {
        t_libraryError = "out of memory";
        return nullptr;
    }
}

void* GetModuleHandleAU(const char* name) noexcept {
    if (name == nullptr) {
        t_libraryError = "null module name";
        return nullptr;
    }
    void* h = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) {
        recordDlError();
        return nullptr;
    }
    // The lookup took a reference of its own; a module handle does not own the library.
    dlclose(h);
    return h;
}

void* GetProcAddressU(void* module, const char* name) noexcept {
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    dlerror();
    return dlsym(module, name);
}

bool FreeLibraryU(void* module) noexcept {
    if (module == nullptr) {
        t_libraryError = "library is not loaded";
        return false;
    }
    if (dlclose(module) != 0) {
        recordDlError();
        return false;
    }
    return true;
}

std::string getLibraryError() {
    return t_libraryError;
}

}  // namespace OVL
