// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLFunctionalityCore/OVLEnv.h"

#include <boost/make_shared.hpp>

#include "OVLMessage/OVLElement.h"

namespace OVL {

OVLEnv::OVLEnv(const OVLEID& eid, std::string name, OVLEnvConfig config, OVLEnvConfig runtimeConfig)
    : m_eid(eid),
      m_name(std::move(name)),
      m_config(std::move(config)),
      m_runtimeConfig(std::move(runtimeConfig)) {}

OVLEnv::~OVLEnv() = default;

bool OVLEnv::operator==(const OVLEnv& other) const {
    return getEID() == other.getEID() && getName() == other.getName() && getConfig() == other.getConfig() &&
           getRuntimeConfig() == other.getRuntimeConfig();
}

int OVLEnv::Reader::operator()(OVLMessageIterator& it, OVLEnv& env) const {
    OVLEnv read;
    if (it.read(OVLElement::Eid, OVLGUIDReader(), read.m_eid) != 0) {
        return -1;
    }
    if (it.hasChild(OVLElement::Name) && it.readText(OVLElement::Name, read.m_name) != 0) {
        return -1;
    }
    if (it.hasChild(OVLElement::Config) &&
        it.read(OVLElement::Config, OVLEnvConfig::Reader(), read.m_config) != 0) {
        return -1;
    }
    if (it.hasChild(OVLElement::RuntimeConfig) &&
        it.read(OVLElement::RuntimeConfig, OVLEnvConfig::Reader(), read.m_runtimeConfig) != 0) {
        return -1;
    }
    env = read;
    return 0;
}

int OVLEnv::Reader::operator()(OVLMessageIterator& it, OVLEnvPtr& env) const {
    auto created = boost::make_shared<OVLEnv>();
    if ((*this)(it, *created) != 0) {
        return -1;
    }
    env = std::move(created);
    return 0;
}

int OVLEnv::Writer::operator()(OVLMessageIterator& it, const OVLEnv& env) const {
    if (it.write(OVLElement::Eid, OVLGUIDWriter(), env.getEID()) != 0) {
        return -1;
    }
    if (it.writeText(OVLElement::Name, env.getName()) != 0) {
        return -1;
    }
    int result = it.write(OVLElement::Config, OVLEnvConfig::Writer(), env.getConfig());
    if (it.write(OVLElement::RuntimeConfig, OVLEnvConfig::Writer(), env.getRuntimeConfig()) != 0) {
        result = -1;
    }
    return result;
}

int OVLEnv::Writer::operator()(OVLMessageIterator& it, const OVLEnvPtr& env) const {
    return env ? (*this)(it, *env) : -1;
}

}  // namespace OVL
