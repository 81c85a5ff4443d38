// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "FerrikDlg.h"

namespace {

using ferrik_test::finishAppending;

const QColor kWhite(Qt::white);
const QColor kLightRed(255, 102, 102, 255);

class FindBar : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.appendText(window.histOutput, "<reply xmlns='u'>abcd abc</reply>", false, true);
        window.appendText(window.histOutput, "second Reply ns", false, true);
        finishAppending(window);
        window.histOutput->setFocus();
        window.histOutput->setSelection(0, 0);
    }

    int selectionStart() const { return int(window.histOutput->selection().start()); }
    QString selected() const { return window.histOutput->selectedText(); }
    QColor fieldBase() const { return window.editFind->palette().color(QPalette::Active, QPalette::Base); }
    void type(const char* keys) { QTest::keyClicks(window.histOutput, QString::fromLatin1(keys)); }

    FerrikDlg window;
};

TEST_F(FindBar, TypingSearchesIncrementallyInPlace) {
    type("a");
    EXPECT_TRUE(window.frameFind->isVisible());
    EXPECT_EQ(window.editFind->text(), "a");
    EXPECT_EQ(selected(), "a");
    const int first = selectionStart();
    type("bc");
    EXPECT_EQ(window.editFind->text(), "abc");
    EXPECT_EQ(selected(), "abc");
    EXPECT_EQ(selectionStart(), first);  // grew in place
    EXPECT_TRUE(window.histOutput->hasFocus());
    EXPECT_TRUE(window.findTimer->isActive());
    EXPECT_EQ(fieldBase(), kWhite);
}

TEST_F(FindBar, SpaceOpensNothingButIsAppendedWhileOpen) {
    type(" ");
    EXPECT_TRUE(window.frameFind->isHidden());
    type("d ");
    EXPECT_EQ(window.editFind->text(), "d ");
    EXPECT_EQ(selected(), "d ");
}

TEST_F(FindBar, SlashOpensAnEmptyBarWithFocus) {
    window.editFind->setText("old");
    type("/");
    EXPECT_TRUE(window.frameFind->isVisible());
    EXPECT_EQ(window.editFind->text(), "");
    EXPECT_TRUE(window.editFind->hasFocus());
    EXPECT_FALSE(window.findTimer->isActive());
    EXPECT_FALSE(window.histOutput->hasSelection());
    // Return in the empty field runs findNext: nothing to search, the bar stays.
    QTest::keyClick(window.editFind, Qt::Key_Return);
    EXPECT_TRUE(window.frameFind->isVisible());
    EXPECT_FALSE(window.findTimer->isActive());
    EXPECT_FALSE(window.histOutput->hasSelection());
}

TEST_F(FindBar, FindKeySequenceOpensTheBar) {
    const QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Find);
    ASSERT_FALSE(keys.isEmpty());
    const QKeyCombination combination = keys.first()[0];
    QTest::keyClick(window.histOutput, combination.key(), combination.keyboardModifiers());
    EXPECT_TRUE(window.frameFind->isVisible());
    EXPECT_TRUE(window.editFind->hasFocus());
}

TEST_F(FindBar, TypingInTheFieldSearchesAndFocusStopsTheTimer) {
    type("x");  // opens the bar (no match), timer running
    EXPECT_TRUE(window.findTimer->isActive());
    window.editFind->setFocus();
    EXPECT_FALSE(window.findTimer->isActive());
    window.editFind->clear();
    QTest::keyClicks(window.editFind, "Reply");
    EXPECT_EQ(selected(), "reply");  // case-insensitive by default
    EXPECT_FALSE(window.findTimer->isActive());
}

TEST_F(FindBar, NextWrapsAndPreviousGoesBack) {
    type("abc");
    const int first = selectionStart();
    window.findNext();
    EXPECT_EQ(selected(), "abc");
    EXPECT_GT(selectionStart(), first);
    EXPECT_TRUE(window.labelWrapped->isHidden());
    QTest::mouseClick(window.toolNext, Qt::LeftButton);
    EXPECT_EQ(selectionStart(), first);
    EXPECT_TRUE(window.labelWrapped->isVisible());
    QTest::mouseClick(window.toolPrevious, Qt::LeftButton);  // wraps back to the last match
    EXPECT_GT(selectionStart(), first);
    EXPECT_TRUE(window.labelWrapped->isVisible());
    QTest::mouseClick(window.toolPrevious, Qt::LeftButton);
    EXPECT_EQ(selectionStart(), first);
    EXPECT_TRUE(window.labelWrapped->isHidden());
}

TEST_F(FindBar, MissingTextTurnsFieldRedAndKeepsCursor) {
    type("abc");
    const int start = selectionStart();
    type("z");
    EXPECT_EQ(fieldBase(), kLightRed);
    EXPECT_FALSE(window.histOutput->hasSelection());
    EXPECT_EQ(int(window.histOutput->selection().position), start);
    EXPECT_TRUE(window.labelWrapped->isHidden());
    QTest::keyClick(window.histOutput, Qt::Key_Backspace);
    EXPECT_EQ(window.editFind->text(), "abc");
    EXPECT_EQ(fieldBase(), kWhite);
    EXPECT_EQ(selectionStart(), start);
}

TEST_F(FindBar, CaseAndWholeWordOptions) {
    window.checkWholeWords->setChecked(true);
    window.editFind->setText("ns");
    window.findNext();
    EXPECT_EQ(selected(), "ns");
    EXPECT_EQ(selectionStart(), int(window.histOutput->toPlainText().lastIndexOf("ns")));  // not in xmlns

    window.checkWholeWords->setChecked(false);
    window.checkCase->setChecked(true);
    window.histOutput->setSelection(0, 0);
    window.editFind->setText("Reply");
    window.findNext();
    EXPECT_EQ(selected(), "Reply");
    EXPECT_EQ(selectionStart(), int(window.histOutput->toPlainText().indexOf("Reply")));
}

TEST_F(FindBar, BackspaceOnEmptyTextKeepsBarOpen) {
    type("a");
    QTest::keyClick(window.histOutput, Qt::Key_Backspace);
    EXPECT_EQ(window.editFind->text(), "");
    QTest::keyClick(window.histOutput, Qt::Key_Backspace);
    EXPECT_TRUE(window.frameFind->isVisible());
    EXPECT_FALSE(window.histOutput->hasSelection());
}

TEST_F(FindBar, ReturnIsSwallowedAndPagingKeysPassThrough) {
    for (int i = 0; i < 100; ++i) {
        window.appendText(window.histOutput, QStringLiteral("filler %1").arg(i), false, false);
    }
    finishAppending(window);
    QScrollBar* bar = window.histOutput->verticalScrollBar();
    bar->setValue(0);
    type("abc");
    const QString before = selected();
    QTest::keyClick(window.histOutput, Qt::Key_Return);
    EXPECT_EQ(selected(), before);
    EXPECT_EQ(window.editFind->text(), "abc");
    ASSERT_EQ(bar->value(), 0);
    QTest::keyClick(window.histOutput, Qt::Key_PageDown);
    EXPECT_EQ(window.editFind->text(), "abc");
    EXPECT_GT(bar->value(), 0);  // the pane scrolled
}

TEST_F(FindBar, EscapeInPaneHidesButNotInField) {
    type("/");
    QTest::keyClick(window.editFind, Qt::Key_Escape);
    EXPECT_TRUE(window.frameFind->isVisible());
    window.histOutput->setFocus();
    type("abc");
    window.findNext();
    window.findNext();
    EXPECT_TRUE(window.labelWrapped->isVisible());
    QTest::keyClick(window.histOutput, Qt::Key_Escape);
    EXPECT_TRUE(window.frameFind->isHidden());
    EXPECT_TRUE(window.labelWrapped->isHidden());
}

TEST_F(FindBar, CloseButtonKeepsWrapNoticeForNextOpening) {
    type("abc");
    window.findNext();
    window.findNext();
    ASSERT_FALSE(window.labelWrapped->isHidden());
    QTest::mouseClick(window.toolClose, Qt::LeftButton);
    EXPECT_TRUE(window.frameFind->isHidden());
    type("/");
    EXPECT_FALSE(window.labelWrapped->isHidden());
}

TEST_F(FindBar, TimerHidesTheBar) {
    type("a");
    ASSERT_TRUE(window.findTimer->isActive());
    window.findTimer->start(20);  // the 5 s interval, shortened for the test
    QTRY_VERIFY_WITH_TIMEOUT(window.frameFind->isHidden(), 2000);
}

TEST_F(FindBar, AppendingDuringSearchLeavesTheMatch) {
    type("abc");
    const int start = selectionStart();
    window.appendText(window.histOutput, "abc again", false, true);
    finishAppending(window);
    EXPECT_EQ(selected(), "abc");
    EXPECT_EQ(selectionStart(), start);

    // Next and Previous cross entries and see what came in after the last search; both wrap.
    const int appended = int(window.histOutput->toPlainText().lastIndexOf("abc again"));
    window.findNext();
    window.findNext();
    EXPECT_EQ(selectionStart(), appended);
    EXPECT_TRUE(window.labelWrapped->isHidden());
    window.findNext();
    EXPECT_EQ(selectionStart(), start);
    EXPECT_FALSE(window.labelWrapped->isHidden());
    window.findPrevious();
    EXPECT_EQ(selectionStart(), appended);
    EXPECT_FALSE(window.labelWrapped->isHidden());
    window.findPrevious();
    EXPECT_EQ(selected(), "abc");
    EXPECT_LT(selectionStart(), appended);
    EXPECT_GT(selectionStart(), start);
}

// A line longer than a display piece is cut for showing only: a match across the cut is found,
// selected whole and scrolled into view, also far down a long transcript.
TEST_F(FindBar, MatchesAcrossDisplayPiecesAndScrollsThemIntoView) {
    for (int i = 0; i < 300; ++i) {
        window.appendText(window.histOutput, QStringLiteral("filler %1").arg(i), false, false);
    }
    const qsizetype piece = FerrikPacketHistory::kPieceChars;
    const QString line = QString(piece - 3, QLatin1Char('x')) + "needle" + QString(piece, QLatin1Char('x'));
    window.appendText(window.histOutput, line, false, true);
    window.appendText(window.histOutput, "after", false, true);
    finishAppending(window);
    QScrollBar* bar = window.histOutput->verticalScrollBar();
    bar->setValue(0);

    const FerrikTextStore& lines = window.histOutput->lines();
    int cut = -1;
    for (int i = 0; i < lines.lineCount(); ++i) {
        if (lines.lineText(i).endsWith(QStringLiteral("xnee"))) {
            cut = i;
        }
    }
    ASSERT_GE(cut, 0) << "the line was not cut inside the word";
    EXPECT_TRUE(lines.lineText(cut + 1).startsWith(QStringLiteral("dlex")));
    EXPECT_TRUE(lines.line(cut + 1).flags & FerrikTextStore::Continuation);

    type("needle");
    EXPECT_EQ(selected(), "needle");
    EXPECT_EQ(selectionStart(), int(window.histOutput->toPlainText().indexOf("needle")));
    EXPECT_GT(bar->value(), 0);
    EXPECT_FALSE(window.histOutput->positionRect(window.histOutput->selection().position).isNull());
    window.histOutput->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "needle");

    // Whole words see the line's real neighbours, not the cut.
    window.checkWholeWords->setChecked(true);
    window.findNext();
    EXPECT_EQ(fieldBase(), kLightRed);
}

}  // namespace
