// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// 128-bit globally unique identifiers and short generated identifiers.
//
// Layout is the platform GUID: a 32-bit, two 16-bit little-endian fields and eight bytes in text
// order. The same 16 bytes read as two little-endian 64-bit halves (bytes 0-7, 8-15) drive
// construction from integers, getData and the ordering, which therefore is not the order of the
// text forms. The text form is the 36-character lower-case UUID form without braces.

#include <cstdint>
#include <string>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

struct OVLCORE_EXPORT OVLGUIDBase {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    // Length of the text form plus its terminating NUL.
    static const int m_uuidstrlen;

    OVLGUIDBase() = default;
    OVLGUIDBase(long long first, long long second);
    explicit OVLGUIDBase(const void* raw);
    OVLGUIDBase(const OVLGUIDBase&) = default;
    OVLGUIDBase& operator=(const OVLGUIDBase&) = default;

    // Copies 16 bytes from raw; null gives the nil value. Always 0.
    int fromBinary(const void* raw);
    // The object's own 16 bytes.
    const void* toBinary() const { return this; }

    // False for the nil value (all bytes zero).
    bool isValid() const;

    std::string toString() const;
    // Parses the 36-character form (either case), or the same in braces when text[0] is '{' and
    // text[37] is '}'. 0 on success; -1 on failure, which leaves the nil value. Null fails.
    int fromString(const char* text);

    // A new random version-4 UUID. 0 on success, -1 when no random bytes could be had.
    int generate();

    void getData(unsigned long long& first, unsigned long long& second) const;

    bool operator==(const OVLGUIDBase& other) const;
    bool operator!=(const OVLGUIDBase& other) const { return !(*this == other); }
    bool operator<(const OVLGUIDBase& other) const;
    bool operator>(const OVLGUIDBase& other) const { return !(*this < other) && !(*this == other); }
};

static_assert(sizeof(OVLGUIDBase) == 16, "OVLGUIDBase must be exactly 16 bytes");

// Identifier of an agent environment.
using eid_t = OVLGUIDBase;

}  // namespace OVL

// Assigns a new short identifier, unique within the process:
// "<counter>c<time>t<random>r<thread>" in lower-case hex, e.g. 0c4b0f8a2at29r5e4.
extern "C" OVLCORE_EXPORT void generateID(std::string& out);
