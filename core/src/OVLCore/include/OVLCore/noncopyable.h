// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace OVL {
namespace noncopyable_ {

// Base of classes that must not be copied. Construction and destruction are for derived
// classes only.
class noncopyable {
protected:
    noncopyable() = default;
    ~noncopyable() = default;

public:
    noncopyable(const noncopyable&) = delete;
    noncopyable& operator=(const noncopyable&) = delete;
};

}  // namespace noncopyable_

using noncopyable_::noncopyable;

}  // namespace OVL
