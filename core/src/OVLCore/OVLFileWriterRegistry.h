// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The process-wide map from log file name to its file writer engine, so that every log system of
// the process writing to one file shares one engine (and its mutex). The map holds one reference
// to each engine. Its mutex is taken after a log system's mutex, never before.

#include <map>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLCommon/Mutex.h"
#include "OVLCore/OVLLogWriterEngine.h"

namespace OVL {

class OVLFileWriterRegistry {
public:
    static OVLFileWriterRegistry& instance();

    // The engine for `name`; a new one is created and opened if there is none. Null when the
    // file cannot be opened.
    boost::intrusive_ptr<OVLLogWriterEngine> getEngine(const std::string& name, long long size);
    // Drops the map's reference to `engine`; an engine not in the map is ignored.
    void removeEngine(const OVLLogWriterEngine* engine);

private:
    OVLFileWriterRegistry() = default;

    Mutex m_mutex;
    std::map<std::string, boost::intrusive_ptr<OVLLogWriterEngine>> m_engines GUARDED_BY(m_mutex);
};

}  // namespace OVL
