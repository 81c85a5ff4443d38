// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Error texts and the calling thread's error message.

#include <string>

#include "OVLCommon/Export.h"

namespace OVL {

// Readable text for an errno value, e.g. "No such file or directory (2)". Never throws.
OVLCOMMON_EXPORT std::string formatWin32Error(unsigned long code);

// The calling thread's last system error (errno).
OVLCOMMON_EXPORT unsigned long getLastError() noexcept;
OVLCOMMON_EXPORT void setLastError(unsigned long code) noexcept;

// Sets the calling thread's error message from a printf-style format. Text that did not come
// from the program itself must be passed as an argument ("%s"), never as the format.
OVLCOMMON_EXPORT void setErrorMessage(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
// The calling thread's error message; empty until one is set.
OVLCOMMON_EXPORT std::string getErrorMessage();
OVLCOMMON_EXPORT void clearErrorMessage() noexcept;

}  // namespace OVL
