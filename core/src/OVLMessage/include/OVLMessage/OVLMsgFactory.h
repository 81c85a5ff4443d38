// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Creates messages. There is one factory per process, obtained with OVLMessage::getFactory();
// it is thread-safe.

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLRefCounter.h"
#include "OVLMessage/OVLMessageExport.h"

namespace OVL {

class OVLMessage;

class OVLMESSAGE_EXPORT OVLMsgFactory : public OVLRefCounter {
public:
    // A new, empty message (no root element). Throws std::bad_alloc when out of memory.
    boost::intrusive_ptr<OVLMessage> createNew() const;
};

using OVLMsgFactoryPtr = boost::intrusive_ptr<OVLMsgFactory>;

}  // namespace OVL
