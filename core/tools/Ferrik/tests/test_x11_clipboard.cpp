// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Base64 input from the X11 selection clipboard first, then the ordinary clipboard. Needs a real X
// server (run under xvfb-run).
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "FerrikDlg.h"

namespace {

TEST(SelectionClipboard, PreferredOverClipboardWhenNothingIsSelected) {
    QClipboard* clipboard = QApplication::clipboard();
    ASSERT_TRUE(clipboard->supportsSelection());
    FerrikDlg window;
    window.teInput->clear();

    clipboard->setText("c2Vs", QClipboard::Selection);  // "sel"
    clipboard->setText("Y2xp", QClipboard::Clipboard);  // "cli"
    QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("c2Vs"));
    window.teInput->base64Decode();
    EXPECT_EQ(window.teInput->toPlainText(), "sel");
    EXPECT_EQ(window.teInput->textCursor().selectedText(), "sel");

    window.teInput->clear();
    clipboard->clear(QClipboard::Selection);
    QTRY_COMPARE(clipboard->text(QClipboard::Selection), QString());
    window.teInput->base64Decode();
    EXPECT_EQ(window.teInput->toPlainText(), "cli");
}

// A mouse selection in a transcript pane is offered as the primary selection, as text fields do.
TEST(SelectionClipboard, APaneOffersItsMouseSelection) {
    QClipboard* clipboard = QApplication::clipboard();
    ASSERT_TRUE(clipboard->supportsSelection());
    FerrikDlg window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    FerrikPacketHistory* pane = window.histOutput;
    window.appendText(pane, "pick me", false, true);
    window.appendText(pane, "next", false, false);
    ferrik_test::finishAppending(window);
    const auto at = [&](qsizetype pos) { return pane->positionRect(pos).center(); };
    QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, at(5));
    QTest::mouseMove(pane->viewport(), at(10));
    QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, at(10));
    QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("me\nne"));
}

}  // namespace
