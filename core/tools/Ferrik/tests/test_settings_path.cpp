// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
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

// An installed program never keeps its file beside itself, even when it could write there (run
// by root, /usr/bin is writable): a system directory is never the place for one user's settings.
TEST(SettingsPath, AProgramInASystemDirectorySavesPerUserEvenWhereItCouldWrite) {
    ferrik_test::TempDir dir;
    const auto prefix = dir.path() / "prefix";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directory_symlink(prefix / "bin", dir.path() / "link");
    const QStringList prefixes = {path(prefix)};
    const QString perUser = path(dir.path() / "user" / "ferrik.xml");

    // Writable, but inside the prefix: by its own path or through a link into it.
    for (const auto& program : {prefix / "bin", dir.path() / "link"}) {
        const ferrik::SettingsPaths paths =
            ferrik::chooseSettingsPaths(path(program), path(dir.path() / "user"), prefixes);
        EXPECT_EQ(paths.save, perUser) << program;
        EXPECT_EQ(paths.load, path(program / "ferrik.xml")) << "the package's file is the starting point";
        EXPECT_TRUE(std::filesystem::is_empty(prefix / "bin")) << "not even probed";
    }
    // The same directory outside every prefix is a build tree or an unpacked copy.
    EXPECT_EQ(
        ferrik::chooseSettingsPaths(path(prefix / "bin"), path(dir.path() / "user"), {"/usr", "/opt"}).save,
        path(prefix / "bin" / "ferrik.xml"));

    // The real one, with the real list of prefixes, whoever runs the test.
    const ferrik::SettingsPaths installed =
        ferrik::chooseSettingsPaths("/usr/bin", path(dir.path() / "home"));
    EXPECT_EQ(installed.save, path(dir.path() / "home" / "ferrik.xml"));

    const QStringList system = ferrik::systemPrefixes();
    const struct {
        const char* dir;
        bool system;
    } cases[] = {
        {"/usr", true},
        {"/usr/bin", true},
        {"/usr/local/bin", true},
        {"/usr/../opt/x/bin", true},
        {"/opt/ferrik/bin", true},
        {"/bin", true},
        {"/snap/ferrik/1/bin", true},
        {"/nix/store/abc-ferrik/bin", true},
        {"/usrx/bin", false},
        {"/optional", false},
        {"/home/u/ferrik/build/bin", false},
        {"/tmp/ferrik/bin", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ferrik::isInSystemPrefix(c.dir, system), c.system) << c.dir;
    }
}

}  // namespace
