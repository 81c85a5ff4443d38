// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// ovagent: the reference agent daemon. See docs/agent.md.

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "AgentConfig.h"
#include "AgentContext.h"
#include "AgentLog.h"
#include "EnvironmentStore.h"
#include "OVLCommon/AtomicFile.h"
#include "OVLWire/Protocol.h"
#include "PasswordHash.h"
#include "Server.h"
#include "TlsContext.h"

using namespace ovagent;

namespace {

const char* const kUsage =
    "Usage: ovagent [options]\n"
    "       ovagent hash-password [--iterations N]   (reads the password from standard input)\n"
    "       ovagent fingerprint [--config FILE] [--state-dir DIR]\n"
    "                          print the SHA-256 fingerprint of the agent's TLS certificate, as\n"
    "                          clients show it and keep it in known_agents\n"
    "\n"
    "Options:\n"
    "  --config FILE      configuration file (XML; see ovagent(8))\n"
    "  --demo             built-in demo configuration on loopback: login \"peadmin\", password \"5t6y7u\"\n"
    "  --state-dir DIR    state directory (state.xml, ovagent.log, TLS certificate);\n"
    "                     default: the configuration's <stateDirectory>, else ~/.local/state/ovagent\n"
    "  --stdio            serve one session on standard input/output (for ssh), no listeners\n"
    "  --ports-file FILE  after binding, write the listening endpoints to FILE\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Signals: SIGTERM/SIGINT stop the agent, SIGHUP reopens the log and reloads users, realms, limits\n"
    "and log level.\n"
    "\n"
    "Manual: ovagent(8); guide: /usr/share/doc/ovagent/agent.md (the service, configuration, log).\n";

// The umask bits the agent always adds: no write by the group, nothing by others.
constexpr mode_t kNoOtherAccess = 027;
constexpr mode_t kPortsFileMode = 0644;

int usageError(const std::string& message) {
    std::cerr << "ovagent: " << message << "\n" << kUsage;
    return 2;
}

std::string privateTmpDirectory() {
    return "/tmp/ovagent-" + std::to_string(::getuid());
}

std::string defaultStateDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::string(state) + "/ovagent";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/ovagent";
    }
    return privateTmpDirectory();
}

int hashPassword(int argc, char** argv) {
    int iterations = PasswordHash::kDefaultIterations;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--iterations" && i + 1 < argc) {
            iterations = std::atoi(argv[++i]);
        } else {
            return usageError("unknown hash-password argument '" + arg + "'");
        }
    }
    if (iterations < PasswordHash::kMinIterations) {
        return usageError("--iterations must be at least " + std::to_string(PasswordHash::kMinIterations));
    }
    std::string password;
    if (!std::getline(std::cin, password) && password.empty()) {
        return usageError("no password on standard input");
    }
    std::string hash = PasswordHash::create(password, iterations);
    std::fill(password.begin(), password.end(), '\0');
    if (hash.empty()) {
        std::cerr << "ovagent: cannot hash the password\n";
        return 1;
    }
    std::cout << hash << "\n";
    return 0;
}

// `ovagent fingerprint`: the certificate that an agent with this configuration and state
// directory serves (the configuration's <tls certificate>, else the generated tls-cert.pem).
int printFingerprint(int argc, char** argv) {
    std::string configPath;
    std::string stateDir;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--config" || arg == "--state-dir") && i + 1 < argc) {
            (arg == "--config" ? configPath : stateDir) = argv[++i];
        } else {
            return usageError("unknown fingerprint argument '" + arg + "'");
        }
    }
    AgentConfig config;
    std::string error;
    if (!configPath.empty() && !AgentConfig::load(configPath, config, error)) {
        std::cerr << "ovagent: " << error << "\n";
        return 1;
    }
    if (stateDir.empty()) {
        stateDir = config.stateDirectory.empty() ? defaultStateDirectory() : config.stateDirectory;
    }
    const std::string certificate = TlsContext::certificatePath(config.certificateFile, stateDir);
    const std::string fingerprint = TlsContext::fingerprint(certificate, error);
    if (fingerprint.empty()) {
        std::cerr << "ovagent: " << error
                  << (config.certificateFile.empty() ? " (the agent generates it on its first start)" : "")
                  << "\n";
        return 1;
    }
    std::cout << fingerprint << "\n";
    return 0;
}

// A start that fails after the log is open says so there too, so that the log's last record
// tells why the agent is not running.
int startFailed(const std::string& message) {
    AGENT_LOG(AgentLog::error, "start failed: %s", message.c_str());
    std::cerr << "ovagent: " << message << "\n";
    return 1;
}

// Large blocks (frames, replies, the configurations of stored environments) are mapped on their
// own and go back to the system when freed. glibc's default raises both thresholds after the first
// large free, up to 32 and 64 MiB, and then keeps what a large request or a deleted environment
// freed; fixed values keep the resident size following the work.
// Called before any thread starts.
void boundRetainedHeap() {
    constexpr int kMmapThreshold = 256 * 1024;    // blocks of this size or more are mapped on their own
    constexpr int kTrimThreshold = 1024 * 1024;   // free memory beyond this at the top goes back
    ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);  // NOLINT(concurrency-mt-unsafe)
    ::mallopt(M_TRIM_THRESHOLD, kTrimThreshold);  // NOLINT(concurrency-mt-unsafe)
}

void raiseFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "hash-password") == 0) {
        return hashPassword(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "fingerprint") == 0) {
        return printFingerprint(argc, argv);
    }

    std::string configPath;
    std::string stateDir;
    std::string portsFile;
    bool demo = false;
    bool stdio = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << kAgentName << ' ' << kAgentVersion << " (protocol " << OVL::Wire::kProtocolVersion
                      << ")\n";
            return 0;
        } else if (arg == "--demo") {
            demo = true;
        } else if (arg == "--stdio") {
            stdio = true;
        } else if (arg == "--config") {
            if (!value(configPath)) {
                return usageError("--config needs a file");
            }
        } else if (arg == "--state-dir") {
            if (!value(stateDir)) {
                return usageError("--state-dir needs a directory");
            }
        } else if (arg == "--ports-file") {
            if (!value(portsFile)) {
                return usageError("--ports-file needs a file");
            }
        } else {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    if (demo == !configPath.empty()) {
        return usageError("give either --config FILE or --demo");
    }

    // The files the agent creates get their modes explicitly (state 0600, key 0600, certificate
    // 0644, ports file 0644); the log, which the logging engine creates again after it was moved
    // away, is never more than 0640, whatever umask the agent was started with.
    ::umask(::umask(0) | kNoOtherAccess);

    auto config = std::make_shared<AgentConfig>();
    std::string error;
    if (demo) {
        *config = AgentConfig::demo();
    } else if (!AgentConfig::load(configPath, *config, error)) {
        std::cerr << "ovagent: " << error << "\n";
        return 1;
    }
    if (stateDir.empty()) {
        stateDir = config->stateDirectory.empty() ? defaultStateDirectory() : config->stateDirectory;
    }
    std::error_code ec;
    const bool stateDirExisted = std::filesystem::is_directory(stateDir, ec);
    std::filesystem::create_directories(stateDir, ec);
    // A new directory is the agent's alone. One that exists loses read and write for others but
    // keeps its search bits: the service's (StateDirectoryMode=0711) lets clients read the
    // certificate (mode 0644) by its path, and nothing else, since the other files are private.
    struct stat stateMode {};
    ::chmod(stateDir.c_str(), !stateDirExisted || ::stat(stateDir.c_str(), &stateMode) != 0
                                  ? 0700
                                  : (stateMode.st_mode & 0711));
    if (!std::filesystem::is_directory(stateDir)) {
        std::cerr << "ovagent: cannot create the state directory " << stateDir << "\n";
        return 1;
    }
    // The last default lies in /tmp, where another user may have made it first (the socket's
    // private directory is the same one): only a real directory of this user, 0700, is taken.
    if (struct stat st{};
        stateDir == privateTmpDirectory() && (::lstat(stateDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                                              st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700)) {
        std::cerr << "ovagent: the state directory " << stateDir
                  << " is not a directory of this user with mode 0700\n";
        return 1;
    }
    // One listening agent per state directory: a second daemon there is a mistake (the same log,
    // certificate and environments behind other ports). A --stdio session (what ssh starts) serves
    // one client next to a running daemon and takes no lock, or ssh logins to a host whose daemon
    // runs would always be refused; the environment store locks the state file for each read and
    // change, so both keep each other's changes.
    const int lockFd =
        stdio ? -1 : ::open((stateDir + "/ovagent.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (!stdio && (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0)) {
        std::cerr << "ovagent: another agent is using the state directory " << stateDir << "\n";
        return 1;
    }
    const std::string logFile = config->logFile.empty() ? stateDir + "/ovagent.log" : config->logFile;
    if (std::string why; !AgentLog::open(logFile, config->logLevel, why)) {
        std::cerr << "ovagent: cannot open the log " << logFile << ": " << why
                  << "; logging to standard error\n";
    }

    std::signal(SIGPIPE, SIG_IGN);
    raiseFileLimit();
    boundRetainedHeap();

    EnvironmentStore store(stateDir + "/state.xml");
    if (!store.open(config->environments, error)) {
        return startFailed(error);
    }
    AgentContext context(config, store);
    Server server(context, stateDir);

    boost::asio::signal_set signals(server.ioContext(), SIGTERM, SIGINT, SIGHUP);
    std::function<void(const boost::system::error_code&, int)> onSignal =
        [&](const boost::system::error_code& e, int signal) {
            if (e) {
                return;
            }
            if (signal == SIGHUP) {
                // logrotate's postrotate: the records after this one go to a new file at the log's
                // path (the engine opens the path for every record); a log that went to standard
                // error because its file could not be opened at start tries the file again.
                if (std::string why; !AgentLog::reopen(why)) {
                    std::cerr << "ovagent: cannot open the log " << logFile << ": " << why << "\n";
                }
                auto next = std::make_shared<AgentConfig>();
                std::string reloadError;
                if (demo) {
                    AGENT_LOG(AgentLog::info, "SIGHUP: the demo configuration has no file to reload");
                } else if (AgentConfig::load(configPath, *next, reloadError)) {
                    AgentLog::setLevel(next->logLevel);
                    context.setConfig(next);
                    AGENT_LOG(AgentLog::info, "configuration reloaded from %s", configPath.c_str());
                } else {
                    AGENT_LOG(AgentLog::error, "reload failed, keeping the configuration: %s",
                              reloadError.c_str());
                }
                signals.async_wait(onSignal);
                return;
            }
            AGENT_LOG(AgentLog::info, "signal %d: shutting down", signal);
            server.stop();
        };
    signals.async_wait(onSignal);

    if (stdio) {
        AGENT_LOG(AgentLog::info, "%s %s serving standard input/output", kAgentName, kAgentVersion);
        server.runStdio();
        return 0;
    }
    if (!server.listen(*config, error)) {
        return startFailed(error);
    }
    const std::string listeners = server.describeListeners();
    // Whoever waits for the ports file finds it complete or not at all.
    if (!portsFile.empty()) {
        // Whoever reads the file may see it as soon as it is renamed into place, so it is made with
        // its mode (no session runs yet to make files meanwhile); one that was there keeps its
        // mode through the replacement and gets it afterwards.
        std::string portsError;
        const mode_t previous = ::umask(~kPortsFileMode & 0777);
        const int written = OVL::replaceFileAtomically(portsFile, listeners, portsError, kPortsFileMode);
        ::umask(previous);
        if (written == 0 && ::chmod(portsFile.c_str(), kPortsFileMode) != 0) {
            portsError = std::error_code(errno, std::generic_category()).message();
        }
        if (!portsError.empty()) {
            return startFailed("cannot write the ports file: " + portsError);
        }
    }
    AGENT_LOG(AgentLog::info, "%s %s started%s, state in %s, listening on:\n%s", kAgentName, kAgentVersion,
              demo ? " in demo mode" : "", stateDir.c_str(), listeners.c_str());
    if (demo) {
        std::cerr << "ovagent demo: log in as \"peadmin\" / \"5t6y7u\", realm \"System\"\n" << listeners;
    }
    server.run(config->workerThreads);
    AGENT_LOG(AgentLog::info, "stopped");
    return 0;
}
