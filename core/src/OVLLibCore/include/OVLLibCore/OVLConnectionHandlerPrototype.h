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

#include "OVLCore/OVLGUIDBase.h"
#include "OVLCore/OVLRefCounter.h"
#include "OVLLibCore/OVLRequestErrorData.h"

#include <boost/intrusive_ptr.hpp>

namespace OVL {

class OVLConnectionHandlerPrototype : public virtual OVLRefCounter {
public:
    ~OVLConnectionHandlerPrototype() override;

    virtual void onError(const OVLRequestErrorData& err);
    virtual void onConnected(const eid_t& eid);
    virtual void onDisconnected(const OVLRequestErrorData& err);
};

using OVLConnectionHandlerPrototypePtr = boost::intrusive_ptr<OVLConnectionHandlerPrototype>;

}  // namespace OVL
