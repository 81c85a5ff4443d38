// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLConnectionInfo.h"

#include "OVLMessage/OVLElement.h"

namespace OVL {
namespace {

template <class AuthWriter>
int writeInfo(OVLMessageIterator& it, const OVLConnectionInfo& info) {
    if (it.writeText(OVLElement::Type, info.getTypeName()) != 0) {
        return -1;
    }
    if (it.writeText(OVLElement::Host, info.getHost()) != 0) {
        return -1;
    }
    if (it.writeInt(OVLElement::Port, info.getPort()) != 0) {
        return -1;
    }
    return it.write(OVLElement::Auth, AuthWriter(), info.getAuthName());
}

}  // namespace

OVLConnectionInfo::OVLConnectionInfo(const std::string& typeName, const std::string& host, int port,
                                     OVLAuthName auth)
    : OVLConnectivityInfo(host, typeName, port), m_auth(std::move(auth)) {}

OVLConnectionInfo::~OVLConnectionInfo() = default;

bool OVLConnectionInfo::operator==(const OVLConnectionInfo& other) const {
    return OVLConnectivityInfo::operator==(other) && m_auth == other.m_auth;
}

int OVLConnectionInfo::Reader::operator()(OVLMessageIterator& it, OVLConnectionInfo& info) const {
    OVLConnectionInfo read;
    std::string text;
    if (it.readText(OVLElement::Type, text) != 0) {
        return -1;
    }
    read.setTypeName(std::move(text));
    if (it.readText(OVLElement::Host, text) != 0) {
        return -1;
    }
    read.setHost(std::move(text));
    if (it.hasChild(OVLElement::Port)) {
        int port = 0;
        if (it.readInt(OVLElement::Port, port) != 0 || port < 0 || port > 65535) {
            return -1;
        }
        read.setPort(port);
    }
    if (it.read(OVLElement::Auth, OVLAuthName::Reader(), read.m_auth) != 0) {
        return -1;
    }
    info = read;
    return 0;
}

int OVLConnectionInfo::Writer::operator()(OVLMessageIterator& it, const OVLConnectionInfo& info) const {
    return writeInfo<OVLAuthName::Writer>(it, info);
}

int OVLConnectionInfo::CredentialsWriter::operator()(OVLMessageIterator& it,
                                                     const OVLConnectionInfo& info) const {
    return writeInfo<OVLAuthName::CredentialsWriter>(it, info);
}

}  // namespace OVL
