// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// What assistive tools and the keyboard get from the transcript panes: the accessible text
// interface, the events that announce new text (bounded for a long reply), Shift selection with
// the movement keys, word selection across display pieces, and the find bar leaving chords alone.
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include <vector>

#include "FerrikDlg.h"
#include "FerrikPacketHistoryAccessible.h"

namespace {

// Keeps what each event said: its type, object and, for text events, position and text.
struct Seen {
    QAccessible::Event type;
    QObject* object;
    int position = -1;
    QString text;
};
std::vector<Seen>* g_seen = nullptr;

void recordEvent(QAccessibleEvent* event) {
    if (g_seen == nullptr) {
        return;
    }
    Seen seen{event->type(), event->object(), -1, QString()};
    if (event->type() == QAccessible::TextInserted) {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        seen.position = inserted->changePosition();
        seen.text = inserted->textInserted();
    } else if (event->type() == QAccessible::TextRemoved) {
        seen.position = static_cast<QAccessibleTextRemoveEvent*>(event)->changePosition();
    } else if (event->type() == QAccessible::TextSelectionChanged) {
        seen.position = static_cast<QAccessibleTextSelectionEvent*>(event)->selectionEnd();
    } else if (event->type() == QAccessible::TextCaretMoved) {
        seen.position = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
    }
    g_seen->push_back(seen);
}

class PaneAccess : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen = &seen;
        FerrikPacketHistoryAccessible::setObserver(&recordEvent);
        window.resize(900, 700);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override {
        FerrikPacketHistoryAccessible::setObserver(nullptr);
        g_seen = nullptr;
    }
    void append(FerrikPacketHistory* pane, const QString& text, bool html = false, bool rule = true) {
        window.appendText(pane, text, html, rule);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isAppending(); }));
        QApplication::processEvents();  // the turn's announcement
    }
    QAccessibleTextInterface* textOf(QWidget* widget) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        return iface != nullptr ? iface->textInterface() : nullptr;
    }
    std::vector<Seen> eventsOf(QAccessible::Event type) const {
        std::vector<Seen> out;
        for (const Seen& s : seen) {
            if (s.type == type) {
                out.push_back(s);
            }
        }
        return out;
    }
    void key(int k, Qt::KeyboardModifiers modifiers = Qt::ShiftModifier) {
        QTest::keyClick(window.histOutput, Qt::Key(k), modifiers);
    }

    std::vector<Seen> seen;
    FerrikDlg window;
};

TEST_F(PaneAccess, BothPanesAreNamedReadOnlyTextWithTheirWholeText) {
    append(window.histOutput, "one two\nthree");
    append(window.histOutput, "<b>Connected to</b> x", true, false);
    struct Case {
        QWidget* pane;
        const char* name;
    };
    for (const Case& c : {Case{window.histOutput, "Output"}, Case{window.histInput, "Sent packets"}}) {
        SCOPED_TRACE(c.name);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(c.pane);
        ASSERT_NE(iface, nullptr);
        ASSERT_NE(iface->textInterface(), nullptr);
        EXPECT_EQ(iface->role(), QAccessible::EditableText);
        EXPECT_TRUE(iface->state().readOnly);
        EXPECT_TRUE(iface->state().multiLine);
        EXPECT_TRUE(iface->state().focusable);
        EXPECT_EQ(iface->text(QAccessible::Name), c.name);
    }
    QAccessibleTextInterface* text = textOf(window.histOutput);
    EXPECT_EQ(text->characterCount(), window.histOutput->toPlainText().size());
    EXPECT_EQ(text->text(0, text->characterCount()), "one two\nthree\nConnected to x");
    EXPECT_EQ(text->text(4, 7), "two");

    // A pane made without the window has the interface too (the pane installs the factory).
    FerrikPacketHistory alone;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&alone);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->textInterface(), nullptr);
    EXPECT_EQ(iface->text(QAccessible::Name), "Transcript");
}

TEST_F(PaneAccess, TextAroundAnOffsetByCharacterWordAndLine) {
    append(window.histOutput, "alpha beta\ngamma", false, false);
    append(window.histOutput, "last", false, false);
    QAccessibleTextInterface* text = textOf(window.histOutput);
    int start = 0;
    int end = 0;
    struct Case {
        int offset;
        QAccessible::TextBoundaryType type;
        const char* at;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {7, QAccessible::WordBoundary, "beta", " ", "\n"},
        {0, QAccessible::WordBoundary, "alpha", "", " "},
        {12, QAccessible::LineBoundary, "gamma\n", "alpha beta\n", "last"},
        {2, QAccessible::CharBoundary, "p", "l", "h"},
        {14, QAccessible::ParagraphBoundary, "gamma\n", "alpha beta\n", "last"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(text->textAtOffset(c.offset, c.type, &start, &end), c.at);
        EXPECT_EQ(text->text(start, end), c.at);
        EXPECT_EQ(text->textBeforeOffset(c.offset, c.type, &start, &end), c.before);
        EXPECT_EQ(text->textAfterOffset(c.offset, c.type, &start, &end), c.after);
    }
    // At the end (the caret's usual place) the last word and line are meant.
    const int count = text->characterCount();
    EXPECT_EQ(text->textAtOffset(count, QAccessible::WordBoundary, &start, &end), "last");
    EXPECT_EQ(text->textAtOffset(count, QAccessible::LineBoundary, &start, &end), "last");
    EXPECT_EQ(text->textAtOffset(count + 5, QAccessible::WordBoundary, &start, &end), "");
    EXPECT_EQ(start, -1);
}

TEST_F(PaneAccess, SelectionCaretAndGeometry) {
    append(window.histOutput, "pick some words here");
    QAccessibleTextInterface* text = textOf(window.histOutput);
    seen.clear();
    text->setSelection(0, 5, 9);
    EXPECT_EQ(window.histOutput->selectedText(), "some");
    EXPECT_EQ(text->selectionCount(), 1);
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 5);
    EXPECT_EQ(end, 9);
    EXPECT_EQ(text->cursorPosition(), 9);
    ASSERT_EQ(eventsOf(QAccessible::TextSelectionChanged).size(), 1u);
    EXPECT_EQ(eventsOf(QAccessible::TextSelectionChanged)[0].position, 9);

    text->setCursorPosition(2);
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_EQ(text->cursorPosition(), 2);

    // Each character's rectangle is on the screen inside the pane, in reading order, and the
    // offset at its centre is the character's.
    const QRect paneOnScreen(window.histOutput->viewport()->mapToGlobal(QPoint(0, 0)),
                             window.histOutput->viewport()->size());
    QRect previousRect;
    for (int offset : {0, 5, 6, 12}) {
        const QRect rect = text->characterRect(offset);
        ASSERT_FALSE(rect.isNull()) << offset;
        EXPECT_TRUE(paneOnScreen.contains(rect)) << offset;
        EXPECT_GT(rect.width(), 1) << offset;
        EXPECT_EQ(text->offsetAtPoint(rect.center() - QPoint(rect.width() / 4, 0)), offset);
        if (!previousRect.isNull()) {
            EXPECT_GT(rect.left(), previousRect.left());
        }
        previousRect = rect;
    }
}

// A long reply is announced in one event per turn with at most kAnnouncedChars of its text; a
// burst of short entries in one turn is one event; clearing says the text went.
TEST_F(PaneAccess, AppendedTextIsAnnouncedWithBoundedEvents) {
    append(window.histOutput, "first");
    seen.clear();
    QString reply;
    for (int i = 0; i < 200000; ++i) {
        reply += QStringLiteral("<ns1:item>%1</ns1:item>\n").arg(i % 10);
    }
    window.onReadFinished(reply);  // 4.6 MB, prepared off the GUI thread and appended in steps
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isAppending(); }, 30000));
    QApplication::processEvents();
    const std::vector<Seen> inserted = eventsOf(QAccessible::TextInserted);
    ASSERT_FALSE(inserted.empty());
    EXPECT_LT(inserted.size(), 200u) << "one per turn, not one per step or line";
    EXPECT_EQ(inserted.front().position, 5);  // right after "first"
    EXPECT_TRUE(inserted.front().text.startsWith("\n<ns1:item>0</ns1:item>"))
        << inserted.front().text.left(80).toStdString();
    for (const Seen& s : inserted) {
        EXPECT_EQ(s.object, window.histOutput);
        EXPECT_LE(s.text.size(), FerrikPacketHistory::kAnnouncedChars);
        EXPECT_EQ(s.text, window.histOutput->toPlainText().mid(s.position, s.text.size()));
    }

    seen.clear();
    window.histOutput->setTurnBudget(60000);  // the whole burst goes in within this one turn
    for (int i = 0; i < 50; ++i) {
        window.appendText(window.histOutput, QStringLiteral("burst %1").arg(i), false, false);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isAppending(); }));
    QApplication::processEvents();
    // One event for the turn.
    EXPECT_EQ(eventsOf(QAccessible::TextInserted).size(), 1u);
    EXPECT_TRUE(eventsOf(QAccessible::TextInserted)[0].text.startsWith("\nburst 0\nburst 1\n"));

    seen.clear();
    window.histOutput->clear();
    ASSERT_EQ(eventsOf(QAccessible::TextRemoved).size(), 1u);
    EXPECT_EQ(eventsOf(QAccessible::TextRemoved)[0].position, 0);
}

TEST_F(PaneAccess, ShiftWithMovementKeysExtendsTheSelection) {
    append(window.histOutput, "first line\nsecond line\nthird", false, false);
    FerrikPacketHistory* pane = window.histOutput;
    window.histOutput->setFocus();
    pane->setSelection(0, 0);
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    EXPECT_EQ(pane->selectedText(), "fi");
    key(Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);  // to the next word
    EXPECT_EQ(pane->selectedText(), "first ");
    key(Qt::Key_End);
    EXPECT_EQ(pane->selectedText(), "first line");
    key(Qt::Key_Down);  // about the same x on the next row
    EXPECT_GT(pane->selection().position, 11);
    EXPECT_LE(pane->selection().position, 22);
    key(Qt::Key_End);
    EXPECT_EQ(pane->selectedText(), "first line\nsecond line");
    key(Qt::Key_Home);
    EXPECT_EQ(pane->selectedText(), "first line\n");
    key(Qt::Key_Left);
    EXPECT_EQ(pane->selectedText(), "first line");
    key(Qt::Key_End, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(pane->selectedText(), pane->toPlainText());
    key(Qt::Key_Up);
    EXPECT_GT(pane->selection().position, 11);
    EXPECT_LT(pane->selection().position, 22);
    key(Qt::Key_PageUp);
    EXPECT_EQ(pane->selectedText(), "");  // a page up from the second row reaches the first
    key(Qt::Key_PageDown);
    EXPECT_EQ(pane->selectedText(), pane->toPlainText());
    EXPECT_EQ(pane->selection().anchor, 0);
    // Without Shift the keys scroll and leave the selection.
    key(Qt::Key_Up, Qt::NoModifier);
    EXPECT_EQ(pane->selectedText(), pane->toPlainText());
    // Assistive tools hear of each change.
    EXPECT_GE(eventsOf(QAccessible::TextSelectionChanged).size(), 8u);
}

TEST_F(PaneAccess, DoubleClickSelectsAWordAcrossDisplayPieces) {
    // A line with no cut point near the piece length: the word around it is cut at the length.
    const qsizetype kPiece = FerrikPacketHistory::kPieceChars;
    QString line = QString(kPiece - 300, QLatin1Char('-'));
    const QString word = QString(500, QLatin1Char('w'));
    line += word + QStringLiteral("-tail");
    append(window.histOutput, line, false, false);
    FerrikPacketHistory* pane = window.histOutput;
    ASSERT_TRUE(pane->lines().line(1).flags & FerrikTextStore::Continuation);
    ASSERT_EQ(pane->lines().line(1).start, kPiece);  // the cut falls inside the word
    pane->ensureVisible(kPiece + 10);
    const QPoint inSecondPiece = pane->positionRect(kPiece + 10).center();
    QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, inSecondPiece);
    EXPECT_EQ(pane->selectedText(), word);
    // The accessible words see it whole as well.
    int start = 0;
    int end = 0;
    EXPECT_EQ(textOf(pane)->textAtOffset(int(kPiece + 10), QAccessible::WordBoundary, &start, &end), word);
}

// Alt and Ctrl chords are commands: the find bar does not take them as search text.
TEST_F(PaneAccess, FindBarLeavesCtrlAndAltChordsAlone) {
    append(window.histOutput, "abc");
    window.histOutput->setFocus();
    QTest::keyClick(window.histOutput, Qt::Key_A, Qt::AltModifier);
    QTest::keyClick(window.histOutput, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(window.histOutput, Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_TRUE(window.frameFind->isHidden());
    EXPECT_EQ(window.editFind->text(), "");
    QTest::keyClick(window.histOutput, Qt::Key_A);
    EXPECT_TRUE(window.frameFind->isVisible());
    QTest::keyClick(window.histOutput, Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(window.editFind->text(), "a");
    QTest::keyClick(window.histOutput, 'B', Qt::ShiftModifier);  // a capital is text
    EXPECT_EQ(window.editFind->text(), "aB");
}

}  // namespace
