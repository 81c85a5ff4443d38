#pragma once
// Constants of the agent protocol. docs/protocol.md is the contract these values implement.

#include <string>

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

// Path of the agent's Unix-domain socket when none is configured or named by the client:
// $XDG_RUNTIME_DIR/ovagent.sock when that variable names a directory, else /tmp/ovagent-<uid>.sock.
std::string defaultSocketPath();

}  // namespace OVL::Wire
