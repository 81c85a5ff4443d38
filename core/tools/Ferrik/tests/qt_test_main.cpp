// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// main() of the widget test programs: the one QApplication, alive for every test of the run, and
// a fresh settings directory per test. FERRIK_TEST_TURN_BUDGET_MS sets the panes' appending budget
// per event-loop turn for the run: 0 makes every append wait for a later turn, as on a machine too
// slow for any budget, so that a test which reads a pane without waiting for it fails everywhere.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

#include "FerrikDlg.h"
#include "FerrikPacketHistory.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app = new QApplication(argc, argv); }
    void TearDown() override {
        delete app;
        app = nullptr;
    }

private:
    int argc = 1;
    char name[16] = "ferrik_tests";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
};

// Every test starts without a settings file: the windows of one test keep their settings in a
// directory of that test, never beside the test program, so no test sees what another one (or an
// earlier run) remembered. Tests about the settings file may point the window elsewhere.
class FreshSettingsPerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        dir = std::make_unique<QTemporaryDir>();
        FerrikDlg::setSettingsDirectories(dir->path(), dir->path());
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        FerrikDlg::setSettingsDirectories(QString(), QString());
        dir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, before any thread starts
    if (const char* budget = std::getenv("FERRIK_TEST_TURN_BUDGET_MS")) {
        FerrikPacketHistory::setDefaultTurnBudget(std::atoi(budget));
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsPerTest);
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);
    return RUN_ALL_TESTS();
}
