// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A free-standing piece of XML: an element of its own, in a message of its own, that typed
// writers can fill and readers and iterators can then inspect. Request data and values that
// are handed around as XML use it.
//
//     OVL::OVLAnyData data(OVL::OVLElement::Data);   // <data/>
//     OVL::OVLMessageIterator it = data.any();        // on <data>
//     it.write(OVL::OVLEnvConfig::Writer(), config);
//
// Copies share the same element. Not synchronised.

#include <string>

#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessage.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLAnyData {
public:
    // An element named by its identifier (OVLElement); an unknown identifier gives empty data,
    // whose any() is invalid.
    explicit OVLAnyData(int id);
    // An element of that name; an invalid name gives empty data.
    explicit OVLAnyData(const char* name);

    // An iterator on the element; invalid for empty data.
    OVLMessageIterator any() const { return m_message->getIterator(); }
    bool isEmpty() const noexcept { return m_message->isEmpty(); }
    // The message that holds the element (for parsing into it, toString, getBody, save).
    const OVLMessagePtr& message() const noexcept { return m_message; }

private:
    OVLMessagePtr m_message;
};

}  // namespace OVL
