// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A dynamic library loaded from a path on request and released by unload(); destroying the
// object keeps the library loaded. load() first makes the library's own directory the process's
// directory for dependent libraries (a process-wide setting that stays after load returns, so
// concurrent loads in one process can interleave their settings).
// Failures give false and store the loader's text as the calling thread's error message.

#include <string>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/OVLStaticLoadedLibrary.h"

namespace OVL {

class OVLCORE_EXPORT OVLLibrary : public OVLStaticLoadedLibrary {
public:
    explicit OVLLibrary(const std::string& path);
    OVLLibrary(const OVLLibrary& other);
    OVLLibrary& operator=(const OVLLibrary& other);
    ~OVLLibrary();

    // Splits the path at its last '/' (or, without one, its last backslash) and sets the part
    // before it as the dependency directory, then loads the library by its full path. Each
    // successful load adds one reference in the loader.
    bool load();
    // Releases one reference. False (error message set) when not loaded or refused; the module
    // is null afterwards in both cases.
    bool unload();
    const std::string& getLibPath() const { return m_name; }
    bool operator<(const OVLLibrary& other) const { return m_name < other.m_name; }
};

}  // namespace OVL
