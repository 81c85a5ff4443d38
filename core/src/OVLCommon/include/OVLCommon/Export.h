// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once

#define OVLCOMMON_EXPORT __attribute__((visibility("default")))
