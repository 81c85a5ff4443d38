#pragma once
// The counter source behind OVLPdhQuery: parses counter paths and samples /proc and /sys.
// Internal to OVLCore. All members are serialised by the source's own mutex, so that copies of
// a query used on different threads stay safe.

#include <sys/types.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace OVL {
namespace detail {

enum class CounterKind {
    ProcessorTime,
    ProcessorUserTime,
    ProcessorPrivilegedTime,
    ProcessorIdleTime,
    MemoryAvailable,
    MemoryCommitted,
    DiskReadRate,
    DiskWriteRate,
    NetReceiveRate,
    NetSendRate,
    NetTotalRate,
    SystemProcesses,
    ProcessTime,
    ProcessWorkingSet,
};

struct CounterDef {
    CounterKind kind;
    std::string instance;  // "_Total", a device, interface or process name; empty when none
    int cpu = -1;          // processor number, -1 for _Total
    int occurrence = 0;    // k of a process instance name#k
};

// Parses a counter path: 0 and `def` filled, or a status of OVLPdhQuery (kBadCounterName,
// kNoObject, kNoCounter, kNoInstance), with errno set to match.
long parseCounterPath(const std::string& path, CounterDef& def);

// Processors configured in the system, looked up once per process.
long processorCount();

class OVLCounterSource {
public:
    // 0 and a new nonzero id, or the parse status.
    long add(const std::string& path, unsigned long& id);
    // 0, or kInvalidHandle when the id is unknown.
    long remove(unsigned long id);
    long collect();
    long value(unsigned long id, double& out);

private:
    struct CpuTimes {
        unsigned long long total = 0, idle = 0, user = 0, privileged = 0;
    };
    struct ProcessSample {
        pid_t pid = 0;
        unsigned long long ticks = 0;
        long long rssPages = 0;
    };
    struct Sample {
        bool valid = false;
        double seconds = 0;          // monotonic time of the sample
        std::vector<CpuTimes> cpus;  // [0] all processors, [n + 1] processor n
        long long memAvailable = -1, memCommitted = -1;
        std::map<std::string, std::pair<unsigned long long, unsigned long long>>
            disks;  // sectors read, written
        std::map<std::string, std::pair<unsigned long long, unsigned long long>>
            nets;  // bytes received, sent
        long long processes = -1;
        std::map<std::string, ProcessSample> processSamples;  // by instance name
    };

    enum Source : unsigned {
        kStat = 1,
        kMeminfo = 2,
        kDiskstats = 4,
        kNetDev = 8,
        kProcessList = 16,
        kProcessStat = 32,
    };
    static unsigned sourceOf(CounterKind kind);

    bool readStat(Sample& s);
    bool readMeminfo(Sample& s);
    bool readDiskstats(Sample& s);
    bool readNetDev(Sample& s);
    bool readProcesses(Sample& s, bool count, bool names);
    long valueOf(const CounterDef& def, double& out) const;
    const std::set<std::string>& physicalDisks();

    const long m_cpuCount = processorCount();
    std::mutex m_mutex;
    std::map<unsigned long, CounterDef> m_counters;  // guarded by m_mutex
    unsigned long m_nextId = 1;                      // guarded by m_mutex
    Sample m_previous, m_current;                    // guarded by m_mutex
    std::map<std::string, pid_t> m_pidCache;         // guarded by m_mutex
    bool m_disksKnown = false;                       // guarded by m_mutex
    std::set<std::string> m_physicalDisks;           // guarded by m_mutex
};

// Reads a whole file through the system-call seam. False if it cannot be opened or read.
bool readWholeFile(const char* path, std::string& out);

}  // namespace detail
}  // namespace OVL
