// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFileWriterRegistry.h"

#include "OVLFileWriterEngine.h"

namespace OVL {

OVLFileWriterRegistry& OVLFileWriterRegistry::instance() {
    static OVLFileWriterRegistry registry;
    return registry;
}

namespace {
// Construct the registry when the library is loaded, before any static object of a program can
// create a log system, so that it is destroyed after all of them.
[[maybe_unused]] const OVLFileWriterRegistry& g_registryAtLoad = OVLFileWriterRegistry::instance();
}  // namespace

boost::intrusive_ptr<OVLLogWriterEngine> OVLFileWriterRegistry::getEngine(const std::string& name,
                                                                          long long size) {
    MutexLock lock(m_mutex);
    auto found = m_engines.find(name);
    if (found != m_engines.end()) {
        return found->second;
    }
    boost::intrusive_ptr<OVLFileWriterEngine> engine(new OVLFileWriterEngine);
    if (!engine->open(name, size)) {
        return nullptr;
    }
    m_engines.emplace(name, engine);
    return engine;
}

void OVLFileWriterRegistry::removeEngine(const OVLLogWriterEngine* engine) {
    boost::intrusive_ptr<OVLLogWriterEngine> dropped;  // released after the mutex
    MutexLock lock(m_mutex);
    for (auto it = m_engines.begin(); it != m_engines.end(); ++it) {
        if (it->second.get() == engine) {
            dropped = std::move(it->second);
            m_engines.erase(it);
            return;
        }
    }
}

}  // namespace OVL
