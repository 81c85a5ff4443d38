// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>

#include <unistd.h>

#include "FerrikDlg.h"

namespace {

using ferrik_test::finishAppending;

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::clipboard()->clear();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        editor->setFocus();
    }

    // Puts text in the editor with the caret where "|" stands.
    void setText(const QString& withCaret) {
        const qsizetype caret = withCaret.indexOf(QLatin1Char('|'));
        QString text = withCaret;
        text.remove(caret, 1);
        editor->setPlainText(text);
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(int(caret));
        editor->setTextCursor(cursor);
    }

    // The editor's text with "|" at the caret.
    QString textWithCaret() const {
        QString text = editor->toPlainText();
        text.insert(editor->textCursor().position(), QLatin1Char('|'));
        return text;
    }

    void select(int from, int to) {
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor);
    }

    FerrikDlg window;
    FerrikTextEditor* editor = window.teInput;
};

TEST_F(Editor, EnterKeepsTheLineIndentation) {
    setText("\t\tabc|def");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(textWithCaret(), "\t\tabc\n\t\t|def");
    QTest::keyClick(editor, Qt::Key_Enter);
    EXPECT_EQ(textWithCaret(), "\t\tabc\n\t\t\n\t\t|def");
}

TEST_F(Editor, EnterAfterUnclosedTagInsertsClosingTag) {
    setText("  <a>|");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(textWithCaret(), "  <a>\n      |\n  </a>");

    window.tab = 0;
    setText("<ns1:b>|");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(textWithCaret(), "<ns1:b>\n\t|\n</ns1:b>");
}

TEST_F(Editor, EnterAfterClosedTagOnlyIndents) {
    setText(" <a>|x</a>");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(textWithCaret(), " <a>\n |x</a>");

    // Another opening of the same tag before the next end tag: still unclosed.
    setText("<a>|<a></a>");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(textWithCaret(), "<a>\n    |\n</a><a></a>");
}

TEST_F(Editor, TagsWithSlashAreNeverOpening) {
    for (const QString& line :
         {QStringLiteral("<a/>|"), QStringLiteral("</a>|"), QStringLiteral("<a href='x/y'>|"),
          // A tag with attributes would get them in its closing tag: not taken as opening.
          QStringLiteral("<b x=\"1\">|"), QStringLiteral("a>|")}) {
        setText(line);
        QTest::keyClick(editor, Qt::Key_Return);
        EXPECT_EQ(textWithCaret(), QString(line).replace("|", "\n|")) << line.toStdString();
    }
}

TEST_F(Editor, ControlSpaceClosesNearestTag) {
    setText("<a>text|");
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(textWithCaret(), "<a>text|</a>");

    setText("<a>|");
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(textWithCaret(), "<a>|</a>");
}

TEST_F(Editor, ControlSpaceWithoutTagChangesNothing) {
    for (const QString& line :
         {QStringLiteral("<a>\n|text"), QStringLiteral("plain te|xt"), QStringLiteral("<a/> x|")}) {
        setText(line);
        QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
        EXPECT_EQ(textWithCaret(), line) << line.toStdString();
    }
}

TEST_F(Editor, TabKeyInsertsTabWhateverTheTabSize) {
    window.tab = 2;
    setText("a|b");
    QTest::keyClick(editor, Qt::Key_Tab);
    EXPECT_EQ(textWithCaret(), "a\t|b");
}

TEST_F(Editor, CreatePacketWithTabs) {
    window.tab = 0;
    setText("N|");
    select(0, 1);
    editor->createPacket();
    EXPECT_EQ(textWithCaret(),
              "<packet>\n\t<target>N</target>\n\t<data>\n\t\t<N>\n\t\t\t<|>\n\t\t</N>\n\t</data>\n</packet>");
}

TEST_F(Editor, CreatePacketWithSpacesAndNothingSelected) {
    window.tab = 2;
    setText("fn|");
    editor->createPacket();
    EXPECT_EQ(textWithCaret(), "fn|");

    select(0, 2);
    editor->createPacket();
    EXPECT_EQ(
        textWithCaret(),
        "<packet>\n  <target>fn</target>\n  <data>\n    <fn>\n      <|>\n    </fn>\n  </data>\n</packet>");
    // One undo step takes the whole skeleton back.
    editor->undo();
    EXPECT_EQ(editor->toPlainText(), "fn");
}

TEST_F(Editor, Base64ShortcutsConvertTheSelection) {
    setText("x hello|");
    select(2, 7);
    QTest::keyClick(editor, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(editor->toPlainText(), "x aGVsbG8=");
    EXPECT_EQ(editor->textCursor().selectedText(), "aGVsbG8=");
    EXPECT_EQ(editor->textCursor().position(), 2);

    QTest::keyClick(editor, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(editor->toPlainText(), "x hello");
    EXPECT_EQ(editor->textCursor().selectedText(), "hello");
}

TEST_F(Editor, Base64OfMultiLineSelectionUsesParagraphSeparator) {
    setText("a\nb|");
    select(0, 3);
    editor->base64Encode();
    EXPECT_EQ(editor->toPlainText(), QString::fromLatin1(QStringLiteral("a\u2029b").toUtf8().toBase64()));
}

TEST_F(Editor, Base64ReadsClipboardWhenNothingIsSelected) {
    setText("[|]");
    editor->base64Encode();
    EXPECT_EQ(textWithCaret(), "[|]");  // no selection, empty clipboard: nothing

    QApplication::clipboard()->setText("hi");
    editor->base64Encode();
    EXPECT_EQ(editor->toPlainText(), "[aGk=]");
    EXPECT_EQ(editor->textCursor().selectedText(), "aGk=");
    EXPECT_EQ(editor->textCursor().position(), 1);
}

TEST_F(Editor, Base64DecodeOfNonsenseChangesNothing) {
    setText("!!!|");
    select(0, 3);
    editor->base64Decode();
    EXPECT_EQ(editor->toPlainText(), "!!!");
}

// Runs the widget's context menu for a right click at pos and hands the open menu to inspect.
template <typename Inspect>
void withContextMenu(QWidget* viewport, QPoint pos, Inspect inspect) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        seen = true;
        inspect(menu);
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
    EXPECT_TRUE(seen);
}

TEST_F(Editor, ContextMenuEndsWithCreatePacket) {
    setText("N|");
    select(0, 1);
    withContextMenu(editor->viewport(), QPoint(5, 5), [](QMenu* menu) {
        const QList<QAction*> actions = menu->actions();
        ASSERT_GE(actions.size(), 3);
        EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
        EXPECT_EQ(actions.last()->text(), "Create packet");
        actions.last()->trigger();
    });
    EXPECT_TRUE(editor->toPlainText().startsWith("<packet>"));
}

class PacketHistory : public ::testing::Test {
protected:
    // A point inside the entry that holds the given text.
    QPoint pointAt(const QString& text) const {
        const qsizetype at = pane->toPlainText().indexOf(text);
        pane->ensureVisible(at);  // a long entry after it may have scrolled it away
        return pane->positionRect(at).center() + QPoint(1, 0);
    }

    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
};

TEST_F(PacketHistory, SelectPacketSelectsAndCopiesOneEntry) {
    window.appendText(pane, "first", false, true);
    window.appendText(pane, "second\nline", false, true);
    window.appendText(pane, "third", false, false);
    finishAppending(window);

    QApplication::clipboard()->clear();
    pane->setMenuPoint(pointAt("line"));
    pane->selectPacket();
    EXPECT_EQ(pane->selectedText(), "second\nline");
    EXPECT_EQ(QApplication::clipboard()->text(), "second\nline");  // the entry's exact text

    // At an entry's first and last character, and on the last entry (no rule after it).
    const auto selectedAt = [&](int position) {
        pane->setMenuPoint(pane->positionRect(position).center() + QPoint(1, 0));
        pane->selectPacket();
        return QApplication::clipboard()->text();
    };
    const qsizetype second = pane->selection().start();
    EXPECT_EQ(selectedAt(second), "second\nline");
    EXPECT_EQ(selectedAt(second + 10), "second\nline");
    EXPECT_EQ(selectedAt(second - 2), "first");
    EXPECT_EQ(selectedAt(pane->toPlainText().size() - 1), "third");
    EXPECT_EQ(pane->selectedText(), "third");
}

TEST_F(PacketHistory, MouseAndKeysSelectAndCopyTheExactText) {
    window.appendText(pane, "first", false, true);
    window.appendText(pane, "second", false, false);
    finishAppending(window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWidget* viewport = pane->viewport();
    const QString& text = pane->toPlainText();
    const auto at = [&](qsizetype pos) { return pane->positionRect(pos).center(); };

    // A drag from the start over the rule into the next entry: the rule is no text. The click
    // focuses the pane, so typing then searches it.
    window.teInput->setFocus();
    QTest::mousePress(viewport, Qt::LeftButton, {}, at(1));
    EXPECT_TRUE(pane->hasFocus());
    QTest::mouseMove(viewport, at(text.indexOf("cond")));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(text.indexOf("cond")));
    EXPECT_EQ(pane->selectedText(), "irst\nse");
    // Shift-click moves the end and keeps the start.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at(text.size()));
    EXPECT_EQ(pane->selectedText(), "irst\nsecond");
    // The keys with the text a keyboard gives them (a control character, which the find bar
    // leaves alone).
    const auto control = [&](Qt::Key key, char code) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, QString(QChar(code)));
        QApplication::sendEvent(pane, &press);
    };
    QApplication::clipboard()->clear();
    control(Qt::Key_C, 3);
    EXPECT_EQ(QApplication::clipboard()->text(), "irst\nsecond");

    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at(text.indexOf("cond")));
    EXPECT_EQ(pane->selectedText(), "second");
    control(Qt::Key_A, 1);
    EXPECT_EQ(pane->selectedText(), "first\nsecond");
    // A plain click clears the selection.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at(2));
    EXPECT_FALSE(pane->hasSelection());
}

TEST_F(PacketHistory, TheToolTipIsThatOfTheEntryUnderTheMouse) {
    pane->appendEntry("first\nline", false, true, true, "tip one");
    pane->appendEntry("second", false, false, true, "tip two");
    finishAppending(window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto hover = [&](const QPoint& point) {
        QHelpEvent event(QEvent::ToolTip, point, pane->viewport()->mapToGlobal(point));
        QApplication::sendEvent(pane->viewport(), &event);
    };
    hover(pointAt("line"));
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "tip one");
    hover(pointAt("second"));
    EXPECT_EQ(QToolTip::text(), "tip two");
    hover(QPoint(5, pane->viewport()->height() - 2));  // below the last entry
    QTRY_VERIFY(!QToolTip::isVisible());
}

TEST_F(PacketHistory, SelectPacketOutsideEveryEntryDoesNothing) {
    window.appendText(pane, "only", false, true);
    finishAppending(window);
    pane->resize(400, 400);
    pane->setMenuPoint(QPoint());
    pane->selectPacket();
    EXPECT_FALSE(pane->hasSelection());

    // The empty space below the last entry belongs to no entry.
    pane->setMenuPoint(QPoint(200, 390));
    pane->selectPacket();
    EXPECT_FALSE(pane->hasSelection());
}

TEST_F(PacketHistory, ContextMenuOffersClearSelectAndSave) {
    window.appendText(pane, "one", false, true);
    window.appendText(pane, "two", false, true);
    finishAppending(window);
    const QPoint at = pointAt("two");
    QStringList captions;
    QTemporaryDir dir;
    pane->chooseSavePath = [&](QWidget*, const QString& caption) {
        captions << caption;
        return dir.filePath("saved.xml");
    };
    withContextMenu(pane->viewport(), at, [](QMenu* menu) {
        const QList<QAction*> actions = menu->actions();
        ASSERT_GE(actions.size(), 6);
        EXPECT_TRUE(actions[actions.size() - 6]->isSeparator());
        EXPECT_EQ(actions[actions.size() - 5]->text(), "Clear");
        EXPECT_EQ(actions[actions.size() - 4]->text(), "Select packet");
        EXPECT_TRUE(actions[actions.size() - 3]->isSeparator());
        EXPECT_EQ(actions[actions.size() - 2]->text(), "Save packet as...");
        EXPECT_EQ(actions.last()->text(), "Save output as...");
        EXPECT_TRUE(actions[actions.size() - 2]->isEnabled());
        actions[actions.size() - 4]->trigger();
    });
    EXPECT_EQ(pane->selectedText(), "two");

    withContextMenu(pane->viewport(), at,
                    [](QMenu* menu) { menu->actions()[menu->actions().size() - 2]->trigger(); });
    EXPECT_EQ(captions, QStringList{"Save packet as..."});
    QFile saved(dir.filePath("saved.xml"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "two");

    // Below the last entry there is no packet to save.
    pane->resize(400, 400);
    withContextMenu(pane->viewport(), QPoint(200, 390), [](QMenu* menu) {
        EXPECT_FALSE(menu->actions()[menu->actions().size() - 2]->isEnabled());
        EXPECT_TRUE(menu->actions().last()->isEnabled());
    });

    withContextMenu(pane->viewport(), at,
                    [](QMenu* menu) { menu->actions()[menu->actions().size() - 5]->trigger(); });
    EXPECT_EQ(pane->entryCount(), 0);
    EXPECT_TRUE(pane->toPlainText().isEmpty());
}

TEST_F(PacketHistory, SavesAnEntryOrTheWholePaneAsUtf8) {
    QTemporaryDir dir;
    QString path;
    const auto readBack = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<none>");
    };
    for (FerrikPacketHistory* shown : {window.histOutput, window.histInput}) {
        pane = shown;
        pane->chooseSavePath = [&](QWidget*, const QString&) { return path; };
        const QString reply = QStringLiteral("<a>Gr\u00fc\u00dfe \u20ac \U0001D11E</a>\n  <b/>");
        window.appendText(pane, "<b>bold</b> &amp;", true, true);
        window.appendText(pane, reply, false, true);
        window.appendText(pane, QString(20000, QLatin1Char('x')), false, false);  // shown in pieces
        finishAppending(window);

        path = dir.filePath(pane->objectName() + "-packet.xml");
        pane->setMenuPoint(pointAt("Gr\u00fc"));
        pane->savePacket();
        EXPECT_EQ(readBack(), reply);
        pane->setMenuPoint(pointAt("bold"));
        pane->savePacket();  // an existing file is replaced
        EXPECT_EQ(readBack(), "bold &");

        path = dir.filePath(pane->objectName() + "-pane.txt");
        pane->saveOutput();
        EXPECT_EQ(readBack(), "bold &\n" + reply + "\n" + QString(20000, QLatin1Char('x')));
    }

    // Cancelling the file dialog writes nothing.
    path.clear();
    pane->saveOutput();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);
}

TEST_F(PacketHistory, AFailedSaveSaysWhyAndLeavesNoFile) {
    window.appendText(pane, "keep", false, true);
    finishAppending(window);
    QTemporaryDir dir;
    QFile blocker(dir.filePath("plain-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QDir locked(dir.filePath("locked"));
    ASSERT_TRUE(locked.mkpath("."));
    QFile::setPermissions(locked.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    // A directory that nobody may write into, a read-only one (not for root), one below a file.
    QStringList targets{"/proc/ferrik-saved.xml", dir.filePath("plain-file/saved.xml")};
    if (::geteuid() != 0) {
        targets << locked.filePath("saved.xml");
    }
    for (const QString& target : targets) {
        pane->chooseSavePath = [&](QWidget*, const QString&) { return target; };
        const int entries = pane->entryCount();
        pane->setMenuPoint(pointAt("keep"));
        pane->savePacket();
        finishAppending(window);
        ASSERT_EQ(pane->entryCount(), entries + 1) << target.toStdString();
        EXPECT_TRUE(pane->entryText(entries).startsWith("Error: could not save " + target + ": "))
            << pane->entryText(entries).toStdString();
        EXPECT_GT(pane->entryText(entries).size(), QString("Error: could not save " + target + ": ").size());
        EXPECT_FALSE(QFile::exists(target));
    }
    EXPECT_EQ(QDir(locked.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QFile::setPermissions(locked.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace
