// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once

// Symbols of the OVLFunctionalityCore shared library. Everything else has hidden visibility.
#define OVLFUNCTIONALITYCORE_EXPORT __attribute__((visibility("default")))
