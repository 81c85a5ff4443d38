// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the console remembers per host: the credentials of the last connect (without the
// password once stored) and the host's realm list, keyed by host name bytes (UTF-8) in ascending
// byte order. Value types; GUI thread only.

#include <map>
#include <string>

#include "OVLFunctionalityCore/OVLAuthName.h"
#include "OVLFunctionalityCore/OVLRealmList.h"
#include "OVLMessage/OVLMessageIterator.h"

struct HostRecord {
    OVL::OVLAuthName auth;
    OVL::OVLRealmList realms;

    // Run on the record element: credentials in element 1630 (OVLAuthName::Reader/Writer, which
    // never write the password), realms in element 1960. Reader: -1 when the credentials are
    // missing or rejected; a missing realm list reads as empty.
    struct Reader {
        int operator()(OVL::OVLMessageIterator& it, HostRecord& record) const;
    };
    struct Writer {
        int operator()(OVL::OVLMessageIterator& it, const HostRecord& record) const;
    };
};

using HostRecords = std::map<std::string, HostRecord>;

// The host map below the settings root: one element 1876 per host, holding the host name in
// element 1068 and the record in element 1307. The reader skips entries it rejects and keeps
// the map's earlier content; both return 0, the writer -1 when an entry could not be written.
int readHostRecords(OVL::OVLMessageIterator& it, HostRecords& records);
int writeHostRecords(OVL::OVLMessageIterator& it, const HostRecords& records);
