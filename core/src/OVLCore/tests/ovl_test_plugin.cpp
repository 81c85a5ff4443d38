// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// A small library that the library tests load and unload.
extern "C" __attribute__((visibility("default"))) int ovl_test_answer() {
    return 42;
}
