// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The exception type of OVLCore: an integer code with a reason text.
//
// Code that detects an error raises it with throwErrorImpl, which first lets the calling thread's
// handler see it, logs the throw and throws a copy. Code that catches it calls processException,
// which logs the catch, stores the reason as the thread's error message (OVL::getErrorMessage)
// and yields the code.

#include <exception>
#include <string>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

class OVLCORE_EXPORT OVLException : public std::exception {
public:
    using Handler = void (*)(const OVLException&);

    // text must not be null.
    OVLException(int code, const char* text);
    OVLException(const OVLException&) = default;
    OVLException& operator=(const OVLException&) = default;
    ~OVLException() override;

    const char* what() const noexcept override;
    int code() const noexcept { return m_code; }

    // Sets the calling thread's handler (null removes it); returns the thread's previous one.
    // Handlers are strictly per thread.
    static Handler registerExceptionHandler(Handler handler);

private:
    int m_code;
    std::string m_reason;
};

struct OVLExceptionHandlerInfo {
    OVLException::Handler m_handler = nullptr;
};

// Calls the thread's handler (whose own exception, if any, propagates), logs
// "Throwing exception from <file>(<line>): <what>." and throws an OVLException copy of e.
[[noreturn]] OVLCORE_EXPORT void throwErrorImpl(const OVLException& e, const char* file, int line);

// Logs "Exception is caught. Error code <code>, reason: <what>.", stores the reason unchanged as
// the thread's error message and returns the code.
OVLCORE_EXPORT int processException(const OVLException& e);

}  // namespace OVL

#define OVL_THROW_ERROR(code, text) \
    ::OVL::throwErrorImpl(::OVL::OVLException((code), (text)), __FILE__, __LINE__)
