// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Constants of the agent protocol. docs/protocol.md is the contract these values implement.

#include <optional>
#include <string>
#include <vector>

namespace OVL::Wire {

inline constexpr int kProtocolVersion = 1;
inline constexpr unsigned short kDefaultTcpPort = 4433;
inline constexpr unsigned short kDefaultTlsPort = 4434;

// Text form of the system realm's id. Every agent has this realm; clients name it "System".
inline constexpr const char* kSystemRealmID = "00000000-0000-0000-0000-000000000001";
inline constexpr const char* kSystemRealmName = "System";

// Namespaces of the packet envelope and of the interfaces the reference agent serves.
inline constexpr const char* kPacketNamespace = "urn:ovl:agent:packet:1";
inline constexpr const char* kSystemNamespace = "urn:ovl:agent:system:1";
inline constexpr const char* kEnvironmentsNamespace = "urn:ovl:agent:environments:1";
inline constexpr const char* kPerformanceNamespace = "urn:ovl:agent:performance:1";

// A packet's id attribute: absent, or any text, an empty one too. A reply carries the request's
// id exactly as it was: none when the request had none, id="" for id="".
using PacketId = std::optional<std::string>;

// Error codes carried in <error><code>.
enum ErrorCode : int {
    kErrMalformed = 400,         // not well-formed XML, not UTF-8, not a packet
    kErrNotLoggedIn = 401,       // a request other than login before a successful login
    kErrLoginFailed = 403,       // wrong login, domain, realm or password
    kErrUnknownTarget = 404,     // no such target or interface
    kErrUnknownOperation = 405,  // the interface has no such operation
    kErrTimeout = 408,           // login or idle time-out
    kErrConflict = 409,          // the object exists already / was changed meanwhile
    kErrNotFound = 410,          // the addressed object (e.g. an environment id) does not exist
    kErrTooLarge = 413,          // frame over the packet size limit
    kErrBadArgument = 422,       // missing or invalid argument
    kErrTooDeep = 431,           // element nesting over the depth limit
    kErrInternal = 500,          // the agent failed (e.g. the state file could not be written)
    kErrTooManyConnections = 503,
};

// Default limits of the agent; each can be changed in its configuration.
inline constexpr std::size_t kDefaultMaxPacketSize = std::size_t{1024} * 1024;
inline constexpr int kDefaultMaxDepth = 32;

// Unix-domain sockets. A per-user agent listens on defaultSocketPath(); the packaged service on
// kServiceSocketPath (mode 0666: every request needs a login, and every local user reaches the
// loopback TCP port anyway). A client with no socket path tries clientSocketPaths() in turn, and on
// every Unix-socket connection checks the listener's uid (SO_PEERCRED) before it sends anything:
// its own, root's or the service user's (kServiceUser), see docs/protocol.md.
inline constexpr const char* kServiceSocketPath = "/run/ovagent/ovagent.sock";
inline constexpr const char* kServiceUser = "ovagent";

// The per-user agent's socket: $XDG_RUNTIME_DIR/ovagent.sock when that variable names a directory,
// else /tmp/ovagent-<uid>/ovagent.sock (in a directory of the user's own with mode 0700, which the
// agent makes and checks: privateSocketDirectory()).
std::string defaultSocketPath();
// /tmp/ovagent-<uid> when defaultSocketPath() lies in it, else empty (XDG_RUNTIME_DIR is used).
std::string privateSocketDirectory();
// The sockets a client without a socket path tries, in order: the user's own agent, then the service.
std::vector<std::string> clientSocketPaths();

}  // namespace OVL::Wire
