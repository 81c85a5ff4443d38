// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The process-wide file writer registry, reached from this test and from the log system's code:
// one registry, so the engine a log system opened is the one the test finds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "OVLCore/OVLLogSystem.h"
#include "OVLFileWriterRegistry.h"
#include "test_utils.h"

using namespace OVL;

TEST(FileWriterRegistry, LogSystemsAndTheProcessShareOneRegistry) {
    ferrik_test::TempDir tmp;
    const std::filesystem::path dir = tmp.path() / "logs";
    std::filesystem::create_directory(dir);
    const std::string name = (dir / "shared.log").string();
    auto& registry = OVLFileWriterRegistry::instance();
    {
        OVLLogSystem system(OVLLogSystem::LOG_ON, name, 0);
        // With the directory gone the file cannot be opened again: only an engine the registry
        // already holds, the log system's, can be handed out.
        std::filesystem::remove_all(dir);
        EXPECT_NE(registry.getEngine(name, 0), nullptr);
    }
    // The log system's end dropped the registry's engine too.
    EXPECT_EQ(registry.getEngine(name, 0), nullptr);
}
