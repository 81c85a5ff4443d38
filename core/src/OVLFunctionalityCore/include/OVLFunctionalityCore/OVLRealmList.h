// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// An ordered list of shared realms, in the order in which an agent returned them.
//
// XML form: one OVLElement::Realm (1957) element per realm directly below the current element,
// each as described in OVLRealm.h.

#include <cstddef>
#include <vector>

#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLFUNCTIONALITYCORE_EXPORT OVLRealmList {
public:
    using value_type = OVLRealmPtr;
    using const_iterator = std::vector<OVLRealmPtr>::const_iterator;

    const_iterator begin() const noexcept { return m_realms.begin(); }
    const_iterator end() const noexcept { return m_realms.end(); }
    std::size_t size() const noexcept { return m_realms.size(); }
    bool empty() const noexcept { return m_realms.empty(); }
    const OVLRealmPtr& operator[](std::size_t i) const { return m_realms[i]; }
    void push_back(OVLRealmPtr realm) { m_realms.push_back(std::move(realm)); }
    void clear() noexcept { m_realms.clear(); }

    // The first realm with that identifier or name; null when none.
    OVLRealmPtr findByID(const OVLGUID& id) const;
    OVLRealmPtr findByName(const std::string& name) const;

    // Same length and pairwise equal realms (OVLRealm::equals).
    bool operator==(const OVLRealmList& other) const;
    bool operator!=(const OVLRealmList& other) const { return !(*this == other); }

    // Appends every realm element below the current element; elements that OVLRealm::Reader
    // rejects are skipped. Always 0.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLRealmList& list) const;
    };
    // Writes one realm element per realm; -1 when one could not be written (the others are).
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLRealmList& list) const;
    };

private:
    std::vector<OVLRealmPtr> m_realms;
};

}  // namespace OVL
