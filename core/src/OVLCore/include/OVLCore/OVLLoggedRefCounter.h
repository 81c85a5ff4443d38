// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A reference count that writes every change to the diagnostic log (OVL::Log), for tracing the
// lifetime of objects:
//   +++Increment <type> (<count after>)    ---Decrement <type> (<count after>)
// The printed count is read apart from the atomic change, so under concurrent changes a line may
// show a neighbouring value; deletion rests on the atomic result alone.

#include <atomic>

#include "OVLCore/OVLCoreExport.h"
#include "OVLCore/noncopyable.h"

namespace OVL {

class OVLCORE_EXPORT OVLLoggedRefCounter : private noncopyable {
public:
    OVLLoggedRefCounter() = default;

    void addRef();
    // Deletes the object when the count reaches 0.
    void release();
    bool unique() const noexcept { return m_refCount.load() == 1; }

protected:
    virtual ~OVLLoggedRefCounter();

private:
    std::atomic<long> m_refCount{0};
};

}  // namespace OVL
