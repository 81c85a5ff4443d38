// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The console's settings file with 10,000 remembered packets and 500 hosts: loading and saving it
// through the settings code (message library, typed readers and writers, history model) next to
// bare pugixml loading and saving the same file, and the window's own save, which runs after
// every change of the history.
//
// Run: build/release/bin/bench_settings  (see docs/benchmarks/settings.md)

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "HostRecord.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLMessage/OVLMessage.h"
#include "qt_bench_main.h"

namespace {

constexpr int kEntries = 10000;
constexpr int kHosts = 500;

QTemporaryDir& directory() {
    static QTemporaryDir dir;
    return dir;
}

QString settingsFile() {
    return directory().filePath("ferrik.xml");
}

std::string localPath() {
    return QFile::encodeName(settingsFile()).toStdString();
}

// Packets as the "Create packet" template makes them, spread over 40 targets.
QString packetText(int i) {
    return QStringLiteral(
               "<packet>\n    <target>target%1</target>\n    <data>\n        <target%1>\n"
               "            <function%2 env=\"${env:name}\">\n                <arg>value %2 &amp; "
               "more</arg>\n            </function%2>\n        </target%1>\n    </data>\n</packet>")
        .arg(i % 40)
        .arg(i);
}

HostRecords makeHosts() {
    HostRecords hosts;
    for (int i = 0; i < kHosts; ++i) {
        HostRecord record;
        OVL::OVLGUID realm;
        char text[40];
        std::snprintf(text, sizeof text, "%08x-2222-4333-8444-555555555555", i);
        realm.fromString(text);
        record.auth = OVL::OVLAuthName("admin" + std::to_string(i), "corp", realm, "secret");
        record.realms.push_back(OVL::OVLRealmPtr(new OVL::OVLSystemRealm));
        auto local = boost::shared_ptr<OVL::OVLLocalRealm>(new OVL::OVLLocalRealm);
        local->setID(realm);
        local->setName("Lab " + std::to_string(i));
        local->setDescription("users of lab " + std::to_string(i));
        record.realms.push_back(local);
        hosts["host" + std::to_string(i) + ".example:4433"] = std::move(record);
    }
    return hosts;
}

void fill(FerMsgHistoryModel& model) {
    for (int i = 0; i < kEntries; ++i) {
        model.addEntry(HistoryEntry(packetText(i)));
    }
}

// The window with the full history and host list; its settings live in the temporary directory.
FerrikDlg& window() {
    static FerrikDlg* dlg = [] {
        FerrikDlg::setSettingsDirectories(directory().path(), directory().path());
        auto* w = new FerrikDlg;
        w->hostRecords = makeHosts();
        fill(*w->historyModel);
        w->leHost->setEditText("host7.example:4433");
        w->saveSettings();
        return w;
    }();
    return *dlg;
}

void BM_Load_Pugixml(benchmark::State& state) {
    window();
    const std::string path = localPath();
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str())) {
            state.SkipWithError("load_file failed");
        }
        benchmark::DoNotOptimize(doc.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}
BENCHMARK(BM_Load_Pugixml)->Unit(benchmark::kMillisecond);

// What loadSettings does with the file, without the widgets: load, host map, history model.
void BM_Load_Settings(benchmark::State& state) {
    window();
    const std::string path = localPath();
    for (auto _ : state) {
        OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
        if (message->load(path.c_str()) != 0) {
            state.SkipWithError(message->getError().c_str());
        }
        OVL::OVLMessageIterator it = message->getIterator();
        HostRecords hosts;
        readHostRecords(it, hosts);
        FerMsgHistoryModel model;
        it.read(FerMsgHistoryModel::Reader(), model);
        if (hosts.size() != kHosts || model.rowCount() != 40) {
            state.SkipWithError("incomplete load");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}
BENCHMARK(BM_Load_Settings)->Unit(benchmark::kMillisecond);

// The window's loadSettings, widgets and model included, on a window that started without a file
// (construction and destruction not timed).
void BM_Load_Window(benchmark::State& state) {
    window();
    QTemporaryDir empty;
    for (auto _ : state) {
        state.PauseTiming();
        FerrikDlg::setSettingsDirectories(empty.path(), empty.path());
        auto fresh = std::make_unique<FerrikDlg>();
        FerrikDlg::setSettingsDirectories(directory().path(), directory().path());
        state.ResumeTiming();
        fresh->loadSettings();
        state.PauseTiming();
        if (fresh->historyModel->rowCount() != 40) {
            state.SkipWithError("incomplete load");
        }
        fresh.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Load_Window)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Save_Pugixml(benchmark::State& state) {
    window();
    pugi::xml_document doc;
    doc.load_file(localPath().c_str());
    const std::string path = localPath() + ".pugi";
    for (auto _ : state) {
        if (!doc.save_file(path.c_str(), "  ")) {
            state.SkipWithError("save_file failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}
BENCHMARK(BM_Save_Pugixml)->Unit(benchmark::kMillisecond);

// pugixml's save with the flush to disk that a crash-safe replacement needs.
void BM_Save_PugixmlFsync(benchmark::State& state) {
    window();
    pugi::xml_document doc;
    doc.load_file(localPath().c_str());
    const std::string path = localPath() + ".pugi";
    for (auto _ : state) {
        if (!doc.save_file(path.c_str(), "  ")) {
            state.SkipWithError("save_file failed");
        }
        const int fd = ::open(path.c_str(), O_RDONLY);
        ::fsync(fd);
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}
BENCHMARK(BM_Save_PugixmlFsync)->Unit(benchmark::kMillisecond);

// The window's saveSettings: the whole tree built from the form, the hosts and the history, then
// the atomic save. This runs after every remembered, renamed or deleted packet.
void BM_Save_Window(benchmark::State& state) {
    FerrikDlg& w = window();
    for (auto _ : state) {
        w.saveSettings();
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(localPath())));
}
BENCHMARK(BM_Save_Window)->Unit(benchmark::kMillisecond);

// The same save when another console has replaced the file since (here with the same content, so
// nothing changes in the window): the save reads the file, merges, then writes.
void BM_Save_Window_AfterAnotherConsole(benchmark::State& state) {
    FerrikDlg& w = window();
    const QString path = QString::fromStdString(localPath());
    const QString other = path + QStringLiteral(".other");
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(other);
        if (!QFile::copy(path, other) ||
            std::rename(other.toLocal8Bit().constData(), path.toLocal8Bit().constData()) != 0) {
            state.SkipWithError("could not replace the file");
        }
        state.ResumeTiming();
        w.saveSettings();
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(localPath())));
}
BENCHMARK(BM_Save_Window_AfterAnotherConsole)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return ferrik_bench::runQtBenchmarks(argc, argv, [] {
        std::printf("settings file: %lld bytes\n",
                    static_cast<long long>(std::filesystem::file_size(localPath())));
    });
}
