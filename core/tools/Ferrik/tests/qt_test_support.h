// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Readable GoogleTest output for Qt strings, and waiting for the transcript panes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << list.join(QStringLiteral(", ")).toStdString();
}

namespace ferrik_test {

// Runs the event loop until `done` holds or `ms` passed; returns the last value of `done`.
inline bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// How long a test waits for a pane (or a window's two panes) to take in what was appended.
constexpr int kAppendWaitMs = 60000;

// Runs the event loop until `panes` (a FerrikPacketHistory or a FerrikDlg: anything with
// isAppending()) holds every entry appended so far. A pane appends within a time budget per turn
// of the event loop, so how much is in right after appendText depends on the machine's speed:
// every test that reads a pane after appending waits here first. Fails the test when the panes
// are still appending after kAppendWaitMs.
template <typename Panes>
void finishAppending(const Panes& panes) {
    QElapsedTimer clock;
    clock.start();
    while (panes.isAppending() && clock.elapsed() < kAppendWaitMs) {
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    ASSERT_FALSE(panes.isAppending()) << "the panes were still appending after " << kAppendWaitMs << " ms";
}

}  // namespace ferrik_test
