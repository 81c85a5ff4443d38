// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Queries of the operating system's performance counters, addressed by counter paths
//   \Object(instance)\Counter      or      \Object\Counter
// (object and counter names are case-insensitive). The counters come from /proc and /sys:
//
//   \Processor(_Total|<n>)\% Processor Time, % User Time, % Privileged Time, % Idle Time  [rate]
//   \Memory\Available Bytes, \Memory\Committed Bytes
//   \PhysicalDisk(_Total|<device>)\Disk Read Bytes/sec, Disk Write Bytes/sec              [rate]
//   \Network Interface(_Total|<interface>)\Bytes Received/sec, Bytes Sent/sec, Bytes Total/sec [rate]
//   \System\Processes
//   \Process(<name>[#<k>])\% Processor Time [rate], Working Set
//
// _Total sums the physical disks, or every network interface except loopback. A process is
// found by its command name (the first 15 characters); <name>#<k> is the k-th such process in
// order of process id, counting from 0. Its % Processor Time is relative to one processor.
//
// Use:
//   OVLPdhQuery query;  OVLPdhCounter cpu("\\Processor(_Total)\\% Processor Time");
//   query.open();  query.addCounter(cpu);
//   query.collectData(1000);              // rates need two samples: collect, wait 1 s, collect
//   double percent;  if (query.getValue(cpu, percent) == 0) ...
//
// Every operation returns a status: 0 for success, else one of the k... values below, which is
// also recorded (isError, getLastErrorMsg). Nothing is thrown or logged.
// Each collection reads every /proc or /sys source that its counters need once, however many
// counters use it.
// Copies of a query share its counters and samples; the query is closed once, by the last copy.
// One object is used by one thread at a time (copies may be used on different threads).

#include <memory>
#include <set>
#include <string>

#include "OVLCore/OVLCoreExport.h"

namespace OVL {

namespace detail {
class OVLCounterSource;
}

// A counter named by its path. Owned by the caller; a query stores its handle in it when the
// counter is added.
class OVLCORE_EXPORT OVLPdhCounter {
public:
    using Handle = unsigned long;  // 0: not added

    OVLPdhCounter() = default;
    explicit OVLPdhCounter(const std::string& path) : m_path(path) {}

    Handle getHandle() const { return m_handle; }
    const std::string& getPath() const { return m_path; }
    void setPath(const std::string& path) { m_path = path; }

private:
    friend class OVLPdhQuery;

    Handle m_handle = 0;
    std::string m_path;
};

class OVLCORE_EXPORT OVLPdhQuery {
public:
    static constexpr long kSuccess = 0;
    static constexpr long kNoInstance = 0x800007D1L;       // instance not found (now)
    static constexpr long kNoData = 0x800007D5L;           // collection without counters
    static constexpr long kNoObject = 0xC0000BB8L;         // unknown object
    static constexpr long kNoCounter = 0xC0000BB9L;        // unknown counter of a known object
    static constexpr long kInvalidHandle = 0xC0000BBCL;    // query not open, counter not added
    static constexpr long kInvalidArgument = 0xC0000BBDL;  // e.g. a null counter array
    static constexpr long kBadCounterName = 0xC0000BC0L;   // path syntax
    static constexpr long kInvalidData = 0xC0000BC6L;      // not collected (a rate needs two samples)
    static constexpr long kReadFailed = 0xC0000BC4L;       // a /proc or /sys source could not be read

    OVLPdhQuery();
    OVLPdhQuery(const OVLPdhQuery& other);
    OVLPdhQuery& operator=(const OVLPdhQuery& other);
    ~OVLPdhQuery();

    // Opens the query; 0 and no change when already open.
    long open();
    // Adds the counter named by counter's path and stores its handle in `counter`. An unknown
    // or malformed path gives kNoObject, kNoCounter, kNoInstance or kBadCounterName and records
    // nothing; a closed query gives kInvalidHandle.
    long addCounter(OVLPdhCounter& counter);
    // Adds counters[0..count-1] in order, stopping at the first failure (whose status it
    // returns); counters added before it stay added. 0 when all succeed or count <= 0.
    long addCounter(OVLPdhCounter* counters, int count);
    // Removes the counter from the query; kInvalidHandle when it is not in it.
    long removeCounter(OVLPdhCounter& counter);
    // Takes one sample of every counter; with ms != 0 and success, sleeps ms milliseconds and
    // takes a second one. The status of the last collection; kNoData without counters.
    long collectData(unsigned long ms);
    // The value of an added counter from the last collection (a rate from the last two):
    // 0 and `value` set, or kInvalidData (not collected yet / one sample only), kNoInstance (the
    // instance was not found in the samples) or kInvalidHandle; `value` is then unchanged.
    long getValue(const OVLPdhCounter& counter, double& value);
    // Removes the counters added through this object and drops the query; the query itself is
    // closed when its last copy drops it. The last status and message stay.
    void close();

    bool isOpen() const { return m_open; }
    bool isError() const { return m_status != 0; }
    long getStatus() const { return m_status; }
    // Text of the thread's last system error when the last failure was recorded; a later
    // success keeps it.
    const std::string& getLastErrorMsg() const { return m_message; }

private:
    long checkResult(long status);

    std::shared_ptr<detail::OVLCounterSource> m_query;
    bool m_open = false;
    std::set<OVLPdhCounter::Handle> m_counters;
    long m_status = 0;
    std::string m_message;
};

}  // namespace OVL
