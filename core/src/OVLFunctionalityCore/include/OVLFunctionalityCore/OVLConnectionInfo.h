// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Parameters of a connection to an agent: the transport's type name ("SSH1", "NamedPipe",
// "TCP", "SSL"), the host (a host name or address, or for "NamedPipe" a socket path), the port
// and the credentials.
//
// It is an OVLConnectivityInfo (host in m_first, type name in m_second, port in m_value), so it
// can be handed to operations that take one; they recover the credentials by dynamic_cast.
// The port of a default-constructed info is kDefaultPort (0), which means "the transport's
// default port".
//
// XML form: <type>TCP</type><host>h</host><port>4433</port><auth>OVLAuthName</auth>; Writer
// writes the credentials without the password, CredentialsWriter with it.
//
// A value type; not synchronised.

#include <string>

#include "OVLCore/OVLConnectivityInfo.h"
#include "OVLFunctionalityCore/OVLAuthName.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLConnectionInfo : public OVLConnectivityInfo {
public:
    static constexpr int kDefaultPort = 0;

    OVLConnectionInfo() = default;
    OVLConnectionInfo(const std::string& typeName, const std::string& host, int port, OVLAuthName auth);
    OVLConnectionInfo(const OVLConnectionInfo&) = default;
    OVLConnectionInfo& operator=(const OVLConnectionInfo&) = default;
    ~OVLConnectionInfo() override;

    const std::string& getTypeName() const noexcept { return m_second; }
    void setTypeName(std::string typeName) { m_second = std::move(typeName); }
    const std::string& getHost() const noexcept { return m_first; }
    void setHost(std::string host) { m_first = std::move(host); }
    int getPort() const noexcept { return m_value; }
    void setPort(int port) noexcept { m_value = port; }
    bool hasDefaultPort() const noexcept { return m_value == kDefaultPort; }
    const OVLAuthName& getAuthName() const noexcept { return m_auth; }
    OVLAuthName& getAuthName() noexcept { return m_auth; }
    void setAuthName(OVLAuthName auth) { m_auth = std::move(auth); }

    // Equal when type, host, port and credentials (password included) are.
    bool operator==(const OVLConnectionInfo& other) const;
    bool operator!=(const OVLConnectionInfo& other) const { return !(*this == other); }

    // Reads type and host (required), port (optional, default port when missing; -1 when not a
    // number from 0 to 65535) and auth (required). The object is unchanged on failure.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLConnectionInfo& info) const;
    };
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLConnectionInfo& info) const;
    };
    struct OVLFUNCTIONALITYCORE_EXPORT CredentialsWriter {
        int operator()(OVLMessageIterator& it, const OVLConnectionInfo& info) const;
    };

private:
    OVLAuthName m_auth;
};

}  // namespace OVL
