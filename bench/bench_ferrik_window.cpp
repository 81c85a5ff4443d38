// Ferrik's window: reply processing, output rendering and start-up, each next to its floor.
//   (a) stripNamespaces + indentXml on a 10 MB reply of 200,000 lines, next to a plain copy of the
//       reply and to `xmllint --format` of the same file (a child process, output discarded);
//   (b) appendText into histOutput (with its highlighter), next to the same text inserted into a
//       QPlainTextEdit;
//   (c) start-up to the shown window, next to a minimal window with a few widgets: whole processes
//       (the probes next to this program) and, in-process, the window's construction alone.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

#include <memory>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

#include "FerrikDlg.h"
#include "qt_bench_main.h"
#include "TextOps.h"
#include "ferrik_reply.h"

namespace {

const QString& reply() {
    static const QString text = ferrik_bench::largeReply();
    return text;
}

// The same reply as a file for xmllint.
const QString& replyFile() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("reply.xml"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(reply().toUtf8()) < 0) {
            qFatal("cannot write %s", qPrintable(file));
        }
        return file;
    }();
    return path;
}

QString deepCopy(const QString& text) {
    return QString(text.constData(), text.size());
}

void setBytes(benchmark::State& state, qsizetype bytes) {
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// --- (a) reply processing ---

void BM_Reply_PlainCopy(benchmark::State& state) {
    for (auto _ : state) {
        QString copy = deepCopy(reply());
        benchmark::DoNotOptimize(copy.data());
    }
    setBytes(state, reply().size());
}

void BM_Reply_StripNamespaces(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QString text = deepCopy(reply());
        state.ResumeTiming();
        ferrik::stripNamespaces(text);
        benchmark::DoNotOptimize(text.data());
    }
    setBytes(state, reply().size());
}

void BM_Reply_IndentXml(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QString text = deepCopy(reply());
        state.ResumeTiming();
        ferrik::indentXml(text, 4);
        benchmark::DoNotOptimize(text.data());
    }
    setBytes(state, reply().size());
}

void BM_Reply_StripAndIndent(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QString text = deepCopy(reply());
        state.ResumeTiming();
        ferrik::stripNamespaces(text);
        ferrik::indentXml(text, 4);
        benchmark::DoNotOptimize(text.data());
    }
    setBytes(state, reply().size());
}

void BM_Reply_XmllintFormat(benchmark::State& state) {
    const QString file = replyFile();
    for (auto _ : state) {
        QProcess xmllint;
        xmllint.setStandardOutputFile(QProcess::nullDevice());
        xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--format"), file});
        if (!xmllint.waitForFinished(-1) || xmllint.exitStatus() != QProcess::NormalExit ||
            xmllint.exitCode() != 0) {
            state.SkipWithError("xmllint failed");
            break;
        }
    }
    setBytes(state, reply().size());
}

// The indentation as first formulated, inserting into the string it scans: quadratic. Run on a
// 1 MB reply of 20,000 lines only; the 10 MB reply would take minutes.
void BM_Reply_IndentXmlInsertingFormulation_1MB(benchmark::State& state) {
    const QString small = ferrik_bench::generateReply(20000, 59);
    for (auto _ : state) {
        QString text = deepCopy(small);
        int depth = 0;
        qsizetype pos = 0;
        while (pos <= text.size() - 3) {
            if (text[pos + 1] == QLatin1Char('<')) {
                const qsizetype nl = text.indexOf(QLatin1Char('\n'), pos + 2);
                const qsizetype slash = text.indexOf(QLatin1Char('/'), pos + 2);
                const bool closing = slash >= 0 && (nl < 0 || slash < nl);
                if (text[pos + 2] == QLatin1Char('/')) {
                    depth = std::max(depth - 1, 0);
                }
                if (depth > 0) {
                    text.insert(pos + 1, QString(depth * 4, QLatin1Char(' ')));
                }
                if (!closing) {
                    ++depth;
                }
            }
            pos = text.indexOf(QLatin1Char('\n'), pos + 1);
            if (pos < 0) {
                break;
            }
        }
        benchmark::DoNotOptimize(text.data());
    }
    setBytes(state, small.size());
}

// --- (b) output rendering ---

QStringList smallReplies() {
    QStringList replies;
    for (int i = 0; i < 10000; ++i) {
        replies << ferrik_bench::generateReply(19, 56);  // about 1 KB each
    }
    return replies;
}

void BM_Output_AppendLargeReply_histOutput(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<FerrikDlg>();
        QApplication::processEvents();
        state.ResumeTiming();
        window->appendText(window->histOutput, reply(), false, true);
        QApplication::processEvents();
        while (window->isAppending()) {  // a long entry goes in piece by piece
            QApplication::processEvents();
        }
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    setBytes(state, reply().size());
}

void BM_Output_AppendLargeReply_QPlainTextEdit(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto pane = std::make_unique<QPlainTextEdit>();
        pane->setReadOnly(true);
        pane->resize(820, 300);
        pane->show();
        QApplication::processEvents();
        state.ResumeTiming();
        pane->appendPlainText(reply());
        QApplication::processEvents();
        state.PauseTiming();
        pane.reset();
        state.ResumeTiming();
    }
    setBytes(state, reply().size());
}

void BM_Output_Append10000SmallReplies_histOutput(benchmark::State& state) {
    const QStringList replies = smallReplies();
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<FerrikDlg>();
        QApplication::processEvents();
        state.ResumeTiming();
        for (const QString& r : replies) {
            window->appendText(window->histOutput, r, false, true);
        }
        QApplication::processEvents();
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
}

void BM_Output_Append10000SmallReplies_QPlainTextEdit(benchmark::State& state) {
    const QStringList replies = smallReplies();
    for (auto _ : state) {
        state.PauseTiming();
        auto pane = std::make_unique<QPlainTextEdit>();
        pane->setReadOnly(true);
        pane->resize(820, 300);
        pane->show();
        QApplication::processEvents();
        state.ResumeTiming();
        for (const QString& r : replies) {
            pane->appendPlainText(r);
        }
        QApplication::processEvents();
        state.PauseTiming();
        pane.reset();
        state.ResumeTiming();
    }
}

// --- (c) start-up ---

void BM_Startup_FerrikDlg(benchmark::State& state) {
    for (auto _ : state) {
        auto window = std::make_unique<FerrikDlg>();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("window not exposed");
            break;
        }
        QApplication::processEvents();
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_Startup_MinimalWindow(benchmark::State& state) {
    for (auto _ : state) {
        auto window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(new QLineEdit(QStringLiteral("host")));
        layout->addWidget(new QPushButton(QStringLiteral("&Connect")));
        layout->addWidget(new QTextEdit);
        window->resize(840, 842);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("window not exposed");
            break;
        }
        QApplication::processEvents();
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

// Runs one probe program (next to this one) to completion: process start to shown window.
void runProbe(benchmark::State& state, const char* name) {
    const QByteArray path =
        (QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit();
    for (auto _ : state) {
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("probe failed");
            break;
        }
    }
}

void BM_Startup_Process_Ferrik(benchmark::State& state) {
    runProbe(state, "startup_probe_ferrik");
}

void BM_Startup_Process_MinimalWindow(benchmark::State& state) {
    runProbe(state, "startup_probe_minimal");
}

BENCHMARK(BM_Reply_PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reply_StripNamespaces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reply_IndentXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reply_StripAndIndent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reply_XmllintFormat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reply_IndentXmlInsertingFormulation_1MB)->Unit(benchmark::kMillisecond)->Iterations(1);
// Slow (minutes for the 10,000 entries into histOutput): one iteration each.
BENCHMARK(BM_Output_AppendLargeReply_histOutput)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Output_AppendLargeReply_QPlainTextEdit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Output_Append10000SmallReplies_histOutput)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Output_Append10000SmallReplies_QPlainTextEdit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Startup_Process_Ferrik)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup_Process_MinimalWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup_FerrikDlg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup_MinimalWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return ferrik_bench::runQtBenchmarks(argc, argv);
}
