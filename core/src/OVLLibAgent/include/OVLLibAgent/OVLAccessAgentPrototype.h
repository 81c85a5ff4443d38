// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// An agent: one connection to an agent process, and the tasks that send requests over it.
//
//     auto agent = OVL::OVLAccessAgentPrototype::createInstance(nullptr, nullptr, nullptr);
//     agent->connect(info, handler);           // handler->onConnected(eid) after the login
//     auto task = agent->createTask(eid, "", taskHandler);
//     task->start();                           // taskHandler gets the unclaimed frames
//
// Transports by OVLConnectionInfo type name: "TCP" (default port 4433), "SSL" (TLS, 4434),
// "NamedPipe" (a Unix-domain socket: the host names the socket path when it contains a '/', else
// the agent's default socket), "SSH1" (the system's ssh client runs `ovagent --stdio` on the host
// and the protocol goes through its pipes). An empty host means "localhost".
//
// Settings from the environment (all optional):
//   OVL_CONNECT_TIMEOUT_MS   time for connecting and logging in (default 15000)
//   OVL_REQUEST_TIMEOUT_MS   time a request waits for its reply (default 15000): synchronous
//                            calls fail with -2, parsed and raw requests of a task end in the
//                            handler's onRequestError with code kTimeout
//   OVL_MAX_REPLY_SIZE       longest frame accepted from the agent, in bytes (default 268435456,
//                            256 MiB); a longer one ends the connection with an error
//   OVL_KNOWN_AGENTS_FILE    the trust-on-first-use store of TLS certificates (default
//                            $XDG_CONFIG_HOME/ovl/known_agents, else ~/.config/ovl/known_agents)
//   OVL_CA_FILE              PEM bundle of certificate authorities that TLS accepts as well
//   OVL_SSH_PROGRAM          the ssh client (default "ssh", looked up in PATH)
//   OVL_SSH_OPTIONS          further ssh arguments, split at blanks (e.g. "-i key -o ...")
//   OVL_SSH_COMMAND          the remote command (default "ovagent --stdio")
//
// Threads: every operation may be called on any thread; none blocks except the synchronous
// requestSync (and its users OVLAccessPointPrototype::initializeSync and OVLSystemAgent::getRealm),
// which fail at once when called on the library's I/O thread. All callbacks come on one I/O thread
// that the library starts on first use and shares between all agents of the process.
// Lifetime: dropping the last reference closes the connection like disconnect(); this may happen
// on any thread, a callback included. No thread is joined then.

#include <cstddef>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "OVLConnection/OVLTaskHandlerPrototype.h"
#include "OVLCore/OVLConnectivityInfo.h"
#include "OVLCore/OVLRefCounter.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLFunctionalityCore/OVLEnvCache.h"
#include "OVLLibAgent/OVLTask.h"
#include "OVLLibCore/OVLConnectionHandlerPrototype.h"

namespace OVL {

class OVLAccessAgentPrototype;
using OVLAccessAgentPrototypePtr = boost::intrusive_ptr<OVLAccessAgentPrototype>;

class OVLAccessAgentPrototype : public OVLRefCounter {
public:
    // envCache: the cache that access points of this agent fill (null: they make their own).
    // eventLoop: reserved; callbacks always come on the library's I/O thread. opaque: kept for
    // the caller (getOpaque). Never null.
    static OVLAccessAgentPrototypePtr createInstance(const OVLEnvCachePtr& envCache, void* eventLoop,
                                                     void* opaque);

    ~OVLAccessAgentPrototype() override;

    // Opens the connection and logs in with the info's credentials. The outcome comes through the
    // handler (see OVLConnectionHandlerPrototype.h), also for a failure found at once (unknown
    // type, bad port, an agent that is connected already).
    virtual void connect(const OVLConnectionInfo& info, const OVLConnectionHandlerPrototypePtr& handler) = 0;
    // The same; an info that is an OVLConnectionInfo carries credentials, a plain one gives host
    // (m_first), type name (m_second) and port (m_value) with empty credentials. 0 when the
    // connection is under way, -1 when it failed at once (the handler's onError comes as well).
    virtual int connect(const OVLConnectivityInfo& info, const OVLConnectionHandlerPrototypePtr& handler) = 0;
    // Closes the connection (or the attempt). No callback of the connection handler follows;
    // task handlers with requests still pending get onRequestError. Harmless when not connected.
    virtual void disconnect() = 0;

    // A task for the handler. `name` labels the task in the library's log. envId: the environment
    // the requests address (the agent's own eid from onConnected). Never null.
    virtual OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                                  const OVLTaskHandlerPrototypePtr& handler) = 0;
    // With raw data for OVLTask::startRaw (copied now).
    virtual OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                                  const OVLTaskHandlerPrototypePtr& handler, const void* data,
                                  std::size_t length) = 0;
    // For one parsed request (OVLTask::send): `id` receives the new request id (generateID).
    virtual OVLTaskPtr createTask(const OVLEID& envId, const std::string& name,
                                  const OVLTaskHandlerPrototypePtr& handler, std::string& id) = 0;

    // Sends `packet` (an XML packet; its id attribute is replaced by a new one) on the logged-in
    // connection and waits up to timeoutMs (<= 0: OVL_REQUEST_TIMEOUT_MS) for the reply. 0 and the
    // reply's text; -2 on time-out, -1 on any other failure, with `error` set.
    virtual int requestSync(const std::string& packet, std::string& reply, std::string& error,
                            int timeoutMs = 0) = 0;

    // True between onConnected and the end of the connection.
    virtual bool isConnected() const = 0;
    // The eid of the login; nil until connected.
    virtual OVLEID getEID() const = 0;
    virtual OVLEnvCachePtr getEnvCache() const = 0;
    virtual void* getOpaque() const = 0;
};

}  // namespace OVL
