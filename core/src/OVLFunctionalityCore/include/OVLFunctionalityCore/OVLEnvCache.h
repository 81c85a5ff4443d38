// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The environments known on one agent connection, as the agent last reported them.
//
// The cache holds an immutable snapshot (EnvValuesList); update() replaces it as a whole, and
// readers keep the snapshot they took for as long as they hold it. All members of the cache are
// thread-safe: the agent library updates it on its threads while the console reads it.

#include <cstddef>
#include <vector>

#include <boost/intrusive_ptr.hpp>
#include <boost/shared_ptr.hpp>

#include "OVLCommon/Mutex.h"
#include "OVLCore/OVLRefCounter.h"
#include "OVLFunctionalityCore/OVLEnv.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLEnvCache : public OVLRefCounter {
public:
    // An ordered list of shared environments. Its const_iterator supports ++, ==, != and *,
    // which gives the shared OVLEnv.
    //
    // XML form: one OVLElement::Environment (2031) element per environment below the current
    // element (see OVLEnv.h).
    class OVLFUNCTIONALITYCORE_EXPORT EnvValuesList {
    public:
        using value_type = OVLEnvPtr;
        using const_iterator = std::vector<OVLEnvPtr>::const_iterator;

        const_iterator begin() const noexcept { return m_envs.begin(); }
        const_iterator end() const noexcept { return m_envs.end(); }
        std::size_t size() const noexcept { return m_envs.size(); }
        bool empty() const noexcept { return m_envs.empty(); }
        void push_back(OVLEnvPtr env) { m_envs.push_back(std::move(env)); }

        // The environment with that identifier; null when none.
        OVLEnvPtr find(const OVLEID& eid) const;

        // Appends every environment element; rejected ones are skipped. Always 0.
        struct OVLFUNCTIONALITYCORE_EXPORT Reader {
            int operator()(OVLMessageIterator& it, EnvValuesList& list) const;
        };
        // -1 when an environment could not be written (the others are).
        struct OVLFUNCTIONALITYCORE_EXPORT Writer {
            int operator()(OVLMessageIterator& it, const EnvValuesList& list) const;
        };

    private:
        std::vector<OVLEnvPtr> m_envs;
    };
    using EnvValuesListPtr = boost::shared_ptr<const EnvValuesList>;

    // Replaces the snapshot.
    void update(EnvValuesList list);
    // The current snapshot; null until the first update().
    EnvValuesListPtr getEnvList() const;
    // The environment with that identifier in the current snapshot; null when none.
    OVLEnvPtr find(const OVLEID& eid) const;

private:
    mutable Mutex m_mutex;
    EnvValuesListPtr m_list GUARDED_BY(m_mutex);
};

using OVLEnvCachePtr = boost::intrusive_ptr<OVLEnvCache>;

}  // namespace OVL
