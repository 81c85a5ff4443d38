// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Access to a dynamic library that is already loaded into the process: finds it by name and
// looks up its functions. It never loads or releases the library.
// Failures give false or null; init() stores the loader's text as the calling thread's error
// message (OVL::getErrorMessage). Copies share the module handle. One thread at a time.

#include <string>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

class OVLCORE_EXPORT OVLStaticLoadedLibrary {
public:
    explicit OVLStaticLoadedLibrary(const std::string& name);
    OVLStaticLoadedLibrary(const OVLStaticLoadedLibrary& other);
    OVLStaticLoadedLibrary& operator=(const OVLStaticLoadedLibrary& other);
    ~OVLStaticLoadedLibrary();

    // Finds the loaded module of that name. False (and the thread's error message set) if it is
    // not loaded.
    bool init();
    bool loaded() const { return m_module != nullptr; }
    // Address of the exported symbol `name`, or null (nothing recorded).
    void* getProc(const char* name) const;

protected:
    // Stores the loader's text for the last failure as the thread's error message.
    static void recordLoaderError();

    std::string m_name;
    void* m_module = nullptr;
};

}  // namespace OVL
