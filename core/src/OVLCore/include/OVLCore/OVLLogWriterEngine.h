// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Abstract destination of log messages. Engines are reference counted and held through
// boost::intrusive_ptr; a log system calls them from flush() with its own mutex held, so an
// engine must not call back into that log system.

#include <list>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/OVLRefCounter.h"

namespace OVL {

class OVLCORE_EXPORT OVLLogWriterEngine : public virtual OVLRefCounter {
public:
    OVLLogWriterEngine();
    ~OVLLogWriterEngine() override;

    // Writes one message. Failures are the engine's own business: nothing is reported.
    virtual void writeMessage(const std::string& text) = 0;

    // Calls writeMessage for each text of [first, last), in order.
    void addMessages(std::list<std::string>::const_iterator first,
                     std::list<std::string>::const_iterator last);
};

}  // namespace OVL
