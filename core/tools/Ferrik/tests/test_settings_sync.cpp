// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Several consoles on one settings file: what each remembers, relabels, deletes, connects to and
// sets survives the others' saves in either order, each sees the others' history without a
// restart, and a console killed while it saves costs nothing that was saved. Two windows in this
// process, and real console processes driven through the window's slots.
#include <gtest/gtest.h>

#include <unistd.h>

#include "qt_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "FerrikHistoryFilter.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "SettingsFile.h"
#include "SettingsMerge.h"
#include "model_tester.h"

namespace {

QString packet(const QString& target, const QString& function) {
    return QStringLiteral("<packet><target>%1</target><data><%1><%2/></%1></data></packet>")
        .arg(target, function);
}

// The history as "target/label" items, in the tree's order.
QStringList shown(const FerMsgHistoryModel& model) {
    QStringList items;
    for (const HistoryEntry& entry : model.entries()) {
        items << entry.target + QLatin1Char('/') + entry.function;
    }
    return items;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList inFile(const QString& path) {
    SettingsContent content;
    FileIdentity identity;
    QString error;
    if (readSettingsFile(path, content, identity, error) != SettingsRead::Read) {
        return {QStringLiteral("unreadable: ") + error};
    }
    FerMsgHistoryModel model;
    for (const HistoryEntry& entry : content.history) {
        model.addEntry(entry);
    }
    return shown(model);
}

// Another console's changes arrive through the file watcher; a loaded machine may take a while.
bool waitUntil(const std::function<bool()>& done) {
    return ferrik_test::waitUntil(done, 20000);
}

void remember(FerrikDlg& window, const QString& target, const QString& function) {
    window.teInput->setPlainText(packet(target, function));
    window.addToHistory();
}

QModelIndex entryIndex(const FerMsgHistoryModel& model, const QString& target, const QString& label) {
    for (int g = 0; g < model.rowCount(); ++g) {
        const QModelIndex group = model.index(g, 0);
        if (group.data().toString() != target) {
            continue;
        }
        for (int row = 0; row < model.rowCount(group); ++row) {
            if (model.index(row, 0, group).data().toString() == label) {
                return model.index(row, 0, group);
            }
        }
    }
    return {};
}

// Delete as the tree's context menu does, on the current entry.
bool deleteEntry(FerrikDlg& window, const QString& target, const QString& label) {
    const QModelIndex index = entryIndex(*window.historyModel, target, label);
    if (!index.isValid()) {
        return false;
    }
    window.lstHistory->setCurrentIndex(window.historyFilter->mapFromSource(index));
    window.lstHistory->deleteItem();
    return true;
}

// The options dialog with a new tab size, closed with OK.
void setTab(FerrikDlg& window, int tab) {
    QTimer::singleShot(0, [tab] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr) {
            dialog->findChild<QSpinBox*>("sbTabSize")->setValue(tab);
            dialog->findChild<QPushButton*>("okButton")->click();
        }
    });
    window.showOptionsDlg();
}

HistoryEntry entry(const char* target, const char* label, const char* text) {
    HistoryEntry result;
    result.target = QString::fromLatin1(target);
    result.function = QString::fromLatin1(label);
    result.packet = QString::fromLatin1(text);
    return result;
}

QList<HistoryEntry> values(const QList<TrackedEntry>& tracked) {
    QList<HistoryEntry> result;
    for (const TrackedEntry& item : tracked) {
        result.append(item.entry);
    }
    return result;
}

TEST(RebaseHistory, EachSideKeepsItsChangesAndARepeatedRebaseChangesNothing) {
    const HistoryEntry x = entry("t", "x", "px");
    const HistoryEntry y = entry("t", "y", "py");
    const HistoryEntry z = entry("u", "z", "pz");
    const HistoryEntry xHere = entry("t", "here", "px");
    const HistoryEntry xThere = entry("t", "there", "px");
    const struct {
        const char* what;
        QList<HistoryEntry> base;
        QList<HistoryEntry> theirs;
        QList<TrackedEntry> mine;
        QList<HistoryEntry> expected;
    } cases[] = {
        {"nothing changed", {x, y}, {x, y}, {{x, 0}, {y, 1}}, {x, y}},
        {"added on both sides", {x}, {x, z}, {{x, 0}, {y, -1}}, {x, z, y}},
        {"deleted here", {x, y}, {x, y}, {{y, 1}}, {y}},
        {"deleted there", {x, y}, {y}, {{x, 0}, {y, 1}}, {y}},
        {"relabelled there", {x}, {xThere}, {{x, 0}}, {xThere}},
        {"relabelled here, deleted there", {x, y}, {y}, {{xHere, 0}, {y, 1}}, {y, xHere}},
        {"relabelled on both sides", {x}, {xThere}, {{xHere, 0}}, {xHere}},
        {"deleted here, relabelled there", {x, y}, {xThere, y}, {{y, 1}}, {y}},
        {"one of two equal entries deleted here", {x, x}, {x, x, z}, {{x, 1}}, {x, z}},
        {"remembered alike on both sides", {}, {x}, {{x, -1}}, {x}},
        {"remembered twice here", {}, {}, {{x, -1}, {x, -1}}, {x, x}},
        {"the file lost everything", {x, y}, {}, {{x, 0}, {xHere, -1}}, {xHere}},
    };
    for (const auto& c : cases) {
        const QList<TrackedEntry> rebased = rebaseHistory(c.base, c.theirs, c.mine);
        EXPECT_EQ(values(rebased), c.expected) << c.what;
        for (const TrackedEntry& item : rebased) {
            if (item.origin >= 0) {
                ASSERT_LT(item.origin, c.theirs.size()) << c.what;
                EXPECT_EQ(c.theirs[item.origin].packet, item.entry.packet) << c.what;
            }
        }
        // A save that wrote the result before the model took it: the same rebase onto it.
        EXPECT_EQ(values(rebaseHistory(c.base, values(rebased), c.mine)), c.expected) << c.what << ", again";
        // After the model took it: nothing more to do while the file stays.
        EXPECT_EQ(values(rebaseHistory(c.theirs, c.theirs, rebased)), c.expected) << c.what << ", taken";
    }
}

class SharedSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        FerrikDlg::setSettingsDirectories(dir.path(), dir.path());
    }
    QString file() const { return dir.filePath("ferrik.xml"); }

    QTemporaryDir dir;
};

HostRecord connected(const std::string& login) {
    HostRecord record;
    record.auth = OVL::OVLAuthName(login, "corp", OVL::OVLRealm::systemRealmID, "typed password");
    return record;
}

OVL::OVLRealmList labRealms() {
    OVL::OVLRealmList realms;
    realms.push_back(boost::shared_ptr<OVL::OVLRealm>(new OVL::OVLSystemRealm));
    auto lab = boost::shared_ptr<OVL::OVLLocalRealm>(new OVL::OVLLocalRealm);
    OVL::OVLGUID id;
    id.fromString("0d8e2c1a-7b3f-4c55-9a10-3e5f7d9b1c42");
    lab->setID(id);
    lab->setName("Lab");
    realms.push_back(lab);
    return realms;
}

TEST_F(SharedSettings, TwoWindowsKeepEachOthersChangesWhicheverClosesFirst) {
    for (const bool firstClosesFirst : {true, false}) {
        SCOPED_TRACE(firstClosesFirst ? "a closes first" : "b closes first");
        QFile::remove(file());
        auto a = std::make_unique<FerrikDlg>();
        auto b = std::make_unique<FerrikDlg>();
        {
            CheckedModelTester testerA(a->historyModel);
            CheckedModelTester testerB(b->historyModel);
            // Each saves before it has seen the other's save.
            remember(*a, "alpha", "ping");
            remember(*b, "beta", "pong");
            remember(*b, "beta", "status");
            const QStringList all = {"alpha/ping", "beta/pong", "beta/status"};
            EXPECT_EQ(inFile(file()), all);
            // Without a restart, each tree shows the other's packets.
            EXPECT_TRUE(waitUntil([&] {
                return shown(*a->historyModel) == all && shown(*b->historyModel) == all;
            })) << shown(*a->historyModel).join(' ').toStdString();

            // A relabel in one, a delete in the other, then saves of the one that has not seen the
            // delete yet: the deleted packet stays deleted, the label stays.
            a->historyModel->setData(entryIndex(*a->historyModel, "alpha", "ping"), "renamed", Qt::EditRole);
            ASSERT_TRUE(deleteEntry(*b, "beta", "pong"));
            a->saveSettings();
            remember(*a, "alpha", "later");
            const QStringList left = {"alpha/renamed", "alpha/later", "beta/status"};
            EXPECT_EQ(inFile(file()), left);
            EXPECT_TRUE(waitUntil([&] {
                return shown(*a->historyModel) == left && shown(*b->historyModel) == left;
            })) << shown(*b->historyModel).join(' ').toStdString();
        }

        // Hosts: a connects to lab (which saves nothing); b fetches lab's realms and saves, and
        // connects to depot. Options: a's tab size; b's typed host.
        a->hostRecords["lab"] = connected("alice");
        b->hostRecords["lab"].realms = labRealms();
        b->saveSettings();
        b->hostRecords["depot"] = connected("bob");
        b->leHost->setEditText("depot");
        b->saveSettings();
        EXPECT_TRUE(waitUntil([&] { return a->leHost->findText("depot") >= 0; }))
            << "a's host list takes in depot";
        EXPECT_EQ(a->leHost->currentText(), "") << "the host being typed stays";
        setTab(*a, 2);
        EXPECT_EQ(b->tab, 4) << "a running console keeps its own options";

        if (firstClosesFirst) {
            a.reset();
            b.reset();
        } else {
            b.reset();
            a.reset();
        }
        FerrikDlg restarted;
        EXPECT_EQ(shown(*restarted.historyModel),
                  QStringList({"alpha/renamed", "alpha/later", "beta/status"}));
        EXPECT_EQ(restarted.tab, 2);
        EXPECT_EQ(restarted.leHost->currentText(), "depot");
        ASSERT_EQ(restarted.hostRecords.count("lab"), 1u);
        EXPECT_EQ(restarted.hostRecords.at("lab").auth.getLogin(), "alice");
        EXPECT_TRUE(restarted.hostRecords.at("lab").realms == labRealms());
        ASSERT_EQ(restarted.hostRecords.count("depot"), 1u);
        EXPECT_EQ(restarted.hostRecords.at("depot").auth.getLogin(), "bob");
        EXPECT_FALSE(readAll(file()).contains("typed password"));
    }
}

// A console in a child process that follows commands on its stdin, one per line, in its event
// loop (so that it takes in the other console's saves as it would on a desktop), and answers each
// with a line "console: ...".
class Console {
public:
    static constexpr int kAnswerMs = 30000;  // a generous bound on a loaded machine

    explicit Console(const QString& dir) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("FERRIK_CONSOLE_CHILD", dir);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_filter=ConsoleChild.DISABLED_FollowsCommands", "--gtest_also_run_disabled_tests"});
    }
    ~Console() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The answer to `command`; empty when none came.
    QString ask(const QString& command) {
        process.write(command.toUtf8() + '\n');
        return answer();
    }
    QString answer() {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            const qsizetype end = buffer.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = buffer.left(end);
                buffer.remove(0, end + 1);
                if (line.startsWith("console: ")) {
                    return QString::fromUtf8(line.mid(9));
                }
                continue;  // the test framework's own lines
            }
            if (timer.elapsed() > kAnswerMs) {
                return {};
            }
            process.waitForReadyRead(200);
            buffer += process.readAllStandardOutput();
            if (process.state() == QProcess::NotRunning && !buffer.contains('\n')) {
                return {};
            }
        }
    }
    bool waitUntilShows(const QString& items) {
        QElapsedTimer timer;
        timer.start();
        while (ask("list") != items) {
            if (timer.elapsed() > 20000) {
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    QProcess process;

private:
    QByteArray buffer;
};

TEST_F(SharedSettings, TwoConsoleProcessesSeeAndKeepEachOthersChanges) {
    if (qEnvironmentVariableIsSet("FERRIK_CONSOLE_CHILD")) {
        GTEST_SKIP();
    }
    Console a(dir.path());
    Console b(dir.path());
    ASSERT_EQ(a.answer(), "ready");
    ASSERT_EQ(b.answer(), "ready");

    EXPECT_EQ(a.ask("remember alpha ping"), "ok");
    EXPECT_EQ(b.ask("remember beta pong"), "ok");
    EXPECT_EQ(b.ask("remember beta status"), "ok");
    EXPECT_TRUE(a.waitUntilShows("alpha/ping beta/pong beta/status")) << a.ask("list").toStdString();
    EXPECT_TRUE(b.waitUntilShows("alpha/ping beta/pong beta/status")) << b.ask("list").toStdString();

    EXPECT_EQ(a.ask("delete beta pong"), "ok");
    EXPECT_EQ(b.ask("rename alpha ping renamed"), "ok");
    EXPECT_EQ(a.ask("host lab alice"), "ok");
    EXPECT_EQ(b.ask("host depot bob"), "ok");
    EXPECT_EQ(a.ask("tab 8"), "ok");
    EXPECT_TRUE(a.waitUntilShows("alpha/renamed beta/status")) << a.ask("list").toStdString();
    EXPECT_TRUE(b.waitUntilShows("alpha/renamed beta/status")) << b.ask("list").toStdString();

    // Closed in turn: each one's last save has the other's changes under it.
    EXPECT_EQ(b.ask("quit"), "closed");
    EXPECT_EQ(a.ask("quit"), "closed");
    ASSERT_TRUE(a.process.waitForFinished(30000));
    ASSERT_TRUE(b.process.waitForFinished(30000));

    FerrikDlg restarted;
    EXPECT_EQ(shown(*restarted.historyModel), QStringList({"alpha/renamed", "beta/status"}));
    EXPECT_EQ(restarted.tab, 8);
    EXPECT_EQ(restarted.hostRecords.count("lab"), 1u);
    EXPECT_EQ(restarted.hostRecords.count("depot"), 1u);
    EXPECT_EQ(restarted.leHost->count(), 2);
}

TEST(ConsoleChild, DISABLED_FollowsCommands) {
    const QString directory = qEnvironmentVariable("FERRIK_CONSOLE_CHILD");
    if (directory.isEmpty()) {
        GTEST_SKIP();
    }
    FerrikDlg::setSettingsDirectories(directory, directory);
    auto window = std::make_unique<FerrikDlg>();
    const auto say = [](const QString& text) {
        std::fputs(("console: " + text + "\n").toUtf8().constData(), stdout);
        std::fflush(stdout);
    };
    QEventLoop loop;
    QByteArray pending;
    // The answer to one command.
    const auto run = [&](const QStringList& words) -> QString {
        const QString command = words.value(0);
        if (command == "remember" && words.size() == 3) {
            remember(*window, words[1], words[2]);
        } else if (command == "rename" && words.size() == 4) {
            const QModelIndex index = entryIndex(*window->historyModel, words[1], words[2]);
            if (!window->historyModel->setData(index, words[3], Qt::EditRole)) {
                return "no such entry";
            }
        } else if (command == "delete" && words.size() == 3) {
            if (!deleteEntry(*window, words[1], words[2])) {
                return "no such entry";
            }
        } else if (command == "host" && words.size() == 3) {
            // As a connect leaves it: the record, no save.
            window->hostRecords[words[1].toStdString()] = connected(words[2].toStdString());
            window->leHost->addItem(words[1]);
        } else if (command == "tab" && words.size() == 2) {
            setTab(*window, words[1].toInt());
        } else if (command == "list") {
            return shown(*window->historyModel).join(' ');
        } else if (command == "quit") {
            window.reset();  // closing saves
            loop.quit();
            return "closed";
        } else {
            return "unknown command";
        }
        return "ok";
    };
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[4096];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n <= 0) {
            loop.quit();
            return;
        }
        pending.append(bytes, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0 && window; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            say(run(line.split(' ', Qt::SkipEmptyParts)));
        }
    });
    say("ready");
    loop.exec();
}

// One console saves over and over and is killed (SIGKILL) at a random moment; the other keeps
// remembering meanwhile, then saves and is restarted. Each round: the file loads, holds every
// packet of the survivor and everything the killed one had reported saved, and the killed save's
// lock and temporary file are cleared up by the next save.
TEST_F(SharedSettings, AConsoleKilledWhileItSavesCostsNothingSaved) {
    if (qEnvironmentVariableIsSet("FERRIK_SAVE_LOOP_CHILD")) {
        GTEST_SKIP();
    }
    std::mt19937 random(4242);
    QStringList survivor;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("FERRIK_SAVE_LOOP_CHILD", dir.path());
        child.setProcessEnvironment(environment);
        child.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_filter=ConsoleChild.DISABLED_SavesUntilKilled", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        while (!output.contains("saved ")) {
            ASSERT_TRUE(child.waitForReadyRead(30000)) << "the child saves before it reports";
            output += child.readAllStandardOutput();
        }
        {
            FerrikDlg other;
            for (int i = 0; i < 6; ++i) {
                remember(other, "B", QString("r%1-%2").arg(round).arg(i));
                survivor << QString("B/r%1-%2").arg(round).arg(i);
                QTest::qWait(static_cast<int>(random() % 40));
            }
            child.kill();
            ASSERT_TRUE(child.waitForFinished(30000));
            output += child.readAllStandardOutput();
            EXPECT_FALSE(inFile(file()).value(0).startsWith("unreadable"))
                << inFile(file()).value(0).toStdString();
            remember(other, "B", QString("last%1").arg(round));
            survivor << QString("B/last%1").arg(round);
            EXPECT_FALSE(other.histOutput->toPlainText().contains("WARNING"))
                << other.histOutput->toPlainText().toStdString();
        }
        // What the killed console said it had saved, at least.
        const QList<QByteArray> lines = output.split('\n');
        int saved = 0;
        for (const QByteArray& line : lines) {
            if (line.startsWith("saved ")) {
                saved = line.mid(6).toInt();
            }
        }
        FerrikDlg restarted;
        QStringList got = shown(*restarted.historyModel);
        const qsizetype fromKilled = got.count() - got.filter(QRegularExpression("^B/")).count();
        EXPECT_GE(fromKilled, saved);
        EXPECT_EQ(got.filter(QRegularExpression("^B/")), survivor);
        EXPECT_TRUE(
            QDir(dir.path()).entryList({"ferrik.xml.tmp*", "*.unreadable*", "*.lock"}, QDir::Files).isEmpty())
            << QDir(dir.path()).entryList().join(' ').toStdString();
    }
}

TEST(ConsoleChild, DISABLED_SavesUntilKilled) {
    const QString directory = qEnvironmentVariable("FERRIK_SAVE_LOOP_CHILD");
    if (directory.isEmpty()) {
        GTEST_SKIP();
    }
    FerrikDlg::setSettingsDirectories(directory, directory);
    FerrikDlg window;
    for (int n = 0;; ++n) {
        for (int i = 0; i < 10; ++i) {
            window.historyModel->addEntry(HistoryEntry(packet("A", QString("f%1-%2").arg(n).arg(i))));
        }
        window.saveSettings();
        int own = 0;
        for (const HistoryEntry& entry : window.historyModel->entries()) {
            own += entry.target == "A" ? 1 : 0;
        }
        std::printf("saved %d\n", own);
        std::fflush(stdout);
    }
}

}  // namespace
