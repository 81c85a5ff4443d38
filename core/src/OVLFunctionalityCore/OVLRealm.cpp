// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLRealm.h"

#include "OVLFunctionalityCore/OVLRealmParserFactory.h"
#include "OVLMessage/OVLElement.h"

namespace OVL {
namespace {

OVLGUID makeSystemRealmID() {
    OVLGUID id;
    id.fromString("00000000-0000-0000-0000-000000000001");
    return id;
}

}  // namespace

const OVLGUID OVLRealm::systemRealmID = makeSystemRealmID();

OVLRealm::OVLRealm(std::string type) : m_type(std::move(type)) {}

OVLRealm::OVLRealm(std::string type, const OVLGUID& id, std::string name)
    : m_type(std::move(type)), m_id(id), m_name(std::move(name)) {}

OVLRealm::~OVLRealm() = default;

bool OVLRealm::equals(const OVLRealm& other) const {
    return m_type == other.m_type && m_id == other.m_id && m_name == other.m_name;
}

OVLRealmParserFactory& OVLRealm::getParserFactory() {
    static OVLRealmParserFactory factory;
    return factory;
}

int OVLRealm::readFields(OVLMessageIterator&) {
    return 0;
}

int OVLRealm::writeFields(OVLMessageIterator&) const {
    return 0;
}

int OVLRealm::Reader::operator()(OVLMessageIterator& it, OVLRealmPtr& realm) const {
    std::string type;
    if (it.readText(OVLElement::Type, type) != 0) {
        return -1;
    }
    OVLRealmPtr created = getParserFactory().create(type);
    if (it.read(OVLElement::Id, OVLGUIDReader(), created->m_id) != 0) {
        return -1;
    }
    if (it.readText(OVLElement::Name, created->m_name) != 0) {
        return -1;
    }
    if (created->readFields(it) != 0) {
        return -1;
    }
    realm = std::move(created);
    return 0;
}

int OVLRealm::Writer::operator()(OVLMessageIterator& it, const OVLRealmPtr& realm) const {
    return realm ? (*this)(it, *realm) : -1;
}

int OVLRealm::Writer::operator()(OVLMessageIterator& it, const OVLRealm& realm) const {
    if (it.writeText(OVLElement::Type, realm.m_type) != 0) {
        return -1;
    }
    if (it.write(OVLElement::Id, OVLGUIDWriter(), realm.m_id) != 0) {
        return -1;
    }
    if (it.writeText(OVLElement::Name, realm.m_name) != 0) {
        return -1;
    }
    return realm.writeFields(it);
}

OVLSystemRealm::OVLSystemRealm() : OVLRealm(kSystemType, systemRealmID, "System") {}

OVLLocalRealm::OVLLocalRealm() : OVLRealm(kLocalType) {}

bool OVLLocalRealm::equals(const OVLRealm& other) const {
    const auto* local = dynamic_cast<const OVLLocalRealm*>(&other);
    return local != nullptr && OVLRealm::equals(other) && m_description == local->m_description;
}

int OVLLocalRealm::readFields(OVLMessageIterator& it) {
    std::string description;
    if (it.hasChild(OVLElement::Description) && it.readText(OVLElement::Description, description) != 0) {
        return -1;
    }
    m_description = std::move(description);
    return 0;
}

int OVLLocalRealm::writeFields(OVLMessageIterator& it) const {
    if (m_description.empty()) {
        return 0;
    }
    return it.writeText(OVLElement::Description, m_description);
}

}  // namespace OVL
