// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The transcript pane's keyboard and mouse as a user drives them: real key presses and clicks
// through the X server (xdotool's XTEST input), under xvfb-run.
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QProcess>
#include <QTest>

#include "FerrikDlg.h"

namespace {

// Runs xdotool with the arguments; true when it ran and succeeded.
bool xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(XDOTOOL_PATH), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

class RealInput : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(900, 700);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.appendText(window.histOutput, "first line\nsecond line", false, true);
        window.appendText(window.histOutput, "alpha beta", false, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isAppending(); }));
        pane = window.histOutput;
    }
    // A click at the text offset, through the X server.
    bool clickAt(qsizetype pos, int clicks = 1) {
        const QPoint at = pane->viewport()->mapToGlobal(pane->positionRect(pos).center());
        return xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click",
                        "--repeat", QString::number(clicks), "--delay", "50", "1"});
    }

    FerrikDlg window;
    FerrikPacketHistory* pane = nullptr;
};

TEST_F(RealInput, ShiftArrowsExtendTheSelectionAfterAClick) {
    ASSERT_TRUE(clickAt(0));
    QTRY_VERIFY(pane->hasFocus());
    ASSERT_TRUE(xdotool({"key", "shift+Right", "shift+Right", "shift+ctrl+Right"}));
    QTRY_COMPARE(pane->selectedText(), QStringLiteral("first "));
    ASSERT_TRUE(xdotool({"key", "shift+End", "shift+Down", "shift+End"}));
    QTRY_COMPARE(pane->selectedText(), QStringLiteral("first line\nsecond line"));
    // What a screen reader reads: the same selection and the caret at its end.
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(pane)->textInterface();
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 22);
    EXPECT_EQ(text->cursorPosition(), 22);
    ASSERT_TRUE(xdotool({"key", "shift+ctrl+End"}));
    QTRY_COMPARE(pane->selectedText(), pane->toPlainText());
}

TEST_F(RealInput, DoubleClickSelectsAWordAndChordsDoNotSearch) {
    const qsizetype beta = pane->toPlainText().indexOf("beta");
    ASSERT_TRUE(clickAt(beta + 1, 2));
    QTRY_COMPARE(pane->selectedText(), QStringLiteral("beta"));
    ASSERT_TRUE(xdotool({"key", "alt+a", "ctrl+b"}));
    QTest::qWait(200);  // nothing to wait for: the keys must change nothing
    EXPECT_TRUE(window.frameFind->isHidden());
    ASSERT_TRUE(xdotool({"type", "al"}));
    QTRY_VERIFY(window.frameFind->isVisible());
    QTRY_COMPARE(window.editFind->text(), QStringLiteral("al"));
    QTRY_COMPARE(pane->selectedText(), QStringLiteral("al"));
}

}  // namespace
