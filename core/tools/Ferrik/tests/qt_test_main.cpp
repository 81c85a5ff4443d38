// The one QApplication of a widget test program, alive for every test of the run.
#include <gtest/gtest.h>

#include <QApplication>

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

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
