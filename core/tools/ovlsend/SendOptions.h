// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Command line of ovlsend: connection parameters like the console's connect form, the password
// source, the packets to send and the sending mode.

#include <string>
#include <vector>

#include "OVLFunctionalityCore/OVLConnectionInfo.h"

namespace ovlsend {

inline constexpr std::size_t kDefaultMaxReplySize = std::size_t(16) << 20;
inline constexpr int kMaxRepeat = 1000000;

struct SendOptions {
    OVL::OVLConnectionInfo info;
    enum class PasswordFrom { prompt, file, standardInput, none } passwordFrom = PasswordFrom::prompt;
    std::string passwordFile;
    std::vector<std::string> inputs;  // files; "-" is standard input; none: standard input
    bool raw = false;
    int timeoutMs = 15000;
    std::size_t maxReplySize = kDefaultMaxReplySize;  // longest reply frame accepted, in bytes
    bool time = false;                                // each reply's round trip and size on standard error
    int repeat = 1;                                   // times the whole input is sent, 1 to kMaxRepeat
    bool repeatGiven = false;                         // with time: the summary at the end
    bool help = false;
};

extern const char* const kUsage;

// Parses argv (without the program name). False with `error` set for bad usage. The password
// itself is read later (readPassword), so that --help never prompts.
bool parseOptions(const std::vector<std::string>& args, SendOptions& options, std::string& error);

// The connection type name of the library for a type given on the command line: the library's
// names ("SSH1", "NamedPipe", "TCP", "SSL") or the console's ("SSH", "Named PIPE"), in any case.
bool typeName(const std::string& given, std::string& name);

// Reads the password as the options say: the first line of a file or of standard input (its line
// end, LF or CR LF, removed), or typed at the terminal without echo. False with `error` set on
// failure, also for a password file that is not a readable regular file.
bool readPassword(const SendOptions& options, std::string& password, std::string& error);

// Splits input into packets at zero bytes; pieces of only white space are dropped.
std::vector<std::string> splitPackets(const std::string& input);

}  // namespace ovlsend
