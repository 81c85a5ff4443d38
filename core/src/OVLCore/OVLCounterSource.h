// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The counter source behind OVLPdhQuery: parses counter paths and samples /proc and /sys.
// Internal to OVLCore. All members are serialised by the source's own mutex, so that copies of
// a query used on different threads stay safe.
//
// The counters it knows are the rows of one table in OVLCounterSource.cpp (object, counter, the
// file its value comes from, how the value is computed): adding a counter is adding a row.

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "OVLCommon/Mutex.h"
#include "OVLProcParsers.h"

namespace OVL {
namespace detail {

// A process instance "name#k": the k-th (from 0, in pid order) running process of that name.
struct ProcessKey {
    std::string name;
    int occurrence = 0;

    bool operator<(const ProcessKey& other) const {
        return std::tie(name, occurrence) < std::tie(other.name, other.occurrence);
    }
};

struct CounterRow;  // a row of the counter table

struct CounterDef {
    const CounterRow* row = nullptr;
    std::string instance;  // "_Total", a device or interface name; empty when none
    int cpu = -1;          // processor number, -1 for _Total
    ProcessKey process;    // of a process counter
};

// Parses a counter path: 0 and `def` filled, or a status of OVLPdhQuery (kBadCounterName,
// kNoObject, kNoCounter, kNoInstance), with errno set to match.
long parseCounterPath(const std::string& path, CounterDef& def);

// Processors configured in the system, looked up once per process.
long processorCount();

// One collection of every file the query's counters need.
struct CounterSample {
    struct Process {
        pid_t pid = 0;
        ProcessStat stat;
    };
    bool valid = false;
    double seconds = 0;          // monotonic time of the sample
    std::vector<CpuTimes> cpus;  // [0] all processors, [n + 1] processor n
    MemoryTotals memory;
    TransferTable disks;  // sectors read, written
    TransferTable nets;   // bytes received, sent
    long long processes = -1;
    std::map<ProcessKey, Process> processSamples;
};

// The value of a counter from the last two collections (`previous` invalid when there was one):
// 0 and `out`, or kInvalidData when a rate lacks its first sample, the process behind an instance
// changed or the file lacked the value, or kNoInstance when the sample lacks the instance.
long counterValue(const CounterDef& def, const CounterSample& previous, const CounterSample& current,
                  double& out);

class OVLCounterSource {
public:
    // 0 and a new nonzero id, or the parse status.
    long add(const std::string& path, unsigned long& id);
    // 0, or kInvalidHandle when the id is unknown.
    long remove(unsigned long id);
    long collect();
    long value(unsigned long id, double& out);

private:
    // Each runs with m_mutex held, by the sampling that calls it.
    bool readStat(CounterSample& s) REQUIRES(m_mutex);
    bool readMeminfo(CounterSample& s) REQUIRES(m_mutex);
    bool readDiskstats(CounterSample& s) REQUIRES(m_mutex);
    bool readNetDev(CounterSample& s) REQUIRES(m_mutex);
    bool readProcesses(CounterSample& s, bool count, bool names) REQUIRES(m_mutex);
    const std::set<std::string>& physicalDisks() REQUIRES(m_mutex);

    const long m_cpuCount = processorCount();
    Mutex m_mutex;
    std::map<unsigned long, CounterDef> m_counters GUARDED_BY(m_mutex);
    unsigned long m_nextId GUARDED_BY(m_mutex) = 1;
    CounterSample m_previous GUARDED_BY(m_mutex), m_current GUARDED_BY(m_mutex);
    std::map<ProcessKey, pid_t> m_pidCache GUARDED_BY(m_mutex);
    bool m_disksKnown GUARDED_BY(m_mutex) = false;
    std::set<std::string> m_physicalDisks GUARDED_BY(m_mutex);
};

// Reads a whole file through the system-call seam. False if it cannot be opened or read.
bool readWholeFile(const char* path, std::string& out);

}  // namespace detail
}  // namespace OVL
