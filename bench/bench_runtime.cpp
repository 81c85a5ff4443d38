// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// OVLCore runtime next to the bare system calls or standard classes it replaces, in one run:
//  - the log file writer engine per record against open+write+close of the same bytes;
//  - addMessage+flush of 100,000 messages against 100,000 bare records;
//  - OVLSpinLock against std::mutex, uncontended and with two threads on one counter;
//  - mapping, writing and syncing 64 MiB against mmap+memset+msync;
//  - one collectData of ten counters against reading their /proc files.
// The file benchmarks write under the current directory (run it on a real disk, not tmpfs).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <boost/intrusive_ptr.hpp>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../core/src/OVLCore/OVLFileWriterEngine.h"
#include "OVLCore/OVLLogMessage.h"
#include "OVLCore/OVLLogSystem.h"
#include "OVLCore/OVLMemoryMappedFile.h"
#include "OVLCore/OVLPdhQuery.h"
#include "OVLCore/OVLSpinLock.h"

namespace {

const std::string kText = "type: 1, Agent (agent.cpp:120) : connection 17 accepted from 10.0.0.12 in 3 ms";

std::string scratch(const char* name) {
    return std::string("bench-runtime-") + name;
}

// --- log records ----------------------------------------------------------------------------

void BM_FileWriterEngine_Record(benchmark::State& state) {
    const std::string file = scratch("engine.log");
    boost::intrusive_ptr<OVL::OVLFileWriterEngine> engine(new OVL::OVLFileWriterEngine);
    engine->open(file, 0);
    for (auto _ : state) {
        engine->writeMessage(kText);
    }
    ::unlink(file.c_str());
}
BENCHMARK(BM_FileWriterEngine_Record);

// The floor: the same 25 + text + 1 bytes, already formatted, with one open, write and close.
void BM_Bare_OpenWriteClose_Record(benchmark::State& state) {
    const std::string file = scratch("bare.log");
    std::string record = "Mon Dec  7 23:14:05 2026 " + kText + "\n";
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        benchmark::DoNotOptimize(::write(fd, record.data(), record.size()));
        ::close(fd);
    }
    ::unlink(file.c_str());
}
BENCHMARK(BM_Bare_OpenWriteClose_Record);

void BM_LogSystem_AddMessageFlush_100k(benchmark::State& state) {
    const std::string file = scratch("system.log");
    boost::intrusive_ptr<OVL::OVLLogSystem> sys(new OVL::OVLLogSystem(OVL::OVLLogSystem::LOG_ON, file));
    const OVL::OVLLogMessage msg("agent.cpp", 120, "Agent", "connection 17 accepted from 10.0.0.12 in 3 ms",
                                 OVL::OVLLogSystem::MSG_WARNING);
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i) {
            sys->addMessage(msg);
        }
        sys->flush();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
    ::unlink(file.c_str());
}
BENCHMARK(BM_LogSystem_AddMessageFlush_100k)->Unit(benchmark::kMillisecond);

void BM_Bare_OpenWriteClose_100k(benchmark::State& state) {
    const std::string file = scratch("bare100k.log");
    std::string record = "Mon Dec  7 23:14:05 2026 " + kText + "\n";
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i) {
            const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            benchmark::DoNotOptimize(::write(fd, record.data(), record.size()));
            ::close(fd);
        }
    }
    state.SetItemsProcessed(state.iterations() * 100000);
    ::unlink(file.c_str());
}
BENCHMARK(BM_Bare_OpenWriteClose_100k)->Unit(benchmark::kMillisecond);

// --- spin lock ------------------------------------------------------------------------------

template <typename Lock>
void BM_Uncontended(benchmark::State& state) {
    Lock lock;
    long counter = 0;
    for (auto _ : state) {
        lock.lock();
        benchmark::DoNotOptimize(++counter);
        lock.unlock();
    }
}
BENCHMARK_TEMPLATE(BM_Uncontended, OVL::OVLSpinLock);
BENCHMARK_TEMPLATE(BM_Uncontended, std::mutex);

// Two threads add one a million times each to one counter; the counter must end at 2,000,000.
template <typename Lock>
void BM_TwoThreadsCounter(benchmark::State& state) {
    for (auto _ : state) {
        Lock lock;
        long counter = 0;
        auto work = [&] {
            for (int i = 0; i < 1000000; ++i) {
                lock.lock();
                ++counter;
                lock.unlock();
            }
        };
        std::thread a(work), b(work);
        a.join();
        b.join();
        if (counter != 2000000) {
            state.SkipWithError("counter is not exact");
        }
    }
}
BENCHMARK_TEMPLATE(BM_TwoThreadsCounter, OVL::OVLSpinLock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_TwoThreadsCounter, std::mutex)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- mapped files ---------------------------------------------------------------------------

constexpr unsigned kMapBytes = 64u << 20;

void BM_MemoryMappedFile_MapWriteSync64M(benchmark::State& state) {
    const std::string file = scratch("mapped.dat");
    int fill = 0;
    for (auto _ : state) {
        OVL::OVLMemoryMappedFile m;
        void* view = m.map(file, kMapBytes);
        if (view == nullptr) {
            state.SkipWithError("map failed");
            break;
        }
        std::memset(view, ++fill, kMapBytes);
        m.syncMemory();
        m.unmap();
    }
    state.SetBytesProcessed(state.iterations() * kMapBytes);
    ::unlink(file.c_str());
}
BENCHMARK(BM_MemoryMappedFile_MapWriteSync64M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Plain_MmapMemsetMsync64M(benchmark::State& state) {
    const std::string file = scratch("plain.dat");
    int fill = 0;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, kMapBytes) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        void* view = ::mmap(nullptr, kMapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        std::memset(view, ++fill, kMapBytes);
        ::msync(view, kMapBytes, MS_SYNC);
        ::munmap(view, kMapBytes);
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * kMapBytes);
    ::unlink(file.c_str());
}
BENCHMARK(BM_Plain_MmapMemsetMsync64M)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- counters -------------------------------------------------------------------------------

const char* const kCounterPaths[] = {
    "\\Processor(_Total)\\% Processor Time",
    "\\Processor(0)\\% Processor Time",
    "\\Memory\\Available Bytes",
    "\\Memory\\Committed Bytes",
    "\\PhysicalDisk(_Total)\\Disk Read Bytes/sec",
    "\\PhysicalDisk(_Total)\\Disk Write Bytes/sec",
    "\\Network Interface(_Total)\\Bytes Received/sec",
    "\\Network Interface(_Total)\\Bytes Sent/sec",
    "\\System\\Processes",
    "\\Processor(_Total)\\% User Time",
};

void BM_PdhQuery_CollectTenCounters(benchmark::State& state) {
    OVL::OVLPdhQuery query;
    query.open();
    std::vector<OVL::OVLPdhCounter> counters(std::begin(kCounterPaths), std::end(kCounterPaths));
    if (query.addCounter(counters.data(), static_cast<int>(counters.size())) != 0) {
        state.SkipWithError("addCounter failed");
        return;
    }
    double value = 0;
    for (auto _ : state) {
        query.collectData(0);
        for (const auto& c : counters) {
            query.getValue(c, value);
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_PdhQuery_CollectTenCounters)->Unit(benchmark::kMicrosecond);

// The floor: reading the four files those counters come from and counting the processes in /proc.
void BM_Bare_ReadProcFiles(benchmark::State& state) {
    const char* files[] = {"/proc/stat", "/proc/meminfo", "/proc/diskstats", "/proc/net/dev"};
    char buffer[65536];
    for (auto _ : state) {
        for (const char* f : files) {
            const int fd = ::open(f, O_RDONLY | O_CLOEXEC);
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
        int processes = 0;
        if (DIR* dir = ::opendir("/proc")) {
            while (const dirent* e = ::readdir(dir)) {
                processes += e->d_name[0] >= '0' && e->d_name[0] <= '9';
            }
            ::closedir(dir);
        }
        benchmark::DoNotOptimize(processes);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_Bare_ReadProcFiles)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
