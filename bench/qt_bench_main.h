// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// main() of the benchmark programs that drive Qt widgets: one QApplication, on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise, alive while the benchmarks run.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <functional>

namespace ferrik_bench {

// Runs the registered benchmarks; `beforeExit` runs while the QApplication still exists.
inline int runQtBenchmarks(int argc, char** argv, const std::function<void()>& beforeExit = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (beforeExit) {
        beforeExit();
    }
    return 0;
}

}  // namespace ferrik_bench
