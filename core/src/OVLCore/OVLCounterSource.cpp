// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCounterSource.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "OVLCommon/SysCall.h"
#include "OVLCore/OVLPdhQuery.h"

namespace OVL {
namespace detail {

namespace {

constexpr std::size_t kCommLength = 15;  // the kernel keeps this much of a command name
constexpr double kSectorBytes = 512.0;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

long fail(long status, int error) {
    errno = error;
    return status;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool allDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text; ++text) {
        if (!std::isdigit(static_cast<unsigned char>(*text))) {
            return false;
        }
    }
    return true;
}

double monotonicSeconds() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string commOf(const std::string& name) {
    return name.substr(0, kCommLength);
}

}  // namespace

long processorCount() {
    static const long count = [] {
        const long n = ::sysconf(_SC_NPROCESSORS_CONF);
        return n > 0 ? n : 1;
    }();
    return count;
}

bool readWholeFile(const char* path, std::string& out) {
    const int fd = retryOnEintr([&] { return sys::calls().open(path, O_RDONLY | O_CLOEXEC, 0); });
    if (fd < 0) {
        return false;
    }
    out.clear();
    char buffer[8192];
    bool ok = true;
    for (;;) {
        const ssize_t n = retryOnEintr([&] { return sys::calls().read(fd, buffer, sizeof buffer); });
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else {
            ok = n == 0;
            break;
        }
    }
    const int saved = errno;
    sys::calls().close(fd);
    errno = saved;
    return ok;
}

// Which file a counter's value comes from. It also decides the counter's instances: none for
// memory and the process count, a processor number, a process name, a block device or a network
// interface.
enum Source : unsigned {
    kStat = 1,
    kMeminfo = 2,
    kDiskstats = 4,
    kNetDev = 8,
    kProcessList = 16,
    kProcessStat = 32,
};

// The last two collections, as the value functions see them.
struct Samples {
    const CounterSample& previous;
    const CounterSample& current;
    double elapsed;  // seconds between them
    bool rateReady;  // both taken, in order
};

struct CounterRow {
    const char* object;   // lower case
    const char* counter;  // lower case
    Source source;
    long (*value)(const CounterDef& def, const Samples& samples, double& out);
};

namespace {

long cpuPercent(const CounterDef& def, const Samples& s, double& out,
                unsigned long long (*pick)(const CpuTimes&)) {
    const int slot = def.cpu + 1;  // 0 is the total of all processors
    const std::size_t index = static_cast<std::size_t>(slot);
    if (!s.rateReady) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    }
    if (index >= s.current.cpus.size() || index >= s.previous.cpus.size()) {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    const CpuTimes& a = s.previous.cpus[index];
    const CpuTimes& b = s.current.cpus[index];
    const double total = static_cast<double>(b.total) - static_cast<double>(a.total);
    const double part = static_cast<double>(pick(b)) - static_cast<double>(pick(a));
    out = total > 0 ? std::clamp(100.0 * part / total, 0.0, 100.0) : 0.0;
    return 0;
}

long transferRate(const CounterDef& def, const Samples& s, double& out, TransferTable CounterSample::*table,
                  unsigned long long (*pick)(const Transfer&), double scale) {
    if (!s.rateReady) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    }
    const TransferTable& before = s.previous.*table;
    const TransferTable& after = s.current.*table;
    const auto a = before.find(def.instance);
    const auto b = after.find(def.instance);
    if (a == before.end() || b == after.end()) {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    const double delta = static_cast<double>(pick(b->second)) - static_cast<double>(pick(a->second));
    out = delta > 0 ? delta * scale / s.elapsed : 0.0;  // counters that wrapped or were reset give 0
    return 0;
}

// A value read as it is; negative when the file lacked it.
long gauge(long long value, double& out) {
    if (value < 0) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    }
    out = static_cast<double>(value);
    return 0;
}

long processTime(const CounterDef& def, const Samples& s, double& out) {
    if (!s.rateReady) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    }
    const auto a = s.previous.processSamples.find(def.process);
    const auto b = s.current.processSamples.find(def.process);
    if (a == s.previous.processSamples.end() || b == s.current.processSamples.end()) {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    if (a->second.pid != b->second.pid) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);  // another process took the name
    }
    const double ticks =
        static_cast<double>(b->second.stat.ticks) - static_cast<double>(a->second.stat.ticks);
    const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
    out = ticks > 0 ? 100.0 * ticks / ticksPerSecond / s.elapsed : 0.0;
    return 0;
}

long processWorkingSet(const CounterDef& def, const Samples& s, double& out) {
    const auto b = s.current.processSamples.find(def.process);
    if (b == s.current.processSamples.end()) {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    out = static_cast<double>(b->second.stat.rssPages) * static_cast<double>(::sysconf(_SC_PAGESIZE));
    return 0;
}

using Def = const CounterDef&;
using In = const Samples&;

const CounterRow kCounters[] = {
    {"processor", "% processor time", kStat,
     [](Def d, In s, double& out) {
         return cpuPercent(d, s, out, [](const CpuTimes& t) { return t.total - t.idle; });
     }},
    {"processor", "% user time", kStat,
     [](Def d, In s, double& out) {
         return cpuPercent(d, s, out, [](const CpuTimes& t) { return t.user; });
     }},
    {"processor", "% privileged time", kStat,
     [](Def d, In s, double& out) {
         return cpuPercent(d, s, out, [](const CpuTimes& t) { return t.privileged; });
     }},
    {"processor", "% idle time", kStat,
     [](Def d, In s, double& out) {
         return cpuPercent(d, s, out, [](const CpuTimes& t) { return t.idle; });
     }},
    {"memory", "available bytes", kMeminfo,
     [](Def, In s, double& out) { return gauge(s.current.memory.available, out); }},
    {"memory", "committed bytes", kMeminfo,
     [](Def, In s, double& out) { return gauge(s.current.memory.committed, out); }},
    {"physicaldisk", "disk read bytes/sec", kDiskstats,
     [](Def d, In s, double& out) {
         return transferRate(
             d, s, out, &CounterSample::disks, [](const Transfer& t) { return t.in; }, kSectorBytes);
     }},
    {"physicaldisk", "disk write bytes/sec", kDiskstats,
     [](Def d, In s, double& out) {
         return transferRate(
             d, s, out, &CounterSample::disks, [](const Transfer& t) { return t.out; }, kSectorBytes);
     }},
    {"network interface", "bytes received/sec", kNetDev,
     [](Def d, In s, double& out) {
         return transferRate(
             d, s, out, &CounterSample::nets, [](const Transfer& t) { return t.in; }, 1.0);
     }},
    {"network interface", "bytes sent/sec", kNetDev,
     [](Def d, In s, double& out) {
         return transferRate(
             d, s, out, &CounterSample::nets, [](const Transfer& t) { return t.out; }, 1.0);
     }},
    {"network interface", "bytes total/sec", kNetDev,
     [](Def d, In s, double& out) {
         return transferRate(
             d, s, out, &CounterSample::nets, [](const Transfer& t) { return t.in + t.out; }, 1.0);
     }},
    {"system", "processes", kProcessList,
     [](Def, In s, double& out) { return gauge(s.current.processes, out); }},
    {"process", "% processor time", kProcessStat, &processTime},
    {"process", "working set", kProcessStat, &processWorkingSet},
};

// The instance part of a path for a counter read from `source`: 0 and `def` completed, or
// kNoInstance.
long parseInstance(Source source, bool hasInstance, const std::string& instance, CounterDef& def) {
    if (source == kMeminfo || source == kProcessList) {
        return hasInstance ? fail(OVLPdhQuery::kNoInstance, ENOENT) : 0;
    }
    if (!hasInstance) {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    if (source == kStat) {
        if (instance == "_Total") {
            return 0;
        }
        if (!allDigits(instance.c_str()) || instance.size() > 6) {
            return fail(OVLPdhQuery::kNoInstance, ENOENT);
        }
        def.cpu = std::atoi(instance.c_str());
        return def.cpu < processorCount() ? 0 : fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    if (source == kProcessStat) {
        def.process.name = instance;
        const auto hash = instance.rfind('#');
        if (hash != std::string::npos && hash + 1 < instance.size() &&
            allDigits(instance.c_str() + hash + 1) && instance.size() - hash <= 7) {
            def.process.occurrence = std::atoi(instance.c_str() + hash + 1);
            def.process.name = instance.substr(0, hash);
            if (def.process.name.empty()) {
                return fail(OVLPdhQuery::kNoInstance, ENOENT);
            }
        }
        return 0;
    }
    if (instance == "_Total") {
        return 0;
    }
    if (instance.find('/') != std::string::npos || instance == "." || instance == "..") {
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    }
    const std::string sysPath = (source == kDiskstats ? "/sys/block/" : "/sys/class/net/") + instance;
    return exists(sysPath) ? 0 : fail(OVLPdhQuery::kNoInstance, ENOENT);
}

}  // namespace

long parseCounterPath(const std::string& path, CounterDef& def) {
    if (path.size() < 4 || path[0] != '\\' || path[1] == '\\') {
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    }
    // The object part ends at the first backslash outside parentheses.
    int depth = 0;
    std::size_t end = std::string::npos;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '(') {
            ++depth;
        }
        if (path[i] == ')') {
            --depth;
        }
        if (path[i] == '\\' && depth == 0) {
            end = i;
            break;
        }
    }
    if (end == std::string::npos || end == 1 || end + 1 >= path.size()) {
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    }
    const std::string objectPart = path.substr(1, end - 1);
    const std::string counter = lower(path.substr(end + 1));
    if (counter.find('\\') != std::string::npos) {
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    }

    std::string object = objectPart;
    std::string instance;
    bool hasInstance = false;
    if (const auto paren = objectPart.find('('); paren != std::string::npos) {
        if (objectPart.back() != ')' || paren == 0) {
            return fail(OVLPdhQuery::kBadCounterName, EINVAL);
        }
        object = objectPart.substr(0, paren);
        instance = objectPart.substr(paren + 1, objectPart.size() - paren - 2);
        hasInstance = true;
        if (instance.empty()) {
            return fail(OVLPdhQuery::kBadCounterName, EINVAL);
        }
    }
    object = lower(object);

    bool objectKnown = false;
    const CounterRow* found = nullptr;
    for (const CounterRow& row : kCounters) {
        if (object != row.object) {
            continue;
        }
        objectKnown = true;
        if (counter == row.counter) {
            found = &row;
            break;
        }
    }
    if (!objectKnown) {
        return fail(OVLPdhQuery::kNoObject, ENOENT);
    }
    if (found == nullptr) {
        return fail(OVLPdhQuery::kNoCounter, ENOENT);
    }
    def = CounterDef{};
    def.row = found;
    def.instance = instance;
    return parseInstance(found->source, hasInstance, instance, def);
}

long OVLCounterSource::add(const std::string& path, unsigned long& id) {
    CounterDef def;
    if (const long status = parseCounterPath(path, def); status != 0) {
        return status;
    }
    MutexLock lock(m_mutex);
    if (def.row->source == kDiskstats) {
        physicalDisks();
    }
    id = m_nextId++;
    m_counters.emplace(id, std::move(def));
    return 0;
}

long OVLCounterSource::remove(unsigned long id) {
    MutexLock lock(m_mutex);
    return m_counters.erase(id) ? 0 : fail(OVLPdhQuery::kInvalidHandle, EBADF);
}

const std::set<std::string>& OVLCounterSource::physicalDisks() {
    if (m_disksKnown) {
        return m_physicalDisks;
    }
    m_disksKnown = true;
    // A disk backed by a device (not a loop, RAM or mapper volume) has /sys/block/<name>/device.
    if (DIR* dir = ::opendir("/sys/block")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            const std::string name = entry->d_name;
            if (exists("/sys/block/" + name + "/device")) {
                m_physicalDisks.insert(name);
            }
        }
        ::closedir(dir);
    }
    return m_physicalDisks;
}

bool OVLCounterSource::readStat(CounterSample& s) {
    std::string text;
    if (!readWholeFile("/proc/stat", text)) {
        return false;
    }
    s.cpus = parseStat(text, static_cast<std::size_t>(m_cpuCount));
    return true;
}

bool OVLCounterSource::readMeminfo(CounterSample& s) {
    std::string text;
    if (!readWholeFile("/proc/meminfo", text)) {
        return false;
    }
    s.memory = parseMeminfo(text);
    return true;
}

bool OVLCounterSource::readDiskstats(CounterSample& s) {
    std::string text;
    if (!readWholeFile("/proc/diskstats", text)) {
        return false;
    }
    s.disks = parseDiskstats(text, physicalDisks());
    return true;
}

bool OVLCounterSource::readNetDev(CounterSample& s) {
    std::string text;
    if (!readWholeFile("/proc/net/dev", text)) {
        return false;
    }
    s.nets = parseNetDev(text);
    return true;
}

bool OVLCounterSource::readProcesses(CounterSample& s, bool count, bool names) {
    // The process instances the counters name.
    std::set<ProcessKey> wanted;
    if (names) {
        for (const auto& [id, def] : m_counters) {
            if (def.row->source == kProcessStat) {
                wanted.insert(def.process);
            }
        }
    }
    std::map<ProcessKey, pid_t> resolved;
    std::string text;
    bool needList = count;
    for (const ProcessKey& key : wanted) {
        // The cached process, if it still has the name: only occurrence 0 may skip the list, since
        // a process started or ended before it changes which one the k-th is.
        const auto cached = m_pidCache.find(key);
        if (cached != m_pidCache.end() && key.occurrence == 0) {
            if (readWholeFile(("/proc/" + std::to_string(cached->second) + "/comm").c_str(), text) &&
                !text.empty() && text.substr(0, text.size() - 1) == commOf(key.name)) {
                resolved[key] = cached->second;
                continue;
            }
        }
        needList = true;
    }

    if (needList) {
        DIR* dir = ::opendir("/proc");
        if (dir == nullptr) {
            return false;
        }
        std::vector<pid_t> pids;
        while (const dirent* entry = ::readdir(dir)) {
            if (allDigits(entry->d_name)) {
                pids.push_back(static_cast<pid_t>(std::atol(entry->d_name)));
            }
        }
        ::closedir(dir);
        if (count) {
            s.processes = static_cast<long long>(pids.size());
        }
        if (resolved.size() < wanted.size()) {
            std::sort(pids.begin(), pids.end());
            std::map<std::string, int> seen;  // processes of each name so far, in pid order
            for (pid_t pid : pids) {
                if (!readWholeFile(("/proc/" + std::to_string(pid) + "/comm").c_str(), text) ||
                    text.empty()) {
                    continue;
                }
                text.pop_back();
                const int occurrence = seen[text]++;
                for (const ProcessKey& key : wanted) {
                    if (key.occurrence == occurrence && commOf(key.name) == text && !resolved.count(key)) {
                        resolved[key] = pid;
                    }
                }
            }
        }
    }

    for (const auto& [key, pid] : resolved) {
        CounterSample::Process p;
        p.pid = pid;
        if (!readWholeFile(("/proc/" + std::to_string(pid) + "/stat").c_str(), text) ||
            !parseProcessStat(text, p.stat)) {
            continue;
        }
        s.processSamples[key] = p;
        m_pidCache[key] = pid;
    }
    return true;
}

long OVLCounterSource::collect() {
    MutexLock lock(m_mutex);
    if (m_counters.empty()) {
        return fail(OVLPdhQuery::kNoData, ENODATA);
    }
    unsigned needed = 0;
    for (const auto& [id, def] : m_counters) {
        needed |= def.row->source;
    }

    CounterSample s;
    s.seconds = monotonicSeconds();
    bool ok = true;
    if (needed & kStat) {
        ok = readStat(s) && ok;
    }
    if (needed & kMeminfo) {
        ok = readMeminfo(s) && ok;
    }
    if (needed & kDiskstats) {
        ok = readDiskstats(s) && ok;
    }
    if (needed & kNetDev) {
        ok = readNetDev(s) && ok;
    }
    if (needed & (kProcessList | kProcessStat)) {
        ok = readProcesses(s, (needed & kProcessList) != 0, (needed & kProcessStat) != 0) && ok;
    }
    const int error = errno;
    s.valid = true;
    m_previous = std::move(m_current);
    m_current = std::move(s);
    return ok ? 0 : fail(OVLPdhQuery::kReadFailed, error);
}

long OVLCounterSource::value(unsigned long id, double& out) {
    MutexLock lock(m_mutex);
    const auto found = m_counters.find(id);
    if (found == m_counters.end()) {
        return fail(OVLPdhQuery::kInvalidHandle, EBADF);
    }
    return counterValue(found->second, m_previous, m_current, out);
}

long counterValue(const CounterDef& def, const CounterSample& previous, const CounterSample& current,
                  double& out) {
    if (!current.valid) {
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    }
    const double elapsed = current.seconds - previous.seconds;
    const Samples samples{previous, current, elapsed, previous.valid && elapsed > 0};
    return def.row->value(def, samples, out);
}

}  // namespace detail
}  // namespace OVL
