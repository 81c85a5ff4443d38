// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCore/OVLLogSystem.h"

#include "OVLCore/OVLLogMessage.h"
#include "OVLFileWriterRegistry.h"

namespace OVL {

OVLLogSystem::OVLLogSystem(LogLevel level, const std::string& name, long long size) : m_level(level) {
    if (auto engine = OVLFileWriterRegistry::instance().getEngine(name, size)) {
        addEngine(std::move(engine));
    }
}

OVLLogSystem::~OVLLogSystem() {
    fini();
}

void OVLLogSystem::fini() {
    MutexLock lock(m_mutex);
    while (!m_engines.empty()) {
        OVLFileWriterRegistry::instance().removeEngine(m_engines.front().get());
        m_engines.pop_front();
    }
}

void OVLLogSystem::addEngine(boost::intrusive_ptr<OVLLogWriterEngine> engine) {
    MutexLock lock(m_mutex);
    m_engines.push_back(std::move(engine));
}

void OVLLogSystem::addMessage(const OVLLogMessage& msg) {
    std::string text = msg.text();
    MutexLock lock(m_mutex);
    m_pending.push_back(std::move(text));
}

void OVLLogSystem::flush() {
    MutexLock lock(m_mutex);
    if (m_level != LOG_OFF) {
        for (const auto& engine : m_engines) {
            engine->addMessages(m_pending.cbegin(), m_pending.cend());
        }
    }
    m_pending.clear();
}

void OVLLogSystem::setLogLevel(LogLevel level) {
    MutexLock lock(m_mutex);
    m_level = level;
}

OVLLogSystem::LogLevel OVLLogSystem::getLogLevel() {
    MutexLock lock(m_mutex);
    return m_level;
}

namespace {

struct Singleton {
    Mutex mutex;
    boost::intrusive_ptr<OVLLogSystem> system GUARDED_BY(mutex);
};

Singleton& singleton() {
    // The registry must outlive the singleton's log system, so it is constructed first.
    OVLFileWriterRegistry::instance();
    static Singleton instance;
    return instance;
}

}  // namespace

OVLLogSystem& getLogSystem(OVLLogSystem::LogLevel level, const std::string& name, long long size) {
    Singleton& s = singleton();
    MutexLock lock(s.mutex);
    if (!s.system) {
        s.system.reset(new OVLLogSystem(level, name, size));
    }
    return *s.system;
}

OVLLogSystem& operator<<(OVLLogSystem& sys, const OVLLogMessage& msg) {
    sys.addMessage(msg);
    return sys;
}

OVLLogSystem& operator<<(OVLLogSystem& sys, OVLLogSystem& (*manip)(OVLLogSystem&)) {
    return manip(sys);
}

OVLLogSystem& post(OVLLogSystem& sys) {
    sys.flush();
    return sys;
}

}  // namespace OVL
