// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLLogWriterEngine.h"

namespace OVL {

OVLLogWriterEngine::OVLLogWriterEngine() = default;

OVLLogWriterEngine::~OVLLogWriterEngine() = default;

void OVLLogWriterEngine::addMessages(std::list<std::string>::const_iterator first,
                                     std::list<std::string>::const_iterator last) {
    for (; first != last; ++first) {
        writeMessage(*first);
    }
}

}  // namespace OVL
