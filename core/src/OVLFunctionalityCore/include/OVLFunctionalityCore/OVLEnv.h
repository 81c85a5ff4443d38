// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// An agent environment: its identifier, a name, its configuration and the second
// configuration that it reports while it runs (runtime values such as the host it runs on).
// The console matches placeholders against getConfig() first and getRuntimeConfig() second.
// Environments are shared through OVLEnvPtr.
//
// XML form (children of the element that stands for the environment, usually
// OVLElement::Environment):
//     <eid>GUID text</eid><name>web</name><config>fields</config><runtimeConfig>fields</runtimeConfig>
//
// Objects are not synchronised; share them between threads only while nobody changes them.

#include <string>

#include <boost/shared_ptr.hpp>

#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLFunctionalityCore/OVLEnvConfig.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLEnv;
using OVLEnvPtr = boost::shared_ptr<OVLEnv>;

class OVLFUNCTIONALITYCORE_EXPORT OVLEnv {
public:
    OVLEnv() = default;
    OVLEnv(const OVLEID& eid, std::string name, OVLEnvConfig config, OVLEnvConfig runtimeConfig = {});
    virtual ~OVLEnv();
    OVLEnv(const OVLEnv&) = default;
    OVLEnv& operator=(const OVLEnv&) = default;

    virtual const OVLEID& getEID() const { return m_eid; }
    virtual const std::string& getName() const { return m_name; }
    virtual const OVLEnvConfig& getConfig() const { return m_config; }
    virtual const OVLEnvConfig& getRuntimeConfig() const { return m_runtimeConfig; }

    void setEID(const OVLEID& eid) noexcept { m_eid = eid; }
    void setName(std::string name) { m_name = std::move(name); }
    void setConfig(OVLEnvConfig config) { m_config = std::move(config); }
    void setRuntimeConfig(OVLEnvConfig config) { m_runtimeConfig = std::move(config); }

    bool operator==(const OVLEnv& other) const;
    bool operator!=(const OVLEnv& other) const { return !(*this == other); }

    // eid is required (GUID text); name, config and runtimeConfig are optional (empty when
    // missing). -1 and the object unchanged when eid is missing or invalid.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLEnv& env) const;
        // Creates the object; `env` is unchanged on failure.
        int operator()(OVLMessageIterator& it, OVLEnvPtr& env) const;
    };
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLEnv& env) const;
        // -1 for a null pointer.
        int operator()(OVLMessageIterator& it, const OVLEnvPtr& env) const;
    };

private:
    OVLEID m_eid;
    std::string m_name;
    OVLEnvConfig m_config;
    OVLEnvConfig m_runtimeConfig;
};

}  // namespace OVL
