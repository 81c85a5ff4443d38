// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The credentials of a login: login, domain, realm identifier and password (UTF-8 strings).
//
// XML form (children of the element that stands for the object):
//     <login>alice</login><domain>corp</domain><realmId>GUID text</realmId>[<password>..</password>]
// Writer, the one for files, never writes the password; CredentialsWriter writes it too and is
// meant only for a login request on a connection.
//
// A value type; not synchronised.

#include <string>

#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLAuthName {
public:
    OVLAuthName() = default;
    OVLAuthName(std::string login, std::string domain, const OVLGUID& realmID, std::string password = {});

    const std::string& getLogin() const noexcept { return m_login; }
    void setLogin(std::string login) { m_login = std::move(login); }
    const std::string& getDomain() const noexcept { return m_domain; }
    void setDomain(std::string domain) { m_domain = std::move(domain); }
    const OVLGUID& getRealmID() const noexcept { return m_realmID; }
    void setRealmID(const OVLGUID& realmID) noexcept { m_realmID = realmID; }
    const std::string& getPassword() const noexcept { return m_password; }
    void setPassword(std::string password) { m_password = std::move(password); }

    bool operator==(const OVLAuthName& other) const;
    bool operator!=(const OVLAuthName& other) const { return !(*this == other); }

    // Reads login, domain, realmId and, when present, password (else empty). -1 when login,
    // domain or realmId is missing or realmId is not GUID text; the object is then unchanged.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLAuthName& auth) const;
    };
    // Writes login, domain and realmId; never the password.
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLAuthName& auth) const;
    };
    // Writes login, domain, realmId and password.
    struct OVLFUNCTIONALITYCORE_EXPORT CredentialsWriter {
        int operator()(OVLMessageIterator& it, const OVLAuthName& auth) const;
    };

private:
    std::string m_login;
    std::string m_domain;
    OVLGUID m_realmID;
    std::string m_password;
};

}  // namespace OVL
