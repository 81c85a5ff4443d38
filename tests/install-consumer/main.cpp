// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Uses the installed OVLCore: short identifiers and GUID text forms. Exit status 0 when both work.
#include <cstdio>
#include <regex>
#include <string>

#include "OVLCore/OVLGUIDBase.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main() {
    std::string first;
    std::string second;
    generateID(first);
    generateID(second);
    check(std::regex_match(first, std::regex("[0-9a-f]+c[0-9a-f]+t[0-9a-f]+r[0-9a-f]+")), "generateID form");
    check(first != second, "generateID gives a new id each call");

    const char* text = "5d1f8a52-3c1e-4b7a-9f41-0a6c2e7d9b10";
    OVL::OVLGUIDBase guid;
    check(guid.fromString(text) == 0, "fromString accepts a GUID");
    check(guid.toString() == text, "toString gives the text back");
    check(guid.Data1 == 0x5d1f8a52u && guid.Data2 == 0x3c1e && guid.Data4[7] == 0x10, "fields of the GUID");
    OVL::OVLGUIDBase braced;
    check(braced.fromString("{5D1F8A52-3C1E-4B7A-9F41-0A6C2E7D9B10}") == 0 && braced == guid,
          "braced upper case");
    OVL::OVLGUIDBase bad;
    check(bad.fromString("5d1f8a52-3c1e-4b7a-9f41-0a6c2e7d9b1") == -1 && !bad.isValid(),
          "short text refused");

    std::printf("%s %s %s\n", first.c_str(), guid.toString().c_str(), failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
