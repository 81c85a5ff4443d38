// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Dynamic library helpers with the platform's semantics, on dlopen/dlsym/dlclose.
//
// Failures return null/false and leave the loader's text in getLibraryError() of the calling
// thread.

#include <string>

#include "OVLCommon/Export.h"

namespace OVL {

// Sets the process-wide directory that bare library names (no '/') are looked up in first.
// Null or empty clears it. Always true.
OVLCOMMON_EXPORT bool SetDllDirectoryAU(const char* dir) noexcept;
OVLCOMMON_EXPORT std::string getDllDirectory();

// Loads a library (RTLD_NOW). A bare name is tried in the dependency directory first, then by
// the loader's own search. Each successful call adds one reference.
OVLCOMMON_EXPORT void* LoadLibraryAU(const char* path) noexcept;
// The handle of a library that is already loaded, without loading it (RTLD_NOLOAD). The extra
// reference that the lookup takes is dropped again, so the handle does not own the library.
OVLCOMMON_EXPORT void* GetModuleHandleAU(const char* name) noexcept;
OVLCOMMON_EXPORT void* GetProcAddressU(void* module, const char* name) noexcept;
OVLCOMMON_EXPORT bool FreeLibraryU(void* module) noexcept;

// The loader's text for the calling thread's last failure of the calls above.
OVLCOMMON_EXPORT std::string getLibraryError();

}  // namespace OVL
