// Choice of the settings path: beside the program when that directory can be written, else in
// the per-user configuration directory. The unwritable case runs in an unprivileged child, since
// the tests may run as root, for whom permission bits do not stop a write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "SettingsLocation.h"
#include "test_utils.h"

namespace {

QString path(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

void touch(const std::filesystem::path& p) {
    QFile file(path(p));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<config/>");
}

TEST(SettingsPath, BesideTheProgramWhenItsDirectoryIsWritable) {
    ferrik_test::TempDir dir;
    const ferrik::SettingsPaths paths =
        ferrik::chooseSettingsPaths(path(dir.path()), path(dir.path() / "user"));
    EXPECT_EQ(paths.load, path(dir.path() / "ferrik.xml"));
    EXPECT_EQ(paths.save, paths.load);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "user"));
    // The probe leaves nothing behind.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SettingsPath, InTheUserDirectoryWhenTheProgramDirectoryIsMissing) {
    ferrik_test::TempDir dir;
    const ferrik::SettingsPaths paths =
        ferrik::chooseSettingsPaths(path(dir.path() / "gone"), path(dir.path() / "user" / "cfg"));
    EXPECT_EQ(paths.save, path(dir.path() / "user" / "cfg" / "ferrik.xml"));
    EXPECT_EQ(paths.load, path(dir.path() / "gone" / "ferrik.xml"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "user" / "cfg"));
}

// In a child running as an unprivileged user: 0 when the paths are as expected.
int chooseAsUnprivileged(const std::filesystem::path& program, const std::filesystem::path& user,
                         const QString& expectedLoad, const QString& expectedSave) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        const ferrik::SettingsPaths paths = ferrik::chooseSettingsPaths(path(program), path(user));
        ::_exit(paths.load == expectedLoad && paths.save == expectedSave ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SettingsPath, AnInstalledProgramStartsFromItsFileAndSavesPerUser) {
    ferrik_test::TempDir dir;
    const auto program = dir.path() / "bin";
    const auto user = dir.path() / "home";
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(user);
    touch(program / "ferrik.xml");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(program.c_str(), 0555);
    ::chmod(user.c_str(), 0777);

    // No per-user file yet: read the program's one, save per user.
    EXPECT_EQ(chooseAsUnprivileged(program, user / "cfg", path(program / "ferrik.xml"),
                                   path(user / "cfg" / "ferrik.xml")),
              0);
    // Once the per-user file exists it is the one read.
    touch(user / "cfg" / "ferrik.xml");
    EXPECT_EQ(chooseAsUnprivileged(program, user / "cfg", path(user / "cfg" / "ferrik.xml"),
                                   path(user / "cfg" / "ferrik.xml")),
              0);
    ::chmod(program.c_str(), 0755);
}

}  // namespace
