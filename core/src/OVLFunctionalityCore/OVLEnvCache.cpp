// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLEnvCache.h"

#include <boost/make_shared.hpp>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLTypedIO.h"

namespace OVL {

OVLEnvPtr OVLEnvCache::EnvValuesList::find(const OVLEID& eid) const {
    for (const OVLEnvPtr& env : m_envs) {
        if (env && env->getEID() == eid) {
            return env;
        }
    }
    return {};
}

int OVLEnvCache::EnvValuesList::Reader::operator()(OVLMessageIterator& it, EnvValuesList& list) const {
    return OVLListReader<OVLEnv::Reader>(OVLElement::Environment)(it, list);
}

int OVLEnvCache::EnvValuesList::Writer::operator()(OVLMessageIterator& it, const EnvValuesList& list) const {
    return OVLListWriter<OVLEnv::Writer>(OVLElement::Environment)(it, list);
}

void OVLEnvCache::update(EnvValuesList list) {
    auto snapshot = boost::make_shared<const EnvValuesList>(std::move(list));
    MutexLock lock(m_mutex);
    m_list = std::move(snapshot);
}

OVLEnvCache::EnvValuesListPtr OVLEnvCache::getEnvList() const {
    MutexLock lock(m_mutex);
    return m_list;
}

OVLEnvPtr OVLEnvCache::find(const OVLEID& eid) const {
    EnvValuesListPtr list = getEnvList();
    return list ? list->find(eid) : OVLEnvPtr();
}

}  // namespace OVL
