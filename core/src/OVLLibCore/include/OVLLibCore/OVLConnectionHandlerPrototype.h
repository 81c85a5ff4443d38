// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Callbacks of one agent connection (OVLAccessAgentPrototype::connect).
//
// Threads: every callback comes on the client library's I/O thread, never inside the call that
// started the connection. A callback must not block (all connections share that thread); it may
// drop the last reference to the agent or to this handler.
// Ownership: the library holds the handler by intrusive pointer for as long as a callback may
// still come, and releases it after the last one.
//
// Order: exactly one of
//   - onError(err): the connection could not be made (unknown host, refused, time-out, TLS
//     failure, wrong credentials, ...). Nothing follows.
//   - onConnected(eid) with the environment id the agent returned for the login, later followed
//     by onDisconnected(err) when the agent closes the connection or the connection breaks.
// After the caller's own disconnect() no callback comes.
// Besides, before either of them: onAgentTrusted(trust) once, when a TLS connection trusted the
// agent's certificate for the first time and remembered it (trust on first use).

#include "OVLCore/OVLGUIDBase.h"
#include "OVLCore/OVLRefCounter.h"
#include "OVLLibCore/OVLRequestErrorData.h"

#include <boost/intrusive_ptr.hpp>

#include <string>

namespace OVL {

// An agent whose TLS certificate a client trusted on first use: from now on a connection to
// host:port accepts this certificate only. A value type.
struct OVLAgentTrust {
    std::string host;
    int port = 0;
    std::string fingerprint;  // SHA-256 of the certificate, colon-separated upper-case hex
    std::string store;        // the file it is remembered in (the known agents)

    // "agent HOST:PORT, SHA-256 fingerprint FP, remembered in STORE"
    std::string describe() const;
};

class OVLConnectionHandlerPrototype : public virtual OVLRefCounter {
public:
    ~OVLConnectionHandlerPrototype() override;

    virtual void onError(const OVLRequestErrorData& err);
    virtual void onConnected(const eid_t& eid);
    virtual void onDisconnected(const OVLRequestErrorData& err);
    // Does nothing unless overridden.
    virtual void onAgentTrusted(const OVLAgentTrust& trust);
};

using OVLConnectionHandlerPrototypePtr = boost::intrusive_ptr<OVLConnectionHandlerPrototype>;

}  // namespace OVL
