// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLAnyData.h"

#include "OVLMessage/OVLElement.h"

namespace OVL {

OVLAnyData::OVLAnyData(int id) : OVLAnyData(OVLElement::name(id)) {}

OVLAnyData::OVLAnyData(const char* name) : m_message(OVLMessage::getFactory()->createNew()) {
    if (name != nullptr) {
        m_message->setRootName(name);
    }
}

}  // namespace OVL
