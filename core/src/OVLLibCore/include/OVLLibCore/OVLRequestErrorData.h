// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The error record that the agent client libraries hand to their callbacks: a code and a readable
// English message. Codes 400 and above are the agent's own error codes (docs/protocol.md, e.g. 403
// for a refused login); negative codes are failures found by the client library (the enum below).
// A value type.

#include <string>

namespace OVL {

struct OVLRequestErrorData {
    enum Code : int {
        kNone = 0,                 // no error (a disconnect the caller asked for)
        kFailed = -1,              // general failure
        kTimeout = -2,             // connect, login or request time-out
        kRefused = -3,             // the agent could not be reached (refused, unreachable, no socket)
        kUnknownHost = -4,         // the host name does not resolve
        kTlsFailure = -5,          // TLS handshake or certificate check failed
        kCertificateChanged = -6,  // the agent's certificate differs from the one remembered
        kClosed = -7,              // the agent closed the connection or it broke
        kTransportMissing = -8,    // the program of a transport (the ssh client) could not be run
        kProtocol = -9,            // the agent sent something that is not the protocol
        kInvalidArgument = -10,    // bad connection parameters (unknown type, bad port)
    };

    int m_code = kNone;
    std::string m_message;

    OVLRequestErrorData() = default;
    OVLRequestErrorData(int code, std::string message) : m_code(code), m_message(std::move(message)) {}

    int getCode() const noexcept { return m_code; }
    const std::string& getMessage() const noexcept { return m_message; }
};

}  // namespace OVL
