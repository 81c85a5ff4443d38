// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLRealmList.h"

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLTypedIO.h"

namespace OVL {

OVLRealmPtr OVLRealmList::findByID(const OVLGUID& id) const {
    for (const OVLRealmPtr& realm : m_realms) {
        if (realm && realm->getID() == id) {
            return realm;
        }
    }
    return {};
}

OVLRealmPtr OVLRealmList::findByName(const std::string& name) const {
    for (const OVLRealmPtr& realm : m_realms) {
        if (realm && realm->getName() == name) {
            return realm;
        }
    }
    return {};
}

bool OVLRealmList::operator==(const OVLRealmList& other) const {
    if (m_realms.size() != other.m_realms.size()) {
        return false;
    }
    for (std::size_t i = 0; i < m_realms.size(); ++i) {
        const OVLRealmPtr& a = m_realms[i];
        const OVLRealmPtr& b = other.m_realms[i];
        if (!a || !b) {
            if (a || b) {
                return false;
            }
            continue;
        }
        if (!a->equals(*b)) {
            return false;
        }
    }
    return true;
}

int OVLRealmList::Reader::operator()(OVLMessageIterator& it, OVLRealmList& list) const {
    return OVLListReader<OVLRealm::Reader>(OVLElement::Realm)(it, list);
}

int OVLRealmList::Writer::operator()(OVLMessageIterator& it, const OVLRealmList& list) const {
    return OVLListWriter<OVLRealm::Writer>(OVLElement::Realm)(it, list);
}

}  // namespace OVL
