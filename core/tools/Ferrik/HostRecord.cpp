// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "HostRecord.h"

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLTypedIO.h"

int HostRecord::Reader::operator()(OVL::OVLMessageIterator& it, HostRecord& record) const {
    if (it.read(OVL::OVLElement::Auth, OVL::OVLAuthName::Reader(), record.auth) != 0) {
        return -1;
    }
    record.realms.clear();
    if (it.hasChild(OVL::OVLElement::Realms)) {
        it.read(OVL::OVLElement::Realms, OVL::OVLRealmList::Reader(), record.realms);
    }
    return 0;
}

int HostRecord::Writer::operator()(OVL::OVLMessageIterator& it, const HostRecord& record) const {
    if (it.write(OVL::OVLElement::Auth, OVL::OVLAuthName::Writer(), record.auth) != 0) {
        return -1;
    }
    return it.write(OVL::OVLElement::Realms, OVL::OVLRealmList::Writer(), record.realms);
}

int readHostRecords(OVL::OVLMessageIterator& it, HostRecords& records) {
    const OVL::OVLMapReader<OVL::OVLTextReader, HostRecord::Reader> reader(
        OVL::OVLElement::HostRecord, OVL::OVLElement::HostName, OVL::OVLElement::Data);
    return it.read(reader, records);
}

int writeHostRecords(OVL::OVLMessageIterator& it, const HostRecords& records) {
    const OVL::OVLMapWriter<OVL::OVLTextWriter, HostRecord::Writer> writer(
        OVL::OVLElement::HostRecord, OVL::OVLElement::HostName, OVL::OVLElement::Data);
    return it.write(writer, records);
}
