// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The counter source's parsers on captured kernel texts, and its counter table on hand-made
// samples, with exact expected numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "OVLCore/OVLPdhQuery.h"
#include "OVLCounterSource.h"

using namespace OVL;
using namespace OVL::detail;

namespace {

// Fields: user nice system idle iowait irq softirq steal guest guest_nice.
constexpr const char* kStat =
    "cpu  4705 150 1120 16250 520 3 35 7 11 0\n"
    "cpu0 2400 75 560 8100 260 1 20 4 6 0\n"
    "cpu1 2305 75 560 8150 260 2 15 3 5 0\n"
    "intr 114930548 113199788 3 0 5 263 0 4\n"
    "ctxt 1990473\n"
    "cpu9 1 1 1 1 1 1 1 1 1 1\n"
    "btime 1700000000\n";

constexpr const char* kMeminfo =
    "MemTotal:       16318504 kB\n"
    "MemFree:         1203448 kB\n"
    "MemAvailable:    9876544 kB\n"
    "Buffers:          402184 kB\n"
    "Committed_AS:   12345678 kB\n"
    "HugePages_Total:       0\n";

constexpr const char* kDiskstats =
    "   7       0 loop0 55 0 2154 12 0 0 0 0 0 40 12 0 0 0 0 0 0\n"
    "   8       0 sda 123456 789 9876543 45678 65432 1234 5432109 98765 0 123456 144443 0 0 0 0 10 20\n"
    "   8       1 sda1 120000 700 9800000 45000 65000 1200 5400000 98000 0 120000 143000 0 0 0 0 0 0\n"
    " 259       0 nvme0n1 5000 10 400000 3000 7000 20 800000 6000 0 9000 9000 0 0 0 0 0 0\n";

constexpr const char* kNetDev =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo "
    "colls carrier compressed\n"
    "    lo: 1234567    8901    0    0    0     0          0         0  1234567    8901    0    0    0  "
    "   0       0          0\n"
    "  eth0:98765432  123456    1    2    0     0          0        12 87654321   65432    0    0    0  "
    "   0       0          0\n"
    "wlan0: 1000 10 0 0 0 0 0 0 2000 20 0 0 0 0 0 0\n";

// pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
// cutime cstime priority nice threads itrealvalue starttime vsize rss ...
constexpr const char* kProcessStat =
    "1234 (my (odd) name) S 1 1234 1234 0 -1 4194560 1500 0 3 0 250 75 9 8 20 0 4 0 98765 123456789 "
    "3456 18446744073709551615 1 1 0 0 0 0 0 0 0\n";

void expectCpu(const CpuTimes& t, unsigned long long total, unsigned long long idle, unsigned long long user,
               unsigned long long privileged) {
    EXPECT_EQ(t.total, total);
    EXPECT_EQ(t.idle, idle);
    EXPECT_EQ(t.user, user);
    EXPECT_EQ(t.privileged, privileged);
}

}  // namespace

TEST(ProcParsers, StatSumsTheStatesOfEachProcessor) {
    const auto cpus = parseStat(kStat, 2);
    ASSERT_EQ(cpus.size(), 3u);
    expectCpu(cpus[0], 22790, 16770, 4855, 1158);  // steal counts in the total, guest does not
    expectCpu(cpus[1], 11420, 8360, 2475, 581);
    expectCpu(cpus[2], 11370, 8410, 2380, 577);
    // Offline processors stay zero; processors beyond the count and lines after the
    // processors' block are ignored.
    const auto wide = parseStat(kStat, 10);
    ASSERT_EQ(wide.size(), 11u);
    expectCpu(wide[3], 0, 0, 0, 0);
    expectCpu(wide[10], 0, 0, 0, 0);
    const auto narrow = parseStat(kStat, 1);
    ASSERT_EQ(narrow.size(), 2u);
    expectCpu(narrow[1], 11420, 8360, 2475, 581);
    // A truncated line gives zeros for what it lacks.
    expectCpu(parseStat("cpu  10 20 30\n", 1)[0], 60, 0, 30, 30);
    expectCpu(parseStat("", 1)[0], 0, 0, 0, 0);
}

TEST(ProcParsers, MeminfoInBytes) {
    const MemoryTotals m = parseMeminfo(kMeminfo);
    EXPECT_EQ(m.available, 9876544LL * 1024);
    EXPECT_EQ(m.committed, 12345678LL * 1024);
    const MemoryTotals missing = parseMeminfo("MemTotal: 100 kB\nMemFree: 50 kB\n");
    EXPECT_EQ(missing.available, -1);
    EXPECT_EQ(missing.committed, -1);
}

TEST(ProcParsers, DiskstatsSectorsAndPhysicalTotal) {
    const TransferTable disks = parseDiskstats(kDiskstats, {"sda", "nvme0n1"});
    ASSERT_EQ(disks.size(), 5u);
    EXPECT_EQ(disks.at("sda").in, 9876543u);
    EXPECT_EQ(disks.at("sda").out, 5432109u);
    EXPECT_EQ(disks.at("sda1").in, 9800000u);
    EXPECT_EQ(disks.at("sda1").out, 5400000u);
    EXPECT_EQ(disks.at("loop0").in, 2154u);
    EXPECT_EQ(disks.at("loop0").out, 0u);
    // Partitions and loop devices are not added to the total a second time.
    EXPECT_EQ(disks.at("_Total").in, 9876543u + 400000u);
    EXPECT_EQ(disks.at("_Total").out, 5432109u + 800000u);
    EXPECT_EQ(parseDiskstats("", {}).at("_Total").in, 0u);
}

TEST(ProcParsers, NetDevBytesAndTotalWithoutLoopback) {
    const TransferTable nets = parseNetDev(kNetDev);
    ASSERT_EQ(nets.size(), 4u);  // the headings are not interfaces
    EXPECT_EQ(nets.at("lo").in, 1234567u);
    EXPECT_EQ(nets.at("lo").out, 1234567u);
    EXPECT_EQ(nets.at("eth0").in, 98765432u);  // no blank after the colon
    EXPECT_EQ(nets.at("eth0").out, 87654321u);
    EXPECT_EQ(nets.at("wlan0").in, 1000u);
    EXPECT_EQ(nets.at("wlan0").out, 2000u);
    EXPECT_EQ(nets.at("_Total").in, 98765432u + 1000u);
    EXPECT_EQ(nets.at("_Total").out, 87654321u + 2000u);
}

TEST(ProcParsers, ProcessStatAfterTheCommandName) {
    ProcessStat p;
    ASSERT_TRUE(parseProcessStat(kProcessStat, p));
    EXPECT_EQ(p.ticks, 325u);  // utime + stime, not the children's times
    EXPECT_EQ(p.rssPages, 3456);
    ASSERT_TRUE(parseProcessStat("7 (x) S 1 7", p));
    EXPECT_EQ(p.ticks, 0u);
    EXPECT_EQ(p.rssPages, 0);
    EXPECT_FALSE(parseProcessStat("7 x S 1 7", p));
    EXPECT_FALSE(parseProcessStat("7 )x( S", p));
}

TEST(CounterTable, ProcessInstancesNameAnOccurrence) {
    const struct {
        const char* instance;
        const char* name;
        int occurrence;
    } cases[] = {
        {"sshd", "sshd", 0}, {"sshd#2", "sshd", 2},         {"a#b", "a#b", 0}, {"a#1#3", "a#1", 3},
        {"x#", "x#", 0},     {"x#1234567", "x#1234567", 0},  // too long for an occurrence
    };
    for (const auto& c : cases) {
        CounterDef def;
        ASSERT_EQ(parseCounterPath(std::string("\\Process(") + c.instance + ")\\Working Set", def), 0)
            << c.instance;
        EXPECT_EQ(def.process.name, c.name) << c.instance;
        EXPECT_EQ(def.process.occurrence, c.occurrence) << c.instance;
    }
    CounterDef def;
    EXPECT_EQ(parseCounterPath("\\Process(#3)\\Working Set", def), OVLPdhQuery::kNoInstance);
}

namespace {

CounterSample sampleAt(double seconds) {
    CounterSample s;
    s.valid = true;
    s.seconds = seconds;
    return s;
}

double valueOf(const char* path, const CounterSample& previous, const CounterSample& current) {
    CounterDef def;
    EXPECT_EQ(parseCounterPath(path, def), 0) << path;
    double out = -1;
    EXPECT_EQ(counterValue(def, previous, current, out), 0) << path;
    return out;
}

long statusOf(const char* path, const CounterSample& previous, const CounterSample& current) {
    CounterDef def;
    EXPECT_EQ(parseCounterPath(path, def), 0) << path;
    double out = -1;
    return counterValue(def, previous, current, out);
}

}  // namespace

TEST(CounterTable, EachCounterReadsItsOwnField) {
    CounterSample before = sampleAt(10);
    CounterSample after = sampleAt(12);
    before.cpus = {{1000, 600, 300, 100}, {500, 300, 150, 50}};
    after.cpus = {{2000, 1250, 500, 250}, {1000, 500, 400, 100}};
    after.memory = {4096, 8192};
    after.processes = 123;
    before.disks = {{"_Total", {1000, 2000}}};
    after.disks = {{"_Total", {3000, 2500}}};
    before.nets = {{"_Total", {100, 300}}};
    after.nets = {{"_Total", {1100, 500}}};
    const ProcessKey key{"worker", 1};
    const long tick = ::sysconf(_SC_CLK_TCK);
    before.processSamples[key] = {42, {1000, 10}};
    after.processSamples[key] = {42, {1000 + static_cast<unsigned long long>(tick), 20}};
    after.processSamples[{"worker", 0}] = {41, {0, 99}};

    const std::pair<const char*, double> cases[] = {
        {"\\Processor(_Total)\\% Processor Time", 35},
        {"\\Processor(_Total)\\% User Time", 20},
        {"\\Processor(_Total)\\% Privileged Time", 15},
        {"\\Processor(_Total)\\% Idle Time", 65},
        {"\\Processor(0)\\% Processor Time", 60},
        {"\\Processor(0)\\% Idle Time", 40},
        {"\\Memory\\Available Bytes", 4096},
        {"\\Memory\\Committed Bytes", 8192},
        {"\\System\\Processes", 123},
        {"\\PhysicalDisk(_Total)\\Disk Read Bytes/sec", 2000 * 512 / 2},
        {"\\PhysicalDisk(_Total)\\Disk Write Bytes/sec", 500 * 512 / 2},
        {"\\Network Interface(_Total)\\Bytes Received/sec", 500},
        {"\\Network Interface(_Total)\\Bytes Sent/sec", 100},
        {"\\Network Interface(_Total)\\Bytes Total/sec", 600},
        {"\\Process(worker#1)\\% Processor Time", 50},  // one second of CPU in two
        {"\\Process(worker#1)\\Working Set", 20.0 * static_cast<double>(::sysconf(_SC_PAGESIZE))},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_DOUBLE_EQ(valueOf(path, before, after), expected) << path;
    }

    // Counters that went backwards (wrapped or reset) read 0.
    CounterSample reset = sampleAt(14);
    reset.nets = {{"_Total", {0, 0}}};
    EXPECT_EQ(valueOf("\\Network Interface(_Total)\\Bytes Total/sec", after, reset), 0);
}

TEST(CounterTable, MissingSamplesAndInstances) {
    const CounterSample none;
    CounterSample one = sampleAt(1);
    one.memory = {4096, -1};
    one.processSamples[{"worker", 0}] = {41, {5, 7}};
    // Rates need two samples; gauges and the working set do not.
    EXPECT_EQ(statusOf("\\Processor(_Total)\\% Processor Time", none, one), OVLPdhQuery::kInvalidData);
    EXPECT_EQ(statusOf("\\Process(worker)\\% Processor Time", none, one), OVLPdhQuery::kInvalidData);
    EXPECT_EQ(valueOf("\\Memory\\Available Bytes", none, one), 4096);
    EXPECT_EQ(valueOf("\\Process(worker)\\Working Set", none, one) > 0, true);
    EXPECT_EQ(statusOf("\\Memory\\Available Bytes", none, none), OVLPdhQuery::kInvalidData);
    // A value the file lacked.
    EXPECT_EQ(statusOf("\\Memory\\Committed Bytes", none, one), OVLPdhQuery::kInvalidData);
    EXPECT_EQ(statusOf("\\System\\Processes", none, one), OVLPdhQuery::kInvalidData);

    CounterSample two = sampleAt(2);
    two.processSamples[{"worker", 0}] = {43, {9, 7}};  // another process took the name
    EXPECT_EQ(statusOf("\\Process(worker)\\% Processor Time", one, two), OVLPdhQuery::kInvalidData);
    EXPECT_EQ(statusOf("\\Process(worker#1)\\Working Set", one, two), OVLPdhQuery::kNoInstance);
    EXPECT_EQ(statusOf("\\PhysicalDisk(_Total)\\Disk Read Bytes/sec", one, two), OVLPdhQuery::kNoInstance);
    EXPECT_EQ(statusOf("\\Processor(0)\\% Idle Time", one, two), OVLPdhQuery::kNoInstance);
}
