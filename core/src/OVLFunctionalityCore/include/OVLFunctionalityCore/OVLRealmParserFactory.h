// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Creates realm objects by type name, for the realm reader. One instance per process
// (OVLRealm::getParserFactory()); all members are thread-safe.

#include <map>
#include <string>

#include "OVLCommon/Mutex.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLFunctionalityCore/OVLRealm.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLRealmParserFactory {
public:
    // Returns a new, default realm of its type.
    using Creator = OVLRealmPtr (*)();

    // Knows "system" and "local".
    OVLRealmParserFactory();
    OVLRealmParserFactory(const OVLRealmParserFactory&) = delete;
    OVLRealmParserFactory& operator=(const OVLRealmParserFactory&) = delete;

    // Makes `creator` the one for `type`, replacing an earlier one; a null creator removes it.
    void registerType(const std::string& type, Creator creator);
    // A new realm of that type; a plain OVLRealm carrying the type name when the type is not
    // registered. Never null.
    OVLRealmPtr create(const std::string& type) const;

private:
    mutable Mutex m_mutex;
    std::map<std::string, Creator> m_creators GUARDED_BY(m_mutex);
};

}  // namespace OVL
