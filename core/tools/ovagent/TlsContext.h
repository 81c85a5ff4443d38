// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The agent's TLS server context (TLS 1.2 or newer) with its certificate and key.

#include <boost/asio/ssl.hpp>

#include <memory>
#include <string>

namespace ovagent {

class TlsContext {
public:
    // Uses `certificateFile` and `keyFile` when given; otherwise tls-cert.pem and tls-key.pem in
    // `stateDirectory`, generating a self-signed certificate (EC P-256, SHA-256, one year,
    // subject alternative names localhost, 127.0.0.1 and ::1) when they do not exist yet. The key
    // file is created with mode 0600. Null with `error` set on failure.
    static std::unique_ptr<boost::asio::ssl::context> create(const std::string& certificateFile,
                                                             const std::string& keyFile,
                                                             const std::string& stateDirectory,
                                                             std::string& error);

    // The certificate file the agent serves: `certificateFile` when given, else tls-cert.pem in
    // `stateDirectory`.
    static std::string certificatePath(const std::string& certificateFile, const std::string& stateDirectory);

    // The SHA-256 fingerprint of the first certificate in the PEM file `certificateFile` (the one
    // the agent presents), as clients show and remember it: colon-separated upper-case hex of the
    // DER encoding. Empty with `error` set when the file cannot be read or holds no certificate.
    static std::string fingerprint(const std::string& certificateFile, std::string& error);

    // Writes a new self-signed certificate and key. False with `error` set on failure.
    static bool generateSelfSigned(const std::string& certificateFile, const std::string& keyFile,
                                   std::string& error);
};

}  // namespace ovagent
