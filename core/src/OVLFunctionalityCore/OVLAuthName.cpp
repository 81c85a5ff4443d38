// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLAuthName.h"

#include "OVLMessage/OVLElement.h"

namespace OVL {
namespace {

int writeCommon(OVLMessageIterator& it, const OVLAuthName& auth) {
    if (it.writeText(OVLElement::Login, auth.getLogin()) != 0) {
        return -1;
    }
    if (it.writeText(OVLElement::Domain, auth.getDomain()) != 0) {
        return -1;
    }
    return it.write(OVLElement::RealmId, OVLGUIDWriter(), auth.getRealmID());
}

}  // namespace

OVLAuthName::OVLAuthName(std::string login, std::string domain, const OVLGUID& realmID, std::string password)
    : m_login(std::move(login)),
      m_domain(std::move(domain)),
      m_realmID(realmID),
      m_password(std::move(password)) {}

bool OVLAuthName::operator==(const OVLAuthName& other) const {
    return m_login == other.m_login && m_domain == other.m_domain && m_realmID == other.m_realmID &&
           m_password == other.m_password;
}

int OVLAuthName::Reader::operator()(OVLMessageIterator& it, OVLAuthName& auth) const {
    OVLAuthName read;
    if (it.readText(OVLElement::Login, read.m_login) != 0) {
        return -1;
    }
    if (it.readText(OVLElement::Domain, read.m_domain) != 0) {
        return -1;
    }
    if (it.read(OVLElement::RealmId, OVLGUIDReader(), read.m_realmID) != 0) {
        return -1;
    }
    it.readText(OVLElement::Password, read.m_password);
    auth = std::move(read);
    return 0;
}

int OVLAuthName::Writer::operator()(OVLMessageIterator& it, const OVLAuthName& auth) const {
    return writeCommon(it, auth);
}

int OVLAuthName::CredentialsWriter::operator()(OVLMessageIterator& it, const OVLAuthName& auth) const {
    if (writeCommon(it, auth) != 0) {
        return -1;
    }
    return it.writeText(OVLElement::Password, auth.getPassword());
}

}  // namespace OVL
