// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Loading and the atomic replacement of files by OVLMessage::save().

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "OVLCommon/SysCall.h"
#include "OVLMessage/OVLMessage.h"
#include "test_utils.h"

using OVL::OVLMessage;
using OVL::OVLMessagePtr;

namespace {

OVLMessagePtr newMessage() {
    return OVLMessage::getFactory()->createNew();
}

OVLMessagePtr withValue(const std::string& value) {
    OVLMessagePtr msg = newMessage();
    msg->setRootName("config");
    msg->getIterator().writeText("value", value);
    return msg;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

int entries(const ferrik_test::TempDir& dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) {
        ++n;
    }
    return n;
}

// Replaces the file system calls for one scope; each hook fails with its errno when set.
struct FailingCalls : OVL::sys::ScopedCalls {
    static inline int openErr = 0, writeErr = 0, fsyncErr = 0, closeErr = 0, renameErr = 0, readErr = 0;
    static inline long writeBudget = -1;  // bytes that may be written before writes fail

    FailingCalls() {
        openErr = writeErr = fsyncErr = closeErr = renameErr = readErr = 0;
        writeBudget = -1;
        using OVL::sys::defaultCalls;
        OVL::sys::Calls& calls = OVL::sys::calls();
        calls.open = [](const char* p, int f, mode_t m) {
            if (openErr) {
                return errno = openErr, -1;
            }
            return defaultCalls().open(p, f, m);
        };
        calls.read = [](int fd, void* d, size_t n) -> ssize_t {
            if (readErr) {
                return errno = readErr, -1;
            }
            return defaultCalls().read(fd, d, n);
        };
        calls.write = [](int fd, const void* d, size_t n) -> ssize_t {
            if (writeErr && writeBudget >= 0 && static_cast<long>(n) > writeBudget) {
                if (writeBudget == 0) {
                    return errno = writeErr, -1;
                }
                n = static_cast<size_t>(writeBudget);  // a short write, then the failure
            }
            const ssize_t w = defaultCalls().write(fd, d, n);
            if (w > 0 && writeBudget >= 0) {
                writeBudget -= w;
            }
            return w;
        };
        calls.fsync = [](int fd) {
            if (fsyncErr) {
                return errno = fsyncErr, -1;
            }
            return defaultCalls().fsync(fd);
        };
        calls.close = [](int fd) {
            const int r = defaultCalls().close(fd);
            if (closeErr) {
                return errno = closeErr, -1;
            }
            return r;
        };
        calls.rename = [](const char* a, const char* b) {
            if (renameErr) {
                return errno = renameErr, -1;
            }
            return defaultCalls().rename(a, b);
        };
    }
};

}  // namespace

TEST(Save, WritesADeclaredIndentedFileThatLoadsBack) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("ferrik.xml");
    ASSERT_EQ(withValue("caf\xC3\xA9")->save(path.c_str()), 0);
    EXPECT_EQ(
        slurp(path),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <value>caf\xC3\xA9</value>\n</config>\n");
    OVLMessagePtr back = newMessage();
    ASSERT_EQ(back->load(path.c_str()), 0);
    std::string v;
    back->getIterator().readText("value", v);
    EXPECT_EQ(v, "caf\xC3\xA9");
    EXPECT_EQ(entries(dir), 1);
}

TEST(Save, ReplacesTheFileAndKeepsItsMode) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f.xml");
    spit(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(withValue("new")->save(path.c_str()), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(slurp(path).find("<value>new</value>"), std::string::npos);
}

TEST(Save, EveryFailureKeepsTheOldFileAndLeavesNoTemporary) {
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f.xml");
    ASSERT_EQ(withValue("old")->save(path.c_str()), 0);
    const std::string old = slurp(path);
    // Big enough for several buffered writes, so that a write can fail midway.
    OVLMessagePtr big = withValue(std::string(300000, 'x'));

    struct Case {
        const char* label;
        void (*arm)();
        const char* reason;
    };
    const Case cases[] = {
        {"temp file cannot be created", [] { FailingCalls::openErr = EACCES; }, "cannot create"},
        {"disk full at once", [] { FailingCalls::writeErr = ENOSPC, FailingCalls::writeBudget = 0; },
         "cannot write"},
        {"disk full midway", [] { FailingCalls::writeErr = ENOSPC, FailingCalls::writeBudget = 70000; },
         "No space"},
        {"flush fails", [] { FailingCalls::fsyncErr = EIO; }, "cannot flush"},
        {"close fails", [] { FailingCalls::closeErr = EIO; }, "cannot close"},
        {"rename fails", [] { FailingCalls::renameErr = EXDEV; }, "cannot rename"},
    };
    for (const Case& c : cases) {
        FailingCalls calls;
        c.arm();
        EXPECT_EQ(big->save(path.c_str()), -1) << c.label;
        EXPECT_NE(big->getError().find(c.reason), std::string::npos) << c.label << ": " << big->getError();
        EXPECT_EQ(slurp(path), old) << c.label;
        EXPECT_EQ(entries(dir), 1) << c.label;
    }
    EXPECT_EQ(big->save(path.c_str()), 0) << big->getError();
}

TEST(Save, ImpossibleTargetsFail) {
    ferrik_test::TempDir dir;
    OVLMessagePtr msg = withValue("v");
    EXPECT_EQ(msg->save(dir.file("missing/f.xml").c_str()), -1);
    EXPECT_EQ(msg->save(dir.path().string().c_str()), -1);  // a directory
    EXPECT_EQ(msg->save((dir.path().string() + "/").c_str()), -1);
    EXPECT_EQ(msg->save(""), -1);
    EXPECT_EQ(msg->save(nullptr), -1);
    EXPECT_EQ(newMessage()->save(dir.file("empty.xml").c_str()), -1);
    EXPECT_EQ(entries(dir), 0);
}

TEST(Load, FailuresChangeNothing) {
    ferrik_test::TempDir dir;
    spit(dir.file("malformed.xml"), "<config><value>x</config>");
    spit(dir.file("empty.xml"), "");
    spit(dir.file("latin1.xml"), "<config>caf\xE9</config>");
    std::filesystem::create_directory(dir.path() / "dir.xml");

    OVLMessagePtr msg = withValue("kept");
    const std::string before = msg->toString();
    for (const char* name : {"missing.xml", "malformed.xml", "empty.xml", "latin1.xml", "dir.xml"}) {
        EXPECT_EQ(msg->load(dir.file(name).c_str()), -1) << name;
        EXPECT_FALSE(msg->getError().empty()) << name;
        EXPECT_EQ(msg->toString(), before) << name;
    }
    EXPECT_EQ(msg->load(dir.file("malformed.xml").c_str()), -1);
    EXPECT_EQ(msg->getErrorLine(), 1);
    EXPECT_EQ(msg->load(nullptr), -1);

    // A read error of a well-formed file is reported as such.
    const std::string good = dir.file("good.xml");
    ASSERT_EQ(withValue("other")->save(good.c_str()), 0);
    {
        FailingCalls calls;
        FailingCalls::readErr = EIO;
        EXPECT_EQ(msg->load(good.c_str()), -1);
        EXPECT_NE(msg->getError().find("cannot read"), std::string::npos) << msg->getError();
        EXPECT_EQ(msg->toString(), before);
    }
    EXPECT_EQ(msg->load(good.c_str()), 0) << msg->getError();
}

TEST(Save, AKilledWriterLeavesACompleteFile) {
    // A child process saves two different large documents over one file again and again and is
    // killed at some moment; the file must then load and be one of the two, never a mixture.
    ferrik_test::TempDir dir;
    const std::string path = dir.file("f.xml");
    ASSERT_EQ(withValue("start")->save(path.c_str()), 0);
    for (int round = 0; round < 6; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            OVLMessagePtr a = withValue(std::string(400000, 'a'));
            OVLMessagePtr b = withValue(std::string(400000, 'b'));
            for (;;) {
                a->save(path.c_str());
                b->save(path.c_str());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * round));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        OVLMessagePtr back = newMessage();
        ASSERT_EQ(back->load(path.c_str()), 0) << "round " << round << ": " << back->getError();
        std::string v;
        ASSERT_EQ(back->getIterator().readText("value", v), 0);
        EXPECT_TRUE(v == "start" || v == std::string(400000, 'a') || v == std::string(400000, 'b'));
    }
}

TEST(Save, PermissionFailuresAreRealAndKeepEverything) {
    // Without the system-call seam: a real process without the permissions. Root may write
    // anywhere, so as root the checks run in a child that has given up root.
    ferrik_test::TempDir dir;
    const std::filesystem::path ro = dir.path() / "ro";  // a read-only directory
    const std::filesystem::path rw = dir.path() / "rw";  // a directory anyone may write
    std::filesystem::create_directory(ro);
    std::filesystem::create_directory(rw);
    const std::string path = (ro / "f.xml").string();         // writable, in the read-only directory
    const std::string secret = (ro / "secret.xml").string();  // unreadable
    const std::string locked = (rw / "locked.xml").string();  // read-only, in a writable directory
    for (const std::string& p : {path, secret, locked}) {
        ASSERT_EQ(withValue(p)->save(p.c_str()), 0);
    }
    const std::string pathText = slurp(path);
    const std::string lockedText = slurp(locked);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(rw.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(secret.c_str(), 0000), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        int code = 0;
        OVLMessagePtr msg = withValue("new");
        // The temporary file cannot be created beside the target.
        if (msg->save(path.c_str()) != -1 || msg->getError().find("cannot create") == std::string::npos) {
            code |= 1;
        }
        // The directory would allow a rename, but the file itself is read-only.
        if (msg->save(locked.c_str()) != -1 || msg->getError().find("cannot write") == std::string::npos) {
            code |= 2;
        }
        OVLMessagePtr loaded = withValue("kept");
        if (loaded->load(secret.c_str()) != -1 || loaded->toString() != withValue("kept")->toString()) {
            code |= 4;
        }
        if (loaded->load(path.c_str()) != 0) {
            code |= 8;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::chmod(ro.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(slurp(path), pathText);
    EXPECT_EQ(slurp(locked), lockedText);
    auto count = [](const std::filesystem::path& d) {
        return std::distance(std::filesystem::directory_iterator(d), std::filesystem::directory_iterator());
    };
    EXPECT_EQ(count(ro), 2);
    EXPECT_EQ(count(rw), 1);
}
