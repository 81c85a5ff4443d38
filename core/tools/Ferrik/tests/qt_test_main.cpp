// The one QApplication of a widget test program, alive for every test of the run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "FerrikDlg.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    // Windows of the tests keep their settings in a directory of this run, not beside the test
    // program, so that no test sees what another one (or an earlier run) remembered. Tests that
    // look at the settings file point each window at a directory of their own.
    void SetUp() override {
        app = new QApplication(argc, argv);
        settingsDir = new QTemporaryDir;
        FerrikDlg::setSettingsDirectories(settingsDir->path(), settingsDir->path());
    }
    void TearDown() override {
        FerrikDlg::setSettingsDirectories(QString(), QString());
        delete settingsDir;
        settingsDir = nullptr;
        delete app;
        app = nullptr;
    }

private:
    int argc = 1;
    char name[16] = "ferrik_tests";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
    QTemporaryDir* settingsDir = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
