// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/Errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace OVL {

namespace {
thread_local std::string t_errorMessage;
}

std::string formatWin32Error(unsigned long code) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
    char out[320];
    snprintf(out, sizeof out, "%s (%lu)", text ? text : "Unknown error", code);
    return out;
}

unsigned long getLastError() noexcept {
    return static_cast<unsigned long>(errno);
}

void setLastError(unsigned long code) noexcept {
    errno = static_cast<int>(code);
}

void setErrorMessage(const char* format, ...) noexcept {
    if (format == nullptr) {
        t_errorMessage.clear();
        return;
    }
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    try {
        char small[512];
        int len = vsnprintf(small, sizeof small, format, args);
        if (len < 0) {
            t_errorMessage.clear();
        } else if (static_cast<size_t>(len) < sizeof small) {
            t_errorMessage.assign(small, static_cast<size_t>(len));
        } else {
            std::string text(static_cast<size_t>(len) + 1, '\0');
            vsnprintf(text.data(), text.size(), format, copy);
            text.resize(static_cast<size_t>(len));
            t_errorMessage = std::move(text);
        }
    } catch (...) {
        t_errorMessage.clear();
    }
    va_end(copy);
    va_end(args);
}

std::string getErrorMessage() {
    return t_errorMessage;
}

void clearErrorMessage() noexcept {
    t_errorMessage.clear();
}

}  // namespace OVL
