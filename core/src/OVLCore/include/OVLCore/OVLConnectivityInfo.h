// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A value record of two strings and an integer with equality and a total order, so that it can
// key sorted containers. The second string is the major key of the order, then the first string,
// then the integer (signed).

#include <string>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

struct OVLCORE_EXPORT OVLConnectivityInfo {
    std::string m_first;
    std::string m_second;
    int m_value = 0;

    OVLConnectivityInfo() = default;
    OVLConnectivityInfo(const std::string& first, const std::string& second, int value);
    OVLConnectivityInfo(const OVLConnectivityInfo&) = default;
    OVLConnectivityInfo& operator=(const OVLConnectivityInfo&) = default;
    virtual ~OVLConnectivityInfo();

    bool operator==(const OVLConnectivityInfo& other) const;
    bool operator!=(const OVLConnectivityInfo& other) const { return !(*this == other); }
    bool operator<(const OVLConnectivityInfo& other) const;
};

}  // namespace OVL
