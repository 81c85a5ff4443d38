// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include "OVLCommon/SysCall.h"
#include "OVLCore/OVLPdhQuery.h"

using namespace OVL;
using Clock = std::chrono::steady_clock;

namespace {

std::string ownName() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::map<std::string, int> g_opened;

struct OpenCounter : sys::ScopedCalls {
    OpenCounter() {
        g_opened.clear();
        sys::calls().open = [](const char* path, int flags, mode_t mode) {
            ++g_opened[path];
            return sys::defaultCalls().open(path, flags, mode);
        };
    }
};

double valueOf(OVLPdhQuery& q, const OVLPdhCounter& c) {
    double v = -1;
    EXPECT_EQ(q.getValue(c, v), 0) << c.getPath();
    return v;
}

}  // namespace

TEST(PdhQuery, OpenTwiceAndCloseKeepTheLastStatus) {
    OVLPdhQuery q;
    EXPECT_FALSE(q.isOpen());
    EXPECT_FALSE(q.isError());
    EXPECT_EQ(q.getLastErrorMsg(), "");
    EXPECT_EQ(q.open(), 0);
    EXPECT_EQ(q.open(), 0);
    EXPECT_TRUE(q.isOpen());
    OVLPdhCounter bad("\\No Such Object\\Counter");
    EXPECT_EQ(q.addCounter(bad), OVLPdhQuery::kNoObject);
    q.close();
    q.close();
    EXPECT_FALSE(q.isOpen());
    EXPECT_TRUE(q.isError());
    EXPECT_EQ(q.getStatus(), OVLPdhQuery::kNoObject);
    // A closed query refuses counters and collections.
    OVLPdhCounter mem("\\Memory\\Available Bytes");
    EXPECT_EQ(q.addCounter(mem), OVLPdhQuery::kInvalidHandle);
    EXPECT_EQ(q.collectData(0), OVLPdhQuery::kInvalidHandle);
}

TEST(PdhQuery, UnknownOrMalformedPathsAreRefused) {
    const std::pair<const char*, long> cases[] = {
        {"\\Nope\\Counter", OVLPdhQuery::kNoObject},
        {"\\Memory\\Nope", OVLPdhQuery::kNoCounter},
        {"\\Processor(_Total)\\Bytes", OVLPdhQuery::kNoCounter},
        {"Memory\\Available Bytes", OVLPdhQuery::kBadCounterName},
        {"\\Memory", OVLPdhQuery::kBadCounterName},
        {"\\Memory\\", OVLPdhQuery::kBadCounterName},
        {"\\Processor(\\% Processor Time", OVLPdhQuery::kBadCounterName},
        {"\\Processor()\\% Processor Time", OVLPdhQuery::kBadCounterName},
        {"\\Memory\\Available Bytes\\x", OVLPdhQuery::kBadCounterName},
        {"", OVLPdhQuery::kBadCounterName},
        {"\\Processor\\% Processor Time", OVLPdhQuery::kNoInstance},
        {"\\Processor(99999)\\% Processor Time", OVLPdhQuery::kNoInstance},
        {"\\Processor(x)\\% Processor Time", OVLPdhQuery::kNoInstance},
        {"\\Memory(1)\\Available Bytes", OVLPdhQuery::kNoInstance},
        {"\\PhysicalDisk(nosuchdisk)\\Disk Read Bytes/sec", OVLPdhQuery::kNoInstance},
        {"\\PhysicalDisk(../block)\\Disk Read Bytes/sec", OVLPdhQuery::kNoInstance},
        {"\\Network Interface(nosuchif0)\\Bytes Sent/sec", OVLPdhQuery::kNoInstance},
    };
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    for (const auto& [path, status] : cases) {
        OVLPdhCounter c(path);
        EXPECT_EQ(q.addCounter(c), status) << path;
        EXPECT_TRUE(q.isError());
        EXPECT_EQ(c.getHandle(), 0u);
        EXPECT_FALSE(q.getLastErrorMsg().empty());
    }
    // A success clears the error but keeps the message.
    const std::string message = q.getLastErrorMsg();
    OVLPdhCounter good("\\memory\\AVAILABLE BYTES");
    EXPECT_EQ(q.addCounter(good), 0);
    EXPECT_FALSE(q.isError());
    EXPECT_EQ(q.getLastErrorMsg(), message);
}

TEST(PdhQuery, AddingAnArrayStopsAtTheFirstFailure) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    OVLPdhCounter counters[3] = {OVLPdhCounter("\\Memory\\Available Bytes"), OVLPdhCounter("\\Memory\\Bogus"),
                                 OVLPdhCounter("\\System\\Processes")};
    EXPECT_EQ(q.addCounter(counters, 3), OVLPdhQuery::kNoCounter);
    EXPECT_NE(counters[0].getHandle(), 0u);
    EXPECT_EQ(counters[1].getHandle(), 0u);
    EXPECT_EQ(counters[2].getHandle(), 0u);
    EXPECT_EQ(q.addCounter(counters, 0), 0);
    EXPECT_EQ(q.addCounter(nullptr, 2), OVLPdhQuery::kInvalidArgument);
    EXPECT_EQ(q.collectData(0), 0);
    EXPECT_GT(valueOf(q, counters[0]), 0);
}

TEST(PdhQuery, CollectionTimingAndRatesNeedTwoSamples) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    auto start = Clock::now();
    EXPECT_EQ(q.collectData(1000), OVLPdhQuery::kNoData);  // no counters: fails at once
    EXPECT_LT(millisSince(start), 500);

    OVLPdhCounter cpu("\\Processor(_Total)\\% Processor Time");
    OVLPdhCounter cpu0("\\Processor(0)\\% Processor Time");
    ASSERT_EQ(q.addCounter(cpu), 0);
    ASSERT_EQ(q.addCounter(cpu0), 0);
    double v = -1;
    EXPECT_EQ(q.getValue(cpu, v), OVLPdhQuery::kInvalidData);  // nothing collected
    EXPECT_EQ(q.collectData(0), 0);
    EXPECT_EQ(q.getValue(cpu, v), OVLPdhQuery::kInvalidData);  // one sample
    EXPECT_EQ(v, -1);
    start = Clock::now();
    EXPECT_EQ(q.collectData(300), 0);
    EXPECT_GE(millisSince(start), 300);
    for (const auto* c : {&cpu, &cpu0}) {
        const double percent = valueOf(q, *c);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
}

TEST(PdhQuery, CountersReadSensibleValues) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    const std::string self = "\\Process(" + ownName() + ")";
    OVLPdhCounter counters[] = {
        OVLPdhCounter("\\Memory\\Available Bytes"),
        OVLPdhCounter("\\Memory\\Committed Bytes"),
        OVLPdhCounter("\\System\\Processes"),
        OVLPdhCounter("\\PhysicalDisk(_Total)\\Disk Read Bytes/sec"),
        OVLPdhCounter("\\PhysicalDisk(_Total)\\Disk Write Bytes/sec"),
        OVLPdhCounter("\\Network Interface(_Total)\\Bytes Received/sec"),
        OVLPdhCounter("\\Network Interface(_Total)\\Bytes Sent/sec"),
        OVLPdhCounter("\\Network Interface(lo)\\Bytes Total/sec"),
        OVLPdhCounter(self + "\\% Processor Time"),
        OVLPdhCounter(self + "\\Working Set"),
        OVLPdhCounter("\\Process(no-such-process-name)\\Working Set"),
    };
    ASSERT_EQ(q.addCounter(counters, 11), 0);
    // The process's CPU time and the wall time between the two samples, measured here too: on a
    // busy machine the process gets only its share of the processors, so the counter is compared
    // with that share rather than with a fixed figure.
    const auto cpuSeconds = [] {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    };
    const auto wallStart = Clock::now();
    const double cpuStart = cpuSeconds();
    ASSERT_EQ(q.collectData(0), 0);
    // Burn 200 ms of CPU between the samples so the process's share is visible.
    volatile unsigned long spin = 0;
    while (cpuSeconds() - cpuStart < 0.2) {
        spin = spin + 1;
    }
    ASSERT_EQ(q.collectData(0), 0);
    const double share =
        100.0 * (cpuSeconds() - cpuStart) / std::chrono::duration<double>(Clock::now() - wallStart).count();

    const long pages = ::sysconf(_SC_PHYS_PAGES) * ::sysconf(_SC_PAGESIZE);
    EXPECT_GT(valueOf(q, counters[0]), 0);
    EXPECT_LE(valueOf(q, counters[0]), pages);
    EXPECT_GT(valueOf(q, counters[1]), 0);
    EXPECT_GT(valueOf(q, counters[2]), 1);
    for (int i = 3; i <= 7; ++i) {
        EXPECT_GE(valueOf(q, counters[i]), 0) << counters[i].getPath();
    }
    // Clock ticks of 10 ms over at least 200 ms: within a few per cent of the share measured here.
    EXPECT_GT(valueOf(q, counters[8]), share / 2) << "share measured by the test: " << share;
    EXPECT_LE(valueOf(q, counters[8]), std::min(150.0, share * 1.5 + 10)) << "share: " << share;
    EXPECT_GT(valueOf(q, counters[9]), 1 << 20);
    double v;
    EXPECT_EQ(q.getValue(counters[10], v), OVLPdhQuery::kNoInstance);
    EXPECT_TRUE(q.isError());
}

TEST(PdhQuery, EachSourceIsReadOncePerCollection) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    const char* paths[] = {
        "\\Processor(_Total)\\% Processor Time",
        "\\Processor(0)\\% Processor Time",
        "\\Processor(_Total)\\% User Time",
        "\\Memory\\Available Bytes",
        "\\Memory\\Committed Bytes",
        "\\PhysicalDisk(_Total)\\Disk Read Bytes/sec",
        "\\PhysicalDisk(_Total)\\Disk Write Bytes/sec",
        "\\Network Interface(_Total)\\Bytes Received/sec",
        "\\Network Interface(_Total)\\Bytes Sent/sec",
        "\\System\\Processes",
    };
    std::vector<OVLPdhCounter> counters;
    for (const char* p : paths) {
        counters.emplace_back(p);
    }
    ASSERT_EQ(q.addCounter(counters.data(), static_cast<int>(counters.size())), 0);
    OpenCounter opens;
    ASSERT_EQ(q.collectData(0), 0);
    EXPECT_EQ(g_opened["/proc/stat"], 1);
    EXPECT_EQ(g_opened["/proc/meminfo"], 1);
    EXPECT_EQ(g_opened["/proc/diskstats"], 1);
    EXPECT_EQ(g_opened["/proc/net/dev"], 1);
    EXPECT_EQ(g_opened.size(), 4u);
}

TEST(PdhQuery, UnreadableSourceIsReported) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    OVLPdhCounter mem("\\Memory\\Available Bytes");
    ASSERT_EQ(q.addCounter(mem), 0);
    {
        sys::ScopedCalls guard;
        sys::calls().open = [](const char*, int, mode_t) { return errno = EACCES, -1; };
        EXPECT_EQ(q.collectData(1000), OVLPdhQuery::kReadFailed);
        EXPECT_EQ(q.getLastErrorMsg().find(std::generic_category().message(EACCES)) != std::string::npos,
                  true)
            << q.getLastErrorMsg();
    }
    double v;
    EXPECT_EQ(q.getValue(mem, v), OVLPdhQuery::kInvalidData);
}

TEST(PdhQuery, RemovedCountersAreGone) {
    OVLPdhQuery q;
    ASSERT_EQ(q.open(), 0);
    OVLPdhCounter mem("\\Memory\\Available Bytes");
    OVLPdhCounter never("\\Memory\\Committed Bytes");
    ASSERT_EQ(q.addCounter(mem), 0);
    EXPECT_EQ(q.removeCounter(mem), 0);
    EXPECT_EQ(q.removeCounter(mem), OVLPdhQuery::kInvalidHandle);
    EXPECT_EQ(q.removeCounter(never), OVLPdhQuery::kInvalidHandle);
    double v;
    EXPECT_EQ(q.getValue(mem, v), OVLPdhQuery::kInvalidHandle);
    EXPECT_EQ(q.collectData(0), OVLPdhQuery::kNoData);
}

TEST(PdhQuery, CopiesShareTheQueryAndTheLastClosesIt) {
    OVLPdhCounter mem("\\Memory\\Available Bytes");
    OVLPdhQuery original;
    ASSERT_EQ(original.open(), 0);
    ASSERT_EQ(original.addCounter(mem), 0);
    {
        OVLPdhQuery copy(original);
        EXPECT_TRUE(copy.isOpen());
        ASSERT_EQ(copy.collectData(0), 0);
        OVLPdhQuery assigned;
        assigned = copy;
        EXPECT_GT(valueOf(assigned, mem), 0);
    }
    // The copies' destruction left the query and its counter in place.
    EXPECT_GT(valueOf(original, mem), 0);
    ASSERT_EQ(original.collectData(0), 0);
    original.close();
    double v;
    EXPECT_EQ(original.getValue(mem, v), OVLPdhQuery::kInvalidHandle);
}
