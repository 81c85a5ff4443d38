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

}  // namespace
