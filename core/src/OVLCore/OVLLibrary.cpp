// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLLibrary.h"

#include "OVLCommon/Errors.h"
#include "OVLCommon/Libraries.h"
#include "OVLCore/OVLStaticLoadedLibrary.h"

namespace OVL {

OVLStaticLoadedLibrary::OVLStaticLoadedLibrary(const std::string& name) : m_name(name) {}
OVLStaticLoadedLibrary::OVLStaticLoadedLibrary(const OVLStaticLoadedLibrary& other) = default;
OVLStaticLoadedLibrary& OVLStaticLoadedLibrary::operator=(const OVLStaticLoadedLibrary& other) = default;
OVLStaticLoadedLibrary::~OVLStaticLoadedLibrary() = default;

void OVLStaticLoadedLibrary::recordLoaderError() {
    // The loader's text may contain '%': it must be an argument, never the format.
    setErrorMessage("%s", getLibraryError().c_str());
}

bool OVLStaticLoadedLibrary::init() {
    m_module = GetModuleHandleAU(m_name.c_str());
    if (m_module != nullptr) {
        return true;
    }
    recordLoaderError();
    return false;
}

void* OVLStaticLoadedLibrary::getProc(const char* name) const {
    if (m_module == nullptr || name == nullptr) {
        return nullptr;
    }
    return GetProcAddressU(m_module, name);
}

OVLLibrary::OVLLibrary(const std::string& path) : OVLStaticLoadedLibrary(path) {}
OVLLibrary::OVLLibrary(const OVLLibrary& other) = default;
OVLLibrary& OVLLibrary::operator=(const OVLLibrary& other) = default;
OVLLibrary::~OVLLibrary() {
    m_module = nullptr;
}

bool OVLLibrary::load() {
    std::string::size_type separator = m_name.rfind('/');
    if (separator == std::string::npos) {
        separator = m_name.rfind('\\');
    }
    if (separator != std::string::npos) {
        SetDllDirectoryAU(m_name.substr(0, separator).c_str());
    }
    m_module = LoadLibraryAU(m_name.c_str());
    if (m_module != nullptr) {
        return true;
    }
    recordLoaderError();
    return false;
}

bool OVLLibrary::unload() {
    void* module = m_module;
    m_module = nullptr;
    if (FreeLibraryU(module)) {
        return true;
    }
    recordLoaderError();
    return false;
}

}  // namespace OVL
