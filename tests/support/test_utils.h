// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Helpers shared by the test suites.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "OVLCommon/Logger.h"

namespace ferrik_test {

// Captures the lines of OVL::Log for its lifetime.
class LogCapture {
public:
    LogCapture() {
        m_previous = OVL::Log.setSink([this](int level, std::string_view text) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.emplace_back(text);
            m_levels.push_back(level);
        });
    }
    ~LogCapture() { OVL::Log.setSink(std::move(m_previous)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::vector<int> levels() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_levels;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
        m_levels.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<int> m_levels;
    OVL::Logger::Sink m_previous;
};

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferrik-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace ferrik_test
