// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SendOptions.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>

#include "OVLFunctionalityCore/OVLRealm.h"

namespace ovlsend {

const char* const kUsage =
    "usage: ovlsend [options] [FILE...]\n"
    "Sends the packets of the FILEs (or of standard input, also for FILE \"-\") to an agent and prints\n"
    "each reply. Several packets in one input are separated by zero bytes.\n"
    "  -H, --host HOST[:PORT]   agent host (default localhost); for NamedPipe a socket path\n"
    "                           (default: your own agent's socket, then /run/ovagent/ovagent.sock)\n"
    "  -t, --type TYPE          TCP (default), SSL, SSH or NamedPipe (\"Named PIPE\")\n"
    "  -l, --login LOGIN        login name\n"
    "  -d, --domain DOMAIN      login domain (default empty)\n"
    "  -r, --realm REALM        realm id, or System (default)\n"
    "  --password-file FILE     read the password from the first line of FILE\n"
    "  --password-stdin         read the password from the first line of standard input\n"
    "  --no-password            log in with an empty password\n"
    "                           (default: prompt on the terminal)\n"
    "  --raw                    send the input bytes as they are (else each packet is parsed and\n"
    "                           sent with its own id)\n"
    "  --timeout MS             time to wait for the connection and for each reply (default 15000)\n"
    "  --max-reply-size BYTES   longest reply accepted; a longer one ends the connection\n"
    "                           (default 16777216, 16 MiB)\n"
    "  --time                   print each reply's round-trip time (from its send to the complete\n"
    "                           reply, in ms) and size (bytes) to standard error\n"
    "  --repeat N               send the whole input N times (1 to 1000000), each time after the\n"
    "                           replies of the last; with --time, print count, mean, p50, p99 and\n"
    "                           max of the round trips (nearest rank, ms) at the end\n"
    "  --version                show the version\n"
    "Exit status: 0 all replies received, 1 failure (usage, connection, login, input, time-out),\n"
    "2 every reply received but at least one is an error reply of the agent.\n"
    "Manual: ovlsend(1) (trust on first use, OVL_CA_FILE, examples); guide: /usr/share/doc/ovlsend/.\n";

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit)) {
        return false;
    }
    port = std::atoi(text.c_str());
    return port > 0 && port <= 65535;
}

// Removes the line end that getline leaves of a CR LF line (and, for fgets, the LF).
void stripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
}

}  // namespace

bool typeName(const std::string& given, std::string& name) {
    const std::string t = lower(given);
    if (t == "tcp") {
        name = "TCP";
    } else if (t == "ssl" || t == "tls") {
        name = "SSL";
    } else if (t == "ssh" || t == "ssh1") {
        name = "SSH1";
    } else if (t == "namedpipe" || t == "named pipe" || t == "unix") {
        name = "NamedPipe";
    } else {
        return false;
    }
    return true;
}

bool parseOptions(const std::vector<std::string>& args, SendOptions& options, std::string& error) {
    std::string host, type = "TCP", login, domain, realm = "System";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "-H" || arg == "--host") {
            if (!value(host)) {
                return false;
            }
        } else if (arg == "-t" || arg == "--type") {
            std::string given;
            if (!value(given)) {
                return false;
            }
            if (!typeName(given, type)) {
                error = "unknown connection type '" + given + "' (TCP, SSL, SSH or NamedPipe)";
                return false;
            }
        } else if (arg == "-l" || arg == "--login") {
            if (!value(login)) {
                return false;
            }
        } else if (arg == "-d" || arg == "--domain") {
            if (!value(domain)) {
                return false;
            }
        } else if (arg == "-r" || arg == "--realm") {
            if (!value(realm)) {
                return false;
            }
        } else if (arg == "--password-file") {
            if (!value(options.passwordFile)) {
                return false;
            }
            options.passwordFrom = SendOptions::PasswordFrom::file;
        } else if (arg == "--password-stdin") {
            options.passwordFrom = SendOptions::PasswordFrom::standardInput;
        } else if (arg == "--no-password") {
            options.passwordFrom = SendOptions::PasswordFrom::none;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--timeout") {
            std::string ms;
            if (!value(ms)) {
                return false;
            }
            char* end = nullptr;
            const long n = std::strtol(ms.c_str(), &end, 10);
            if (ms.empty() || *end != '\0' || n <= 0 || n > 3600000) {
                error = "invalid time-out '" + ms + "' (milliseconds, 1 to 3600000)";
                return false;
            }
            options.timeoutMs = static_cast<int>(n);
        } else if (arg == "--time") {
            options.time = true;
        } else if (arg == "--repeat") {
            std::string count;
            if (!value(count)) {
                return false;
            }
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(count.c_str(), &end, 10);
            if (count.empty() || !std::isdigit(static_cast<unsigned char>(count[0])) || *end != '\0' ||
                errno == ERANGE || n < 1 || n > kMaxRepeat) {
                error = "invalid repeat count '" + count + "' (1 to " + std::to_string(kMaxRepeat) + ")";
                return false;
            }
            options.repeat = static_cast<int>(n);
            options.repeatGiven = true;
        } else if (arg == "--max-reply-size") {
            std::string bytes;
            if (!value(bytes)) {
                return false;
            }
            char* end = nullptr;
            const unsigned long long n = std::strtoull(bytes.c_str(), &end, 10);
            if (bytes.empty() || !std::isdigit(static_cast<unsigned char>(bytes[0])) || *end != '\0' ||
                n < 1024 || n > (1ULL << 30)) {
                error = "invalid reply size '" + bytes + "' (bytes, 1024 to 1073741824)";
                return false;
            }
            options.maxReplySize = static_cast<std::size_t>(n);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return false;
        } else {
            options.inputs.push_back(arg);
        }
    }
    if (options.help) {
        return true;
    }
    int port = OVL::OVLConnectionInfo::kDefaultPort;
    // host:port, as in the console; a socket path keeps its colons.
    if (type != "NamedPipe") {
        if (const auto colon = host.find(':'); colon != std::string::npos) {
            if (!parsePort(host.substr(colon + 1), port)) {
                error = "invalid port in '" + host + "'";
                return false;
            }
            host.erase(colon);
        }
    }
    OVL::OVLGUID realmId;
    if (lower(realm) == "system") {
        realmId = OVL::OVLRealm::systemRealmID;
    } else if (realmId.fromString(realm.c_str()) != 0) {
        error = "invalid realm '" + realm + "' (a realm id, or System)";
        return false;
    }
    const bool stdinPackets =
        options.inputs.empty() ||
        std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end();
    if (options.passwordFrom == SendOptions::PasswordFrom::standardInput && stdinPackets) {
        error = "--password-stdin needs the packets in files";
        return false;
    }
    if (login.empty()) {
        error = "no login given (-l LOGIN)";
        return false;
    }
    options.info = OVL::OVLConnectionInfo(type, host, port, OVL::OVLAuthName(login, domain, realmId));
    return true;
}

bool readPassword(const SendOptions& options, std::string& password, std::string& error) {
    password.clear();
    switch (options.passwordFrom) {
        case SendOptions::PasswordFrom::none:
            return true;
        case SendOptions::PasswordFrom::file: {
            struct stat st {};
            if (::stat(options.passwordFile.c_str(), &st) != 0) {
                error = "cannot read the password file " + options.passwordFile + ": " +
                        std::generic_category().message(errno);
                return false;
            }
            if (!S_ISREG(st.st_mode)) {
                error = "the password file " + options.passwordFile +
                        (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file");
                return false;
            }
            std::ifstream in(options.passwordFile);
            if (!in || (!std::getline(in, password) && in.bad())) {
                error = "cannot read the password file " + options.passwordFile;
                return false;
            }
            stripLineEnd(password);
            return true;
        }
        case SendOptions::PasswordFrom::standardInput:
            std::getline(std::cin, password);
            stripLineEnd(password);
            return true;
        case SendOptions::PasswordFrom::prompt:
            break;
    }
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) {
        error = "no terminal to ask for the password; use --password-file or --password-stdin";
        return false;
    }
    std::fputs("Password: ", tty);
    std::fflush(tty);
    termios saved{};
    const bool isTerminal = ::tcgetattr(fileno(tty), &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    char line[1024];
    const bool got = std::fgets(line, sizeof line, tty) != nullptr;
    if (isTerminal) {
        ::tcsetattr(fileno(tty), TCSAFLUSH, &saved);
    }
    std::fputs("\n", tty);
    std::fclose(tty);
    if (!got) {
        error = "no password typed";
        return false;
    }
    password = line;
    stripLineEnd(password);
    return true;
}

std::vector<std::string> splitPackets(const std::string& input) {
    std::vector<std::string> packets;
    std::size_t begin = 0;
    while (begin <= input.size()) {
        std::size_t end = input.find('\0', begin);
        if (end == std::string::npos) {
            end = input.size();
        }
        std::string piece = input.substr(begin, end - begin);
        if (piece.find_first_not_of(" \t\r\n") != std::string::npos) {
            packets.push_back(std::move(piece));
        }
        begin = end + 1;
    }
    return packets;
}

}  // namespace ovlsend
