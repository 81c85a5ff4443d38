#include "OVLCounterSource.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string_view>

#include "OVLCommon/SysCall.h"
#include "OVLCore/OVLPdhQuery.h"
#include "OVLCore/OVLSysCalls.h"

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
    if (*text == '\0')
        return false;
    for (; *text; ++text)
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return false;
    return true;
}

}  // namespace

long processorCount() {
    static const long count = [] {
        const long n = ::sysconf(_SC_NPROCESSORS_CONF);
        return n > 0 ? n : 1;
    }();
    return count;
}

namespace {

double monotonicSeconds() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The command name of a /proc/<pid>/stat text, and the fields after it.
bool splitProcessStat(const std::string& text, std::string& comm, std::string& rest) {
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    comm = text.substr(open + 1, close - open - 1);
    rest = text.substr(close + 1);
    return true;
}

std::string commOf(const std::string& name) {
    return name.substr(0, kCommLength);
}

// Walks the lines of a text and the blank-separated fields of the current line.
class LineCursor {
public:
    explicit LineCursor(const std::string& text) : m_next(text.data()), m_end(text.data() + text.size()) {}

    // Moves to the next line; false at the end of the text.
    bool next() {
        if (m_next >= m_end)
            return false;
        m_pos = m_next;
        const void* nl = std::memchr(m_pos, '\n', static_cast<std::size_t>(m_end - m_pos));
        m_lineEnd = nl ? static_cast<const char*>(nl) : m_end;
        m_next = m_lineEnd + 1;
        return true;
    }
    std::string_view word() {
        skipBlanks();
        const char* start = m_pos;
        while (m_pos < m_lineEnd && *m_pos != ' ' && *m_pos != '\t')
            ++m_pos;
        return {start, static_cast<std::size_t>(m_pos - start)};
    }
    // The trimmed text up to `stop` (which is skipped); empty when the line has no `stop`.
    std::string_view upTo(char stop) {
        skipBlanks();
        const void* found = std::memchr(m_pos, stop, static_cast<std::size_t>(m_lineEnd - m_pos));
        if (found == nullptr)
            return {};
        const char* start = m_pos;
        m_pos = static_cast<const char*>(found) + 1;
        const char* last = m_pos - 1;
        while (last > start && last[-1] == ' ')
            --last;
        return {start, static_cast<std::size_t>(last - start)};
    }
    // The next field as a decimal number; 0 when it is missing or not a number.
    unsigned long long number() { return toNumber(word()); }

    static unsigned long long toNumber(std::string_view digits) {
        unsigned long long value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return value;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return value;
    }

private:
    void skipBlanks() {
        while (m_pos < m_lineEnd && (*m_pos == ' ' || *m_pos == '\t'))
            ++m_pos;
    }

    const char* m_next;
    const char* m_end;
    const char* m_pos = nullptr;
    const char* m_lineEnd = nullptr;
};

}  // namespace

bool readWholeFile(const char* path, std::string& out) {
    const int fd = retryOnEintr([&] { return sys::calls().open(path, O_RDONLY | O_CLOEXEC, 0); });
    if (fd < 0)
        return false;
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

long parseCounterPath(const std::string& path, CounterDef& def) {
    if (path.size() < 4 || path[0] != '\\' || path[1] == '\\')
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    // The object part ends at the first backslash outside parentheses.
    int depth = 0;
    std::size_t end = std::string::npos;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '(')
            ++depth;
        if (path[i] == ')')
            --depth;
        if (path[i] == '\\' && depth == 0) {
            end = i;
            break;
        }
    }
    if (end == std::string::npos || end == 1 || end + 1 >= path.size())
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    const std::string objectPart = path.substr(1, end - 1);
    const std::string counter = lower(path.substr(end + 1));
    if (counter.find('\\') != std::string::npos)
        return fail(OVLPdhQuery::kBadCounterName, EINVAL);

    std::string object = objectPart;
    std::string instance;
    bool hasInstance = false;
    if (const auto paren = objectPart.find('('); paren != std::string::npos) {
        if (objectPart.back() != ')' || paren == 0)
            return fail(OVLPdhQuery::kBadCounterName, EINVAL);
        object = objectPart.substr(0, paren);
        instance = objectPart.substr(paren + 1, objectPart.size() - paren - 2);
        hasInstance = true;
        if (instance.empty())
            return fail(OVLPdhQuery::kBadCounterName, EINVAL);
    }
    object = lower(object);
    def = CounterDef{};
    def.instance = instance;

    struct Entry {
        const char* object;
        const char* counter;
        CounterKind kind;
    };
    static const Entry kCounters[] = {
        {"processor", "% processor time", CounterKind::ProcessorTime},
        {"processor", "% user time", CounterKind::ProcessorUserTime},
        {"processor", "% privileged time", CounterKind::ProcessorPrivilegedTime},
        {"processor", "% idle time", CounterKind::ProcessorIdleTime},
        {"memory", "available bytes", CounterKind::MemoryAvailable},
        {"memory", "committed bytes", CounterKind::MemoryCommitted},
        {"physicaldisk", "disk read bytes/sec", CounterKind::DiskReadRate},
        {"physicaldisk", "disk write bytes/sec", CounterKind::DiskWriteRate},
        {"network interface", "bytes received/sec", CounterKind::NetReceiveRate},
        {"network interface", "bytes sent/sec", CounterKind::NetSendRate},
        {"network interface", "bytes total/sec", CounterKind::NetTotalRate},
        {"system", "processes", CounterKind::SystemProcesses},
        {"process", "% processor time", CounterKind::ProcessTime},
        {"process", "working set", CounterKind::ProcessWorkingSet},
    };
    bool objectKnown = false;
    const Entry* found = nullptr;
    for (const Entry& e : kCounters) {
        if (object != e.object)
            continue;
        objectKnown = true;
        if (counter == e.counter) {
            found = &e;
            break;
        }
    }
    if (!objectKnown)
        return fail(OVLPdhQuery::kNoObject, ENOENT);
    if (found == nullptr)
        return fail(OVLPdhQuery::kNoCounter, ENOENT);
    def.kind = found->kind;

    const bool single = object == "memory" || object == "system";
    if (single)
        return hasInstance ? fail(OVLPdhQuery::kNoInstance, ENOENT) : 0;
    if (!hasInstance)
        return fail(OVLPdhQuery::kNoInstance, ENOENT);

    if (object == "processor") {
        if (instance == "_Total")
            return 0;
        if (!allDigits(instance.c_str()) || instance.size() > 6)
            return fail(OVLPdhQuery::kNoInstance, ENOENT);
        def.cpu = std::atoi(instance.c_str());
        if (def.cpu >= processorCount())
            return fail(OVLPdhQuery::kNoInstance, ENOENT);
        return 0;
    }
    if (object == "process") {
        const auto hash = instance.rfind('#');
        if (hash != std::string::npos && hash + 1 < instance.size() &&
            allDigits(instance.c_str() + hash + 1) && instance.size() - hash <= 7) {
            def.occurrence = std::atoi(instance.c_str() + hash + 1);
            def.instance = instance.substr(0, hash);
            if (def.instance.empty())
                return fail(OVLPdhQuery::kNoInstance, ENOENT);
        }
        return 0;
    }
    if (instance == "_Total")
        return 0;
    if (instance.find('/') != std::string::npos || instance == "." || instance == "..")
        return fail(OVLPdhQuery::kNoInstance, ENOENT);
    const std::string sysPath = (object == "physicaldisk" ? "/sys/block/" : "/sys/class/net/") + instance;
    return exists(sysPath) ? 0 : fail(OVLPdhQuery::kNoInstance, ENOENT);
}

unsigned OVLCounterSource::sourceOf(CounterKind kind) {
    switch (kind) {
        case CounterKind::ProcessorTime:
        case CounterKind::ProcessorUserTime:
        case CounterKind::ProcessorPrivilegedTime:
        case CounterKind::ProcessorIdleTime:
            return kStat;
        case CounterKind::MemoryAvailable:
        case CounterKind::MemoryCommitted:
            return kMeminfo;
        case CounterKind::DiskReadRate:
        case CounterKind::DiskWriteRate:
            return kDiskstats;
        case CounterKind::NetReceiveRate:
        case CounterKind::NetSendRate:
        case CounterKind::NetTotalRate:
            return kNetDev;
        case CounterKind::SystemProcesses:
            return kProcessList;
        case CounterKind::ProcessTime:
        case CounterKind::ProcessWorkingSet:
            return kProcessStat;
    }
    return 0;
}

long OVLCounterSource::add(const std::string& path, unsigned long& id) {
    CounterDef def;
    if (const long status = parseCounterPath(path, def); status != 0)
        return status;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sourceOf(def.kind) == kDiskstats)
        physicalDisks();
    id = m_nextId++;
    m_counters.emplace(id, std::move(def));
    return 0;
}

long OVLCounterSource::remove(unsigned long id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters.erase(id) ? 0 : fail(OVLPdhQuery::kInvalidHandle, EBADF);
}

const std::set<std::string>& OVLCounterSource::physicalDisks() {
    if (m_disksKnown)
        return m_physicalDisks;
    m_disksKnown = true;
    // A disk backed by a device (not a loop, RAM or mapper volume) has /sys/block/<name>/device.
    if (DIR* dir = ::opendir("/sys/block")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string name = entry->d_name;
            if (exists("/sys/block/" + name + "/device"))
                m_physicalDisks.insert(name);
        }
        ::closedir(dir);
    }
    return m_physicalDisks;
}

bool OVLCounterSource::readStat(Sample& s) {
    std::string text;
    if (!readWholeFile("/proc/stat", text))
        return false;
    s.cpus.assign(static_cast<std::size_t>(m_cpuCount) + 1, CpuTimes{});
    for (LineCursor line(text); line.next();) {
        const std::string_view name = line.word();
        if (name.substr(0, 3) != "cpu")
            break;
        std::size_t index = 0;
        if (name.size() > 3)
            index = static_cast<std::size_t>(LineCursor::toNumber(name.substr(3))) + 1;
        if (index >= s.cpus.size())
            continue;
        unsigned long long v[8];
        for (auto& x : v)
            x = line.number();
        // user nice system idle iowait irq softirq steal (guest time is inside user already)
        CpuTimes& t = s.cpus[index];
        t.user = v[0] + v[1];
        t.privileged = v[2] + v[5] + v[6];
        t.idle = v[3] + v[4];
        t.total = t.user + t.privileged + t.idle + v[7];
    }
    return true;
}

bool OVLCounterSource::readMeminfo(Sample& s) {
    std::string text;
    if (!readWholeFile("/proc/meminfo", text))
        return false;
    for (LineCursor line(text); line.next();) {
        const std::string_view key = line.word();
        if (key == "MemAvailable:")
            s.memAvailable = static_cast<long long>(line.number()) * 1024;
        else if (key == "Committed_AS:")
            s.memCommitted = static_cast<long long>(line.number()) * 1024;
    }
    return true;
}

bool OVLCounterSource::readDiskstats(Sample& s) {
    std::string text;
    if (!readWholeFile("/proc/diskstats", text))
        return false;
    const auto& physical = physicalDisks();
    std::pair<unsigned long long, unsigned long long> total{0, 0};
    for (LineCursor line(text); line.next();) {
        line.number();  // major
        line.number();  // minor
        const std::string name(line.word());
        if (name.empty())
            continue;
        // reads, merged, sectors read, ms, writes, merged, sectors written
        unsigned long long v[7];
        for (auto& x : v)
            x = line.number();
        s.disks[name] = {v[2], v[6]};
        if (physical.count(name)) {
            total.first += v[2];
            total.second += v[6];
        }
    }
    s.disks["_Total"] = total;
    return true;
}

bool OVLCounterSource::readNetDev(Sample& s) {
    std::string text;
    if (!readWholeFile("/proc/net/dev", text))
        return false;
    std::pair<unsigned long long, unsigned long long> total{0, 0};
    for (LineCursor line(text); line.next();) {
        std::string_view name = line.upTo(':');
        if (name.empty())
            continue;
        // received: bytes packets errs drop fifo frame compressed multicast; then sent bytes
        unsigned long long v[9];
        for (auto& x : v)
            x = line.number();
        const std::string key(name);
        s.nets[key] = {v[0], v[8]};
        if (key != "lo") {
            total.first += v[0];
            total.second += v[8];
        }
    }
    s.nets["_Total"] = total;
    return true;
}

bool OVLCounterSource::readProcesses(Sample& s, bool count, bool names) {
    // Which instances need the process list to be found.
    std::map<std::string, std::vector<const CounterDef*>> wanted;
    if (names) {
        for (const auto& [id, def] : m_counters)
            if (sourceOf(def.kind) == kProcessStat)
                wanted[def.instance + "#" + std::to_string(def.occurrence)];
    }
    std::map<std::string, pid_t> resolved;
    std::string text, comm, rest;
    bool needList = count;
    for (const auto& [key, unused] : wanted) {
        const auto cached = m_pidCache.find(key);
        if (cached != m_pidCache.end() && key.size() >= 2 && key.compare(key.size() - 2, 2, "#0") == 0) {
            // The cached process, if it still has the name: only occurrence 0 may skip the list.
            const std::string name = key.substr(0, key.size() - 2);
            if (readWholeFile(("/proc/" + std::to_string(cached->second) + "/comm").c_str(), text) &&
                !text.empty() && text.substr(0, text.size() - 1) == commOf(name)) {
                resolved[key] = cached->second;
                continue;
            }
        }
        needList = true;
    }

    if (needList) {
        DIR* dir = ::opendir("/proc");
        if (dir == nullptr)
            return false;
        std::vector<pid_t> pids;
        while (const dirent* entry = ::readdir(dir)) {
            if (allDigits(entry->d_name))
                pids.push_back(static_cast<pid_t>(std::atol(entry->d_name)));
        }
        ::closedir(dir);
        if (count)
            s.processes = static_cast<long long>(pids.size());
        if (resolved.size() < wanted.size()) {
            std::sort(pids.begin(), pids.end());
            std::map<std::string, int> seen;
            for (pid_t pid : pids) {
                if (!readWholeFile(("/proc/" + std::to_string(pid) + "/comm").c_str(), text) || text.empty())
                    continue;
                text.pop_back();
                const std::string key = text + "#" + std::to_string(seen[text]++);
                for (const auto& [wantedKey, unused] : wanted) {
                    const auto hash = wantedKey.rfind('#');
                    if (resolved.count(wantedKey))
                        continue;
                    if (commOf(wantedKey.substr(0, hash)) + wantedKey.substr(hash) == key)
                        resolved[wantedKey] = pid;
                }
            }
        }
    }

    for (const auto& [key, pid] : resolved) {
        if (!readWholeFile(("/proc/" + std::to_string(pid) + "/stat").c_str(), text) ||
            !splitProcessStat(text, comm, rest))
            continue;
        std::istringstream fields(rest);
        std::string field;
        ProcessSample p;
        p.pid = pid;
        // Fields after the name: state is field 3; utime 14, stime 15, rss 24.
        for (int n = 3; n <= 24 && fields >> field; ++n) {
            if (n == 14 || n == 15)
                p.ticks += std::strtoull(field.c_str(), nullptr, 10);
            if (n == 24)
                p.rssPages = std::strtoll(field.c_str(), nullptr, 10);
        }
        s.processSamples[key] = p;
        m_pidCache[key] = pid;
    }
    return true;
}

long OVLCounterSource::collect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_counters.empty())
        return fail(OVLPdhQuery::kNoData, ENODATA);
    unsigned needed = 0;
    for (const auto& [id, def] : m_counters)
        needed |= sourceOf(def.kind);

    Sample s;
    s.seconds = monotonicSeconds();
    bool ok = true;
    if (needed & kStat)
        ok = readStat(s) && ok;
    if (needed & kMeminfo)
        ok = readMeminfo(s) && ok;
    if (needed & kDiskstats)
        ok = readDiskstats(s) && ok;
    if (needed & kNetDev)
        ok = readNetDev(s) && ok;
    if (needed & (kProcessList | kProcessStat))
        ok = readProcesses(s, (needed & kProcessList) != 0, (needed & kProcessStat) != 0) && ok;
    const int error = errno;
    s.valid = true;
    m_previous = std::move(m_current);
    m_current = std::move(s);
    return ok ? 0 : fail(OVLPdhQuery::kReadFailed, error);
}

long OVLCounterSource::value(unsigned long id, double& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_counters.find(id);
    if (found == m_counters.end())
        return fail(OVLPdhQuery::kInvalidHandle, EBADF);
    return valueOf(found->second, out);
}

long OVLCounterSource::valueOf(const CounterDef& def, double& out) const {
    const Sample& cur = m_current;
    const Sample& prev = m_previous;
    if (!cur.valid)
        return fail(OVLPdhQuery::kInvalidData, ENODATA);
    const double elapsed = cur.seconds - prev.seconds;
    const bool rateReady = prev.valid && elapsed > 0;

    auto percentOf = [&](auto pick) -> long {
        const std::size_t index = static_cast<std::size_t>(def.cpu + 1);
        if (!rateReady)
            return fail(OVLPdhQuery::kInvalidData, ENODATA);
        if (index >= cur.cpus.size() || index >= prev.cpus.size())
            return fail(OVLPdhQuery::kNoInstance, ENOENT);
        const CpuTimes& a = prev.cpus[index];
        const CpuTimes& b = cur.cpus[index];
        const double total = static_cast<double>(b.total) - static_cast<double>(a.total);
        const double part = static_cast<double>(pick(b)) - static_cast<double>(pick(a));
        out = total > 0 ? std::clamp(100.0 * part / total, 0.0, 100.0) : 0.0;
        return 0;
    };
    auto rateOf = [&](const auto& prevMap, const auto& curMap, auto pick, double scale) -> long {
        if (!rateReady)
            return fail(OVLPdhQuery::kInvalidData, ENODATA);
        const auto a = prevMap.find(def.instance);
        const auto b = curMap.find(def.instance);
        if (a == prevMap.end() || b == curMap.end())
            return fail(OVLPdhQuery::kNoInstance, ENOENT);
        const double delta = static_cast<double>(pick(b->second)) - static_cast<double>(pick(a->second));
        out = delta > 0 ? delta * scale / elapsed : 0.0;  // counters that wrapped or were reset give 0
        return 0;
    };
    const auto first = [](const auto& p) { return p.first; };
    const auto second = [](const auto& p) { return p.second; };
    const auto both = [](const auto& p) { return p.first + p.second; };
    const std::string processKey = def.instance + "#" + std::to_string(def.occurrence);

    switch (def.kind) {
        case CounterKind::ProcessorTime:
            return percentOf([](const CpuTimes& t) { return t.total - t.idle; });
        case CounterKind::ProcessorUserTime:
            return percentOf([](const CpuTimes& t) { return t.user; });
        case CounterKind::ProcessorPrivilegedTime:
            return percentOf([](const CpuTimes& t) { return t.privileged; });
        case CounterKind::ProcessorIdleTime:
            return percentOf([](const CpuTimes& t) { return t.idle; });
        case CounterKind::MemoryAvailable:
            if (cur.memAvailable < 0)
                return fail(OVLPdhQuery::kInvalidData, ENODATA);
            out = static_cast<double>(cur.memAvailable);
            return 0;
        case CounterKind::MemoryCommitted:
            if (cur.memCommitted < 0)
                return fail(OVLPdhQuery::kInvalidData, ENODATA);
            out = static_cast<double>(cur.memCommitted);
            return 0;
        case CounterKind::DiskReadRate:
            return rateOf(prev.disks, cur.disks, first, kSectorBytes);
        case CounterKind::DiskWriteRate:
            return rateOf(prev.disks, cur.disks, second, kSectorBytes);
        case CounterKind::NetReceiveRate:
            return rateOf(prev.nets, cur.nets, first, 1.0);
        case CounterKind::NetSendRate:
            return rateOf(prev.nets, cur.nets, second, 1.0);
        case CounterKind::NetTotalRate:
            return rateOf(prev.nets, cur.nets, both, 1.0);
        case CounterKind::SystemProcesses:
            if (cur.processes < 0)
                return fail(OVLPdhQuery::kInvalidData, ENODATA);
            out = static_cast<double>(cur.processes);
            return 0;
        case CounterKind::ProcessTime: {
            if (!rateReady)
                return fail(OVLPdhQuery::kInvalidData, ENODATA);
            const auto a = prev.processSamples.find(processKey);
            const auto b = cur.processSamples.find(processKey);
            if (a == prev.processSamples.end() || b == cur.processSamples.end())
                return fail(OVLPdhQuery::kNoInstance, ENOENT);
            if (a->second.pid != b->second.pid)
                return fail(OVLPdhQuery::kInvalidData, ENODATA);
            const double ticks = static_cast<double>(b->second.ticks) - static_cast<double>(a->second.ticks);
            const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
            out = ticks > 0 ? 100.0 * ticks / ticksPerSecond / elapsed : 0.0;
            return 0;
        }
        case CounterKind::ProcessWorkingSet: {
            const auto b = cur.processSamples.find(processKey);
            if (b == cur.processSamples.end())
                return fail(OVLPdhQuery::kNoInstance, ENOENT);
            out = static_cast<double>(b->second.rssPages) * static_cast<double>(::sysconf(_SC_PAGESIZE));
            return 0;
        }
    }
    return fail(OVLPdhQuery::kInvalidHandle, EBADF);
}

}  // namespace detail
}  // namespace OVL
