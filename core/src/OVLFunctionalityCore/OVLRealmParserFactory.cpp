// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLRealmParserFactory.h"

#include <boost/make_shared.hpp>

namespace OVL {
namespace {

OVLRealmPtr createSystem() {
    return boost::make_shared<OVLSystemRealm>();
}
OVLRealmPtr createLocal() {
    return boost::make_shared<OVLLocalRealm>();
}

}  // namespace

OVLRealmParserFactory::OVLRealmParserFactory() {
    m_creators[OVLRealm::kSystemType] = &createSystem;
    m_creators[OVLRealm::kLocalType] = &createLocal;
}

void OVLRealmParserFactory::registerType(const std::string& type, Creator creator) {
    MutexLock lock(m_mutex);
    if (creator == nullptr) {
        m_creators.erase(type);
    } else {
        m_creators[type] = creator;
    }
}

OVLRealmPtr OVLRealmParserFactory::create(const std::string& type) const {
    Creator creator = nullptr;
    {
        MutexLock lock(m_mutex);
        auto it = m_creators.find(type);
        if (it != m_creators.end()) {
            creator = it->second;
        }
    }
    OVLRealmPtr realm = creator != nullptr ? creator() : OVLRealmPtr();
    // A creator must make a realm of its own type; anything else is read as a plain realm.
    if (!realm || realm->getType() != type) {
        realm = boost::make_shared<OVLRealm>(type);
    }
    return realm;
}

}  // namespace OVL
