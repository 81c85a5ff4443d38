// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Ferrik's window: reply processing, output rendering and start-up, each next to its floor.
//   (a) stripNamespaces + indentXml on a 10 MB reply of 200,000 lines, next to a plain copy of the
//       reply and to `xmllint --format` of the same file (a child process, output discarded);
//   (b) the transcript pane: a 10 MB reply through onReadFinished, a 10 MB reply without line
//       feeds, 10,000 small replies as queued calls, find and jumps in a 10 MB transcript, each
//       next to the same text put into a bare QPlainTextEdit where there is one;
//   (c) start-up to the shown window, next to a minimal window with a few widgets: whole processes
//       (the probes next to this program) and, in-process, the window's construction alone.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cstring>
#include <ctime>
#include <memory>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

#include "FerrikDlg.h"
#include "FerrikPacketHistoryAccessible.h"
#include "TextOps.h"
#include "ferrik_reply.h"
#include "qt_bench_main.h"

namespace {

const QString& reply() {
    static const QString text = ferrik_bench::largeReply();
    return text;
}

// The same reply as a file for xmllint.
const QString& replyFile() {
    static QTemporaryDir dir;
    static const QString path = [] {
        QString file = dir.filePath(QStringLiteral("reply.xml"));
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
    const QString& file = replyFile();
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
                    text.insert(pos + 1, QString(qsizetype(depth) * 4, QLatin1Char(' ')));
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
//
// Every figure counts until the text is completely in and the window has repainted. Counters:
// longest_turn_ms, the longest single turn of the event loop meanwhile (how long the window could
// not repaint or take input at a stretch); first_paint_ms, from the call until the pane first
// painted; peak_MB, the growth of the process's peak resident memory over the figure.

// Peak resident memory (VmHWM) since the last reset, and the reset itself (Linux: clear_refs 5).
double residentMB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}
struct PeakMemory {
    double base = 0;
    PeakMemory() {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (refs.open(QIODevice::WriteOnly)) {
            refs.write("5");
        }
        base = residentMB("VmRSS:");
    }
    double grownMB() const { return residentMB("VmHWM:") - base; }
};

// Notes when a widget is painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && firstPaint < 0 && clock.isValid()) {
            firstPaint = clock.elapsed();
        }
        return false;
    }
    QElapsedTimer clock;
    qint64 firstPaint = -1;
};

// Runs the event loop until done() and one more turn (the repaint), noting the longest turn.
template <typename Done>
qint64 runUntil(Done done) {
    qint64 longest = 0;
    do {
        QElapsedTimer turn;
        turn.start();
        QApplication::processEvents();
        longest = std::max(longest, turn.elapsed());
    } while (!done());
    QElapsedTimer turn;
    turn.start();
    QApplication::processEvents();
    return std::max(longest, turn.elapsed());
}

std::unique_ptr<FerrikDlg> shownWindow() {
    auto window = std::make_unique<FerrikDlg>();
    window->resize(840, 842);
    if (!QTest::qWaitForWindowExposed(window.get())) {
        qFatal("window not exposed");
    }
    QApplication::processEvents();
    return window;
}
std::unique_ptr<QPlainTextEdit> shownPlainTextEdit() {
    auto pane = std::make_unique<QPlainTextEdit>();
    pane->setReadOnly(true);
    pane->resize(820, 300);
    pane->show();
    if (!QTest::qWaitForWindowExposed(pane.get())) {
        qFatal("pane not exposed");
    }
    QApplication::processEvents();
    return pane;
}

// The 10 MB reply as onReadFinished gets it (strip and indent on), and as it is shown.
QString processedReply() {
    QString text = deepCopy(reply());
    ferrik::stripNamespaces(text);
    ferrik::indentXml(text, 4);
    return text;
}
const QString& replyWithoutLineFeeds() {
    static const QString text = QString(reply()).remove(QLatin1Char('\n'));
    return text;
}

// An assistive tool listening: every accessibility event the panes send is counted, with the
// characters of new text it carries (what would go over the accessibility bus).
struct ScreenReader {
    static inline qint64 events = 0;
    static inline qint64 chars = 0;
    static void count(QAccessibleEvent* event) {
        ++events;
        if (event->type() == QAccessible::TextInserted) {
            chars += static_cast<QAccessibleTextInsertEvent*>(event)->textInserted().size();
        }
    }
    ScreenReader() {
        events = chars = 0;
        FerrikPacketHistoryAccessible::setObserver(&count);
    }
    ~ScreenReader() { FerrikPacketHistoryAccessible::setObserver(nullptr); }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;
    void report(benchmark::State& state, int iterations) const {
        state.counters["a11y_events"] = double(events) / iterations;
        state.counters["a11y_chars"] = double(chars) / iterations;
    }
};

void BM_Output_LargeReply_onReadFinished(benchmark::State& state) {
    std::unique_ptr<ScreenReader> reader(state.range(0) != 0 ? new ScreenReader : nullptr);
    qint64 longest = 0;
    qint64 firstPaint = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = shownWindow();
        window->strip_namespaces = true;
        window->indent_output = true;
        PaintWatch watch(window->histOutput->viewport());
        const QString text = deepCopy(reply());
        const PeakMemory memory;
        state.ResumeTiming();
        watch.clock.start();
        window->onReadFinished(text);
        longest = runUntil([&] { return !window->isAppending(); });
        state.PauseTiming();
        peak = std::max(peak, memory.grownMB());
        firstPaint = watch.firstPaint;
        if (window->histOutput->entryCount() != 1 ||
            window->histOutput->entryText(0).size() != processedReply().size()) {
            state.SkipWithError("the reply is not shown whole");
        }
        window.reset();
        state.ResumeTiming();
    }
    state.counters["longest_turn_ms"] = double(longest);
    state.counters["first_paint_ms"] = double(firstPaint);
    state.counters["peak_MB"] = peak;
    if (reader) {
        reader->report(state, int(state.iterations()));
    }
}
// Floor: the same (processed) text into a bare QPlainTextEdit in one call.
void BM_Output_LargeReply_QPlainTextEdit(benchmark::State& state) {
    const QString text = processedReply();
    double peak = 0;
    qint64 longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto pane = shownPlainTextEdit();
        const PeakMemory memory;
        state.ResumeTiming();
        QElapsedTimer turn;
        turn.start();
        pane->appendPlainText(text);
        QApplication::processEvents();
        longest = turn.elapsed();
        state.PauseTiming();
        peak = std::max(peak, memory.grownMB());
        pane.reset();
        state.ResumeTiming();
    }
    state.counters["longest_turn_ms"] = double(longest);
    state.counters["peak_MB"] = peak;
}

// A 10 MB reply without a single line feed. Also times copying it back out ("Select packet").
void BM_Output_ReplyWithoutLineFeeds_histOutput(benchmark::State& state) {
    const QString& text = replyWithoutLineFeeds();
    qint64 longest = 0;
    qint64 firstPaint = 0;
    double copyMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = shownWindow();
        PaintWatch watch(window->histOutput->viewport());
        state.ResumeTiming();
        watch.clock.start();
        window->appendText(window->histOutput, text, false, true);
        longest = runUntil([&] { return !window->isAppending(); });
        state.PauseTiming();
        firstPaint = watch.firstPaint;
        QElapsedTimer copy;
        copy.start();
        const QString back = window->histOutput->entryText(0);
        copyMs = double(copy.nsecsElapsed()) / 1e6;
        if (back != text) {
            state.SkipWithError("the text does not come back exactly");
        }
        window.reset();
        state.ResumeTiming();
    }
    state.counters["longest_turn_ms"] = double(longest);
    state.counters["first_paint_ms"] = double(firstPaint);
    state.counters["copy_ms"] = copyMs;
}

// 10,000 replies of 1 KB, each with a rule, each arriving as its own queued call, in ten waves of
// 1,000; first_1000_ms and last_1000_ms (CPU time of the GUI thread, which the load of a shared
// machine disturbs less than wall time) show whether the cost per entry stays flat.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}
QStringList smallReplies() {
    QStringList replies;
    for (int i = 0; i < 10000; ++i) {
        replies << ferrik_bench::generateReply(19, 56);  // about 1 KB each
    }
    return replies;
}
void BM_Output_10000SmallReplies_histOutput(benchmark::State& state) {
    std::unique_ptr<ScreenReader> reader(state.range(0) != 0 ? new ScreenReader : nullptr);
    const QStringList replies = smallReplies();
    qint64 longest = 0;
    double first = 0;
    double last = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = shownWindow();
        FerrikDlg* w = window.get();
        state.ResumeTiming();
        for (int wave = 0; wave < 10; ++wave) {
            const double start = threadCpuMs();
            for (int i = wave * 1000; i < (wave + 1) * 1000; ++i) {
                const QString& r = replies[i];
                QMetaObject::invokeMethod(
                    w, [w, r] { w->appendText(w->histOutput, r, false, true); }, Qt::QueuedConnection);
            }
            longest =
                std::max(longest, runUntil([&] {
                             return !w->isAppending() && w->histOutput->entryCount() == (wave + 1) * 1000;
                         }));
            const double ms = threadCpuMs() - start;
            if (wave == 0) {
                first = ms;
            }
            last = ms;
        }
        state.PauseTiming();
        if (w->histOutput->entryCount() != 10000 || w->histOutput->entryText(9999) != replies[9999]) {
            state.SkipWithError("entries missing");
        }
        window.reset();
        state.ResumeTiming();
    }
    state.counters["longest_turn_ms"] = double(longest);
    state.counters["first_1000_ms"] = first;
    state.counters["last_1000_ms"] = last;
    if (reader) {
        reader->report(state, int(state.iterations()));
    }
}
void BM_Output_10000SmallReplies_QPlainTextEdit(benchmark::State& state) {
    const QStringList replies = smallReplies();
    double first = 0;
    double last = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto pane = shownPlainTextEdit();
        state.ResumeTiming();
        for (int wave = 0; wave < 10; ++wave) {
            const double start = threadCpuMs();
            for (int i = wave * 1000; i < (wave + 1) * 1000; ++i) {
                pane->appendPlainText(replies[i]);
            }
            QApplication::processEvents();
            const double ms = threadCpuMs() - start;
            if (wave == 0) {
                first = ms;
            }
            last = ms;
        }
        state.PauseTiming();
        pane.reset();
        state.ResumeTiming();
    }
    state.counters["first_1000_ms"] = first;
    state.counters["last_1000_ms"] = last;
}

// Find and jumps in a transcript that holds the 10 MB reply. Each iteration is one step; the
// counters give the worst step.
struct FilledWindow {
    std::unique_ptr<FerrikDlg> window = shownWindow();
    FilledWindow() {
        window->onReadFinished(reply());
        runUntil([&] { return !window->isAppending(); });
        window->checkCase->setChecked(false);
    }
};
void BM_Find_StepIn10MB(benchmark::State& state) {
    FilledWindow filled;
    FerrikDlg& w = *filled.window;
    // A text that occurs near the start and near the end only: each step crosses the transcript.
    w.editFind->setText(QStringLiteral("env-00000007 "));
    w.histOutput->setSelection(0, 0);
    const QString near = QStringLiteral("<name>env-%1 ").arg(199990 / 8);
    w.histOutput->appendEntry(near, false, false, true);
    w.editFind->setText(near.mid(6));
    qint64 worst = 0;
    for (auto _ : state) {
        QElapsedTimer step;
        step.start();
        if (state.iterations() % 2) {
            w.findPrevious();
        } else {
            w.findNext();
        }
        QApplication::processEvents();
        worst = std::max(worst, step.elapsed());
        if (!w.histOutput->hasSelection()) {
            state.SkipWithError("no match found");
            break;
        }
    }
    state.counters["worst_step_ms"] = double(worst);
}
void BM_Find_NotFoundIn10MB(benchmark::State& state) {
    FilledWindow filled;
    FerrikDlg& w = *filled.window;
    w.editFind->setText(QStringLiteral("occurs nowhere"));
    for (auto _ : state) {
        w.findNext();
        QApplication::processEvents();
    }
}
void BM_Jump_EndAndStartOf10MB(benchmark::State& state) {
    FilledWindow filled;
    FerrikDlg& w = *filled.window;
    QScrollBar* bar = w.histOutput->verticalScrollBar();
    PaintWatch watch(w.histOutput->viewport());
    qint64 worst = 0;
    for (auto _ : state) {
        watch.firstPaint = -1;
        watch.clock.start();
        bar->setValue(bar->value() == 0 ? bar->maximum() : 0);
        QApplication::processEvents();  // lays out, colours and paints the shown lines
        worst = std::max(worst, watch.clock.elapsed());
        if (watch.firstPaint < 0) {
            state.SkipWithError("not repainted");
            break;
        }
    }
    state.counters["worst_paint_ms"] = double(worst);
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
// Argument 1: with an assistive tool listening (ScreenReader).
BENCHMARK(BM_Output_LargeReply_onReadFinished)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Output_LargeReply_QPlainTextEdit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Output_ReplyWithoutLineFeeds_histOutput)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Output_10000SmallReplies_histOutput)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Output_10000SmallReplies_QPlainTextEdit)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Find_StepIn10MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_Find_NotFoundIn10MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Jump_EndAndStartOf10MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_Startup_Process_Ferrik)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup_Process_MinimalWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup_FerrikDlg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup_MinimalWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return ferrik_bench::runQtBenchmarks(argc, argv);
}
