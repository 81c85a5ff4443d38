// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "OVLCommon/Logger.h"
#include "test_utils.h"

using ferrik_test::LogCapture;
using ferrik_test::TempDir;

TEST(Logger, BothFormsRecordOneLineWithTheirLevel) {
    LogCapture capture;
    OVL::Log.put(OVL::Logger::kError, "value %d of %s", 7, "x");
    OVL::Log.put("plain %s", "line");
    ASSERT_EQ(capture.lines(), (std::vector<std::string>{"value 7 of x", "plain line"}));
    EXPECT_EQ(capture.levels(), (std::vector<int>{OVL::Logger::kError, OVL::Logger::kDefaultLevel}));
}

TEST(Logger, ThresholdDropsMoreDetailedLines) {
    LogCapture capture;
    const int old = OVL::Log.threshold();
    OVL::Log.setThreshold(OVL::Logger::kError);
    OVL::Log.put(OVL::Logger::kWarning, "dropped");
    OVL::Log.put(OVL::Logger::kError, "kept");
    OVL::Log.setThreshold(old);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"kept"});
}

TEST(Logger, HostileArgumentsNeverThrow) {
    LogCapture capture;
    const char* volatile nullFormat = nullptr;
    EXPECT_NO_THROW(OVL::Log.put(OVL::Logger::kError, nullFormat, 1));
    std::string huge(100000, 'a');
    EXPECT_NO_THROW(OVL::Log.put(OVL::Logger::kError, "%s", huge.c_str()));
    // A sink that throws loses its line but the caller never sees the exception.
    OVL::Logger::Sink old = OVL::Log.setSink([](int, std::string_view) { throw std::runtime_error("sink"); });
    EXPECT_NO_THROW(OVL::Log.put(OVL::Logger::kError, "into a throwing sink"));
    OVL::Log.setSink(std::move(old));
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "(null format)");
    EXPECT_EQ(lines[1].size(), 4095u);  // cut to the line buffer
}

TEST(Logger, LoggingKeepsTheCallersErrno) {
    LogCapture capture;
    errno = ENOENT;
    OVL::Log.put(OVL::Logger::kError, "x");
    EXPECT_EQ(errno, ENOENT);
}

TEST(Logger, FileDestinationGetsTimeStampedLines) {
    TempDir dir;
    const std::string path = dir.file("diag.log");
    OVL::Logger::Sink saved = OVL::Log.setSink(nullptr);
    ASSERT_TRUE(OVL::Log.setFile(path));
    OVL::Log.put(OVL::Logger::kError, "first");
    OVL::Log.put("second %d", 2);
    EXPECT_FALSE(OVL::Log.setFile(dir.file("missing/dir/x.log")));  // keeps the file destination
    OVL::Log.put(OVL::Logger::kError, "third");
    OVL::Log.setSink(std::move(saved));

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[L(\d)\] (.*)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, stamp)) << lines[1];
    EXPECT_EQ(m[2], "second 2");
    EXPECT_EQ(m[1], std::to_string(OVL::Logger::kDefaultLevel));
}

TEST(Logger, ConcurrentLinesNeverInterleave) {
    LogCapture capture;
    constexpr int kThreads = 4, kLines = 500;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                OVL::Log.put(OVL::Logger::kError, "thread %d line %d end", t, i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape(R"(thread \d line \d+ end)");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
}
