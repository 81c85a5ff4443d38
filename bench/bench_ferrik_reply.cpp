// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// A 10 MB reply from a real agent, from send to fully shown in the console's window (indented and
// highlighted), next to `ovlsend` printing the same reply, in the same run.
//
// The agent (a child process on ephemeral ports) holds 10,000 environments of about 1 KB each, so
// that `environments/list` answers with a reply of about 10 MB in the agent's layout (one element
// per line). The window runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
// Counters: reply_MB (size of the reply as shown), longest_turn_ms (the longest single turn of the
// event loop while the reply came in and was shown: how long the window could not repaint or take
// input at a stretch).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>

#include <fstream>
#include <memory>
#include <string>

#include <spawn.h>
#include <sys/wait.h>

#include "AgentHarness.h"
#include "FerrikDlg.h"
#include "PasswordHash.h"
#include "qt_bench_main.h"

extern char** environ;

namespace {

const char* const kListPacket =
    "<packet><target>environments</target><data><environments><list/></environments></data></packet>";

std::string agentConfig(int environments) {
    const std::string hash = ovagent::PasswordHash::create(agent_test::kPassword, 1000);
    std::string config = "<ovagent>\n<listen><tcp port=\"0\"/></listen>\n<limits maxEnvironments=\"" +
                         std::to_string(environments) + "\"/>\n<users><user login=\"tester\" password=\"" +
                         hash + "\"><realm>System</realm></user></users>\n<environments>\n";
    for (int i = 0; i < environments; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "%08x-1111-4222-8333-%012x", i, i);
        config +=
            "<environment id=\"" + std::string(id) + "\" name=\"env-" + std::to_string(i) + "\"><config>";
        for (int field = 0; field < 12; ++field) {
            config += "<field" + std::to_string(field) + ">value " + std::to_string(i) + " of field " +
                      std::to_string(field) + " and some text</field" + std::to_string(field) + ">";
        }
        config += "</config><altConfig><role>member</role></altConfig></environment>\n";
    }
    return config + "</environments>\n</ovagent>\n";
}

struct Fixture {
    ferrik_test::TempDir dir;
    std::unique_ptr<agent_test::AgentProcess> agent;
    std::unique_ptr<FerrikDlg> window;

    Fixture() {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): set before the client library starts its thread
        ::setenv("OVL_KNOWN_AGENTS_FILE", dir.file("known_agents").c_str(), 1);
        FerrikDlg::setSettingsDirectories(QString::fromStdString(dir.path().string()),
                                          QString::fromStdString(dir.path().string()));
        agent = std::make_unique<agent_test::AgentProcess>(agentConfig(10000));
        std::ofstream(dir.file("password")) << agent_test::kPassword;
        std::ofstream(dir.file("list.xml")) << kListPacket;

        window = std::make_unique<FerrikDlg>();
        window->resize(840, 842);
        window->substitiotions = false;
        window->leHost->setEditText(QStringLiteral("127.0.0.1:%1").arg(agent->tcpPort()));
        window->cmbConnType->setCurrentIndex(2);
        window->leLogin->setText(QStringLiteral("tester"));
        window->lePassword->setText(QString::fromStdString(agent_test::kPassword));
        window->btnConnect->click();
        QElapsedTimer timer;
        timer.start();
        while (!window->btnSend->isEnabled() && timer.elapsed() < 20000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        if (!window->btnSend->isEnabled()) {
            qFatal("the window did not connect: %s", qPrintable(window->histOutput->toPlainText()));
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_Ferrik_SendToShown(benchmark::State& state) {
    FerrikDlg& window = *fixture().window;
    qint64 longestTurn = 0;
    qsizetype shown = 0;
    double handedOver = 0;  // sum of the window's own reply times: send to handed over by the library
    for (auto _ : state) {
        state.PauseTiming();
        window.histOutput->clear();
        window.histInput->clear();
        window.teInput->setPlainText(QString::fromLatin1(kListPacket));
        QApplication::processEvents();
        state.ResumeTiming();

        window.send();
        // Shown: the reply is in the pane, nothing is still going in, and the window has repainted.
        for (;;) {
            QElapsedTimer turn;
            turn.start();
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            longestTurn = std::max(longestTurn, turn.elapsed());
            if (!window.isAppending() && window.histOutput->entryCount() > 0) {
                break;
            }
        }
        QElapsedTimer turn;
        turn.start();
        QApplication::processEvents();  // the repaint of what is shown
        longestTurn = std::max(longestTurn, turn.elapsed());
        state.PauseTiming();
        shown = window.histOutput->toPlainText().size();
        const QRegularExpressionMatch figure =
            QRegularExpression(QStringLiteral(": ([0-9.]+) ms,")).match(window.labelReply->text());
        if (!figure.hasMatch()) {
            state.SkipWithError("no reply time in the status line");
        }
        handedOver += figure.captured(1).toDouble();
        if (!window.histOutput->toPlainText().contains(QStringLiteral("</ns2:environments>"))) {
            state.SkipWithError("the reply was not shown completely");
        }
        state.ResumeTiming();
    }
    state.counters["reply_MB"] = double(shown) / 1e6;
    state.counters["longest_turn_ms"] = double(longestTurn);
    // The part of the send-to-shown time before the reply reached the window (agent, transport,
    // client library); the rest is the window's: strip, indent, the pane.
    state.counters["handed_over_ms"] = state.iterations() ? handedOver / double(state.iterations()) : 0;
}

// ovlsend with the same packet, its output read to the end through a file on tmpfs-like /dev/shm
// when there is one (printing is part of its work).
void BM_Ovlsend_SendToPrinted(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string host = "127.0.0.1:" + std::to_string(f.agent->tcpPort());
    const std::string password = f.dir.file("password");
    const std::string packet = f.dir.file("list.xml");
    const std::string out = f.dir.file("reply.out");
    std::vector<std::string> args = {OVLSEND_PATH,      "-H",     host,  "-l", "tester",
                                     "--password-file", password, packet};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    long long printed = 0;
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start ovlsend");
            break;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("ovlsend failed");
            break;
        }
        state.PauseTiming();
        std::ifstream in(out, std::ios::ate | std::ios::binary);
        printed = static_cast<long long>(in.tellg());
        state.ResumeTiming();
    }
    state.counters["reply_MB"] = double(printed) / 1e6;
}

BENCHMARK(BM_Ferrik_SendToShown)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Ovlsend_SendToPrinted)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    return ferrik_bench::runQtBenchmarks(argc, argv, [] { fixture().window.reset(); });
}
