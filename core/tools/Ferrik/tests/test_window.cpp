// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMetaMethod>
#include <QPromise>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include "FerrikDlg.h"
#include "TextOps.h"

namespace {

using ferrik_test::finishAppending;

template <typename T>
T* child(const QWidget& window, const char* name) {
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(Window, StartsWithTheFormDefaults) {
    FerrikDlg window;
    EXPECT_EQ(window.objectName(), "FerrikDlg");
    EXPECT_EQ(window.windowTitle(), "Ferrik");
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(child<QLineEdit>(window, "leLogin")->text(), "peadmin");
    EXPECT_EQ(child<QLineEdit>(window, "lePassword")->text(), "5t6y7u");
    EXPECT_EQ(child<QLineEdit>(window, "lePassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QLineEdit>(window, "leDomain")->text(), "");
    EXPECT_EQ(child<QComboBox>(window, "leHost")->currentText(), "");
    EXPECT_TRUE(child<QComboBox>(window, "leHost")->isEditable());
    EXPECT_EQ(child<QComboBox>(window, "leHost")->insertPolicy(), QComboBox::NoInsert);
    EXPECT_EQ(child<QComboBox>(window, "leHost")->minimumWidth(), 150);
    auto* realm = child<QComboBox>(window, "leRealm");
    EXPECT_EQ(realm->count(), 1);
    EXPECT_EQ(realm->currentText(), "System");
    EXPECT_FALSE(realm->itemData(0).isValid());

    auto* type = child<QComboBox>(window, "cmbConnType");
    ASSERT_EQ(type->count(), 4);
    EXPECT_EQ(type->itemText(0), "SSH");
    EXPECT_EQ(type->itemText(1), "Named PIPE");
    EXPECT_EQ(type->itemText(2), "TCP");
    EXPECT_EQ(type->itemText(3), "SSL");
    EXPECT_EQ(type->currentText(), "TCP");

    EXPECT_EQ(child<QPushButton>(window, "btnConnect")->text(), "&Connect");
    EXPECT_EQ(child<QPushButton>(window, "btnConnect")->shortcut(), QKeySequence("Alt+C"));
    EXPECT_EQ(child<QPushButton>(window, "btnSend")->text(), "&Send");
    EXPECT_EQ(child<QPushButton>(window, "btnSend")->shortcut(), QKeySequence("Alt+S"));
    EXPECT_FALSE(child<QPushButton>(window, "btnSend")->isEnabled());
    EXPECT_EQ(child<QPushButton>(window, "btnRemember")->text(), "&Remember");
    EXPECT_EQ(child<QPushButton>(window, "btnOptions")->text(), "&Options");
    EXPECT_EQ(child<QPushButton>(window, "btnGetRealms")->text(), "Get Realms");
    EXPECT_EQ(child<QPushButton>(window, "btnDecode")->text(), "Decode");
    EXPECT_EQ(child<QPushButton>(window, "btnEncode")->text(), "Encode");
    EXPECT_EQ(child<QCheckBox>(window, "cbClearInput")->text(), "Clear Input");
    EXPECT_FALSE(child<QCheckBox>(window, "cbClearInput")->isChecked());
    EXPECT_EQ(child<QLabel>(window, "textLabel1")->buddy(), window.leHost);
    EXPECT_EQ(child<QLabel>(window, "textLabel3")->buddy(), window.lePassword);
    EXPECT_EQ(child<QLabel>(window, "textLabel1_3")->buddy(), window.leRealm);

    EXPECT_FALSE(window.raw);
    EXPECT_TRUE(window.scroll);
    EXPECT_TRUE(window.indent_output);
    EXPECT_FALSE(window.strip_namespaces);
    EXPECT_TRUE(window.substitiotions);
    EXPECT_EQ(window.tab, 4);
    EXPECT_TRUE(window.link->pendingPackets.isEmpty());
    EXPECT_FALSE(window.link->envId.isValid());
}

TEST(Window, PanesAndFindBar) {
    FerrikDlg window;
    auto* input = child<FerrikTextEditor>(window, "teInput");
    EXPECT_EQ(input->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(input->tabStopDistance(), 10.0);
    EXPECT_EQ(input->frameShadow(), QFrame::Plain);
    for (const char* name : {"histInput", "histOutput"}) {
        auto* pane = child<FerrikPacketHistory>(window, name);
        EXPECT_TRUE(pane->isReadOnly()) << name;
        EXPECT_EQ(pane->tabStopDistance(), 10.0) << name;
        EXPECT_EQ(pane->frameShadow(), QFrame::Plain) << name;
    }
    EXPECT_TRUE(child<QFrame>(window, "frameFind")->isHidden());
    EXPECT_TRUE(child<QLabel>(window, "labelWrapped")->isHidden());
    EXPECT_EQ(window.labelWrapped->text(), "<img src=\":/icons/images/wrap.png\">&nbsp;Search wrapped");
    EXPECT_EQ(window.labelWrapped->textFormat(), Qt::RichText);
    EXPECT_EQ(child<QToolButton>(window, "toolPrevious")->text(), "Previous");
    EXPECT_EQ(child<QToolButton>(window, "toolNext")->text(), "Next");
    EXPECT_EQ(window.toolNext->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    EXPECT_TRUE(window.toolClose->autoRaise());
    EXPECT_FALSE(window.toolClose->icon().isNull());
    EXPECT_EQ(child<QCheckBox>(window, "checkCase")->text(), "Case Sensitive");
    EXPECT_EQ(child<QCheckBox>(window, "checkWholeWords")->text(), "Whole words");
    EXPECT_FALSE(window.checkCase->isChecked());
    EXPECT_FALSE(window.checkWholeWords->isChecked());

    EXPECT_EQ(window.findTimer->interval(), 5000);
    EXPECT_TRUE(window.findTimer->isSingleShot());
    EXPECT_FALSE(window.findTimer->isActive());
}

TEST(Window, SplittersArrangeInputAboveTranscripts) {
    FerrikDlg window;
    auto* outer = qobject_cast<QSplitter*>(window.frmInput->parentWidget());
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->orientation(), Qt::Vertical);
    EXPECT_EQ(outer->parentWidget(), &window);
    ASSERT_EQ(outer->count(), 2);
    EXPECT_EQ(outer->widget(0), window.frmInput);
    auto* transcripts = qobject_cast<QSplitter*>(outer->widget(1));
    ASSERT_NE(transcripts, nullptr);
    EXPECT_EQ(transcripts->orientation(), Qt::Vertical);
    ASSERT_EQ(transcripts->count(), 2);
    EXPECT_EQ(transcripts->widget(0), window.histInput);
    EXPECT_EQ(transcripts->widget(1), window.histOutput);

    auto* input = qobject_cast<QSplitter*>(window.hboxLayout2->itemAt(0)->widget());
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->orientation(), Qt::Horizontal);
    // The history's pane: the filter field above the tree.
    ASSERT_NE(input->widget(0)->layout(), nullptr);
    EXPECT_EQ(input->widget(0)->layout()->itemAt(0)->widget(), window.editHistoryFilter);
    EXPECT_EQ(input->widget(0)->layout()->itemAt(1)->widget(), window.lstHistory);
    EXPECT_EQ(input->widget(1), window.teInput);

    // Rows, then the splitter, the find bar and the reply status line.
    QVBoxLayout* rows = window.vboxLayout;
    ASSERT_EQ(rows->count(), 5);
    EXPECT_EQ(rows->itemAt(0)->layout(), window.hboxLayout);
    EXPECT_EQ(rows->itemAt(1)->layout(), window.hboxLayout1);
    EXPECT_EQ(rows->itemAt(2)->widget(), outer);
    EXPECT_EQ(rows->itemAt(3)->widget(), window.frameFind);
    EXPECT_EQ(rows->itemAt(4)->widget(), window.labelReply);
    EXPECT_FALSE(window.labelReply->isVisible());  // until a reply came
}

TEST(Window, TabOrder) {
    FerrikDlg window;
    const QList<QWidget*> expected = {window.leHost,     window.leLogin,           window.leDomain,
                                      window.lePassword, window.btnConnect,        window.cmbConnType,
                                      window.btnSend,    window.editHistoryFilter, window.lstHistory,
                                      window.teInput,    window.histInput,         window.histOutput};
    QList<QWidget*> order;
    QWidget* w = window.leHost;
    for (int steps = 0; steps < 200 && order.size() < expected.size(); ++steps, w = w->nextInFocusChain()) {
        if (expected.contains(w) && !order.contains(w)) {
            order.append(w);
        }
    }
    EXPECT_EQ(order, expected);
}

TEST(Window, IconsAreCompiledInAndSharp) {
    for (const char* name : {"ferrik", "next", "previous", "close", "wrap"}) {
        const QString path = QStringLiteral(":/icons/images/%1.png").arg(QLatin1String(name));
        ASSERT_TRUE(QFile::exists(path)) << name;
        const QImage image(path);
        EXPECT_GE(image.width(), 64) << name;
        EXPECT_GE(image.height(), 64) << name;
    }
}

TEST(Window, SlotsInMetaObjectOrder) {
    const QMetaObject& meta = FerrikDlg::staticMetaObject;
    QStringList names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        EXPECT_EQ(method.methodType(), QMetaMethod::Slot) << method.methodSignature().constData();
        names << QString::fromLatin1(method.methodSignature());
    }
    EXPECT_EQ(names, QStringList({"connectClicked()",
                                  "send()",
                                  "queue()",
                                  "cbRaw_toggled(bool)",
                                  "updateCreds(QString)",
                                  "showOptionsDlg()",
                                  "addToHistory()",
                                  "histPop(QModelIndex)",
                                  "findNext()",
                                  "findPrevious()",
                                  "onConnect(OVL::eid_t)",
                                  "onDisconnect(OVL::OVLRequestErrorData)",
                                  "onReadFinished(QString)",
                                  "onWriteFinished()",
                                  "getRealms()",
                                  "realmsConnect(OVL::eid_t)",
                                  "histroyItemChanged(QModelIndex,QModelIndex)",
                                  "histroyItemRemoved(QModelIndex,int,int)",
                                  "searchOutput(QString,bool,bool)",
                                  "searchOutput(QString,bool)",
                                  "searchOutput(QString)"}));
    EXPECT_EQ(meta.method(meta.indexOfSlot("queue()")).returnType(), QMetaType::Int);
    EXPECT_EQ(meta.method(meta.indexOfSlot("searchOutput(QString,bool,bool)")).access(),
              QMetaMethod::Private);
    EXPECT_EQ(meta.method(meta.indexOfSlot("findNext()")).access(), QMetaMethod::Public);
}

TEST(Window, MetaObjectNamesAndFormBase) {
    FerrikDlg window;
    EXPECT_STREQ(window.metaObject()->className(), "FerrikDlg");
    EXPECT_EQ(window.qt_metacast("Ui::FerrikDlg"), static_cast<Ui::FerrikDlg*>(&window));
    EXPECT_EQ(FerrikDlg::staticMetaObject.methodCount() - FerrikDlg::staticMetaObject.methodOffset(), 21);
    EXPECT_EQ(
        FerrikTextEditor::staticMetaObject.method(FerrikTextEditor::staticMetaObject.methodOffset()).name(),
        "base64Encode");
    EXPECT_EQ(
        FerrikPacketHistory::staticMetaObject.method(FerrikPacketHistory::staticMetaObject.methodOffset())
            .name(),
        "selectPacket");
}

TEST(Window, EnvironmentIdTravelsThroughQueuedConnections) {
    FerrikDlg window;
    EXPECT_TRUE(QMetaType::fromName("OVL::eid_t").isValid());
    EXPECT_TRUE(QMetaType::fromName("OVL::OVLRequestErrorData").isValid());
    OVL::eid_t eid;
    ASSERT_EQ(eid.generate(), 0);
    EXPECT_TRUE(
        QMetaObject::invokeMethod(&window, "realmsConnect", Qt::QueuedConnection, Q_ARG(OVL::eid_t, eid)));
    QApplication::processEvents();
}

TEST(Window, ControlReturnAnywhereTriggersQueue) {
    FerrikDlg window;
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(window.queueAction->text(), "Queue");
    EXPECT_TRUE(window.actions().contains(window.queueAction));
    QSignalSpy queued(window.queueAction, &QAction::triggered);
    window.teInput->setPlainText("<packet/>");
    for (QWidget* target : {static_cast<QWidget*>(window.teInput), static_cast<QWidget*>(window.leLogin),
                            static_cast<QWidget*>(window.histOutput)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return, Qt::ControlModifier);
    }
    EXPECT_EQ(queued.count(), 3);
    EXPECT_EQ(window.teInput->toPlainText(), "<packet/>");  // the editor took no line feed
}

TEST(Window, EncodeAndDecodeButtonsActOnTheEditor) {
    FerrikDlg window;
    window.teInput->setPlainText("ab");
    window.teInput->selectAll();
    QTest::mouseClick(window.btnEncode, Qt::LeftButton);
    EXPECT_EQ(window.teInput->toPlainText(), "YWI=");
    QTest::mouseClick(window.btnDecode, Qt::LeftButton);
    EXPECT_EQ(window.teInput->toPlainText(), "ab");
}

TEST(Window, ClosingTheWindowEndsTheEventLoop) {
    auto* window = new FerrikDlg;
    window->setAttribute(Qt::WA_DeleteOnClose);
    const QMetaObject::Connection quitOnLastClose =
        QObject::connect(qApp, &QApplication::lastWindowClosed, qApp, &QApplication::quit);
    QTimer::singleShot(0, window, &QWidget::close);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    QObject::disconnect(quitOnLastClose);
}

// --- output rendering ---

QString entryText(const FerrikPacketHistory* pane, int n) {
    return n < pane->entryCount() ? pane->entryText(n) : QStringLiteral("<no entry>");
}

// The formats the pane applies at one character of a display line, merged in their order.
QTextCharFormat formatAt(const FerrikPacketHistory* pane, int line, int at) {
    QTextCharFormat merged;
    for (const QTextLayout::FormatRange& range : pane->lineFormats(line)) {
        if (at >= range.start && at < range.start + range.length) {
            merged.merge(range.format);
        }
    }
    return merged;
}

TEST(Output, EveryAppendIsOneEntryWithOptionalRule) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    window.appendText(pane, "", false, false);
    window.appendText(pane, "<b>x</b>\n", false, true);
    window.appendText(pane, "<b>bold</b> &amp;", true, true);
    window.appendText(pane, "", false, true);
    finishAppending(window);
    ASSERT_EQ(pane->entryCount(), 4);
    EXPECT_EQ(pane->entryText(0), "");
    EXPECT_FALSE(pane->entryHasRule(0));
    EXPECT_EQ(pane->entryText(1), "<b>x</b>\n");  // markup shown literally
    EXPECT_TRUE(pane->entryHasRule(1));
    EXPECT_EQ(pane->entryText(2), "bold &");
    EXPECT_TRUE(pane->entryHasRule(2));
    EXPECT_TRUE(pane->entryHasRule(3));
    EXPECT_EQ(pane->toPlainText(), "\n<b>x</b>\n\nbold &\n");  // rules are no text

    // Display lines: "", "<b>x</b>", "", rule, "bold &", rule, "", rule.
    const FerrikTextStore& lines = pane->lines();
    ASSERT_EQ(lines.lineCount(), 8);
    for (int line = 0; line < lines.lineCount(); ++line) {
        EXPECT_EQ(bool(lines.line(line).flags & FerrikTextStore::Rule), line == 3 || line == 5 || line == 7)
            << line;
    }

    // HTML status lines keep their bold and colour; the plain entry after one does not inherit them.
    EXPECT_GE(formatAt(pane, 4, 0).fontWeight(), int(QFont::Bold));
    window.appendText(pane, "<font color='red'>red</font>", true, false);
    window.appendText(pane, "plain", false, false);
    finishAppending(window);
    const int last = lines.lineCount() - 1;
    EXPECT_EQ(lines.lineText(last), QStringLiteral("plain"));
    EXPECT_EQ(formatAt(pane, last - 1, 0).foreground().color(), QColor(Qt::red));
    EXPECT_FALSE(formatAt(pane, last, 0).hasProperty(QTextFormat::FontWeight));
    EXPECT_FALSE(formatAt(pane, last, 0).hasProperty(QTextFormat::ForegroundBrush));
}

// The pane paints what it holds: text in its colours, the rule at 90 % of the width, the selection.
TEST(Output, PanePaintsTextRulesAndSelection) {
    FerrikPacketHistory pane;
    pane.resize(400, 200);
    pane.appendEntry("<font color='#ff0000'>XXXXXXXX</font>", true, true, true);
    pane.appendEntry("plain text", false, false, true);
    finishAppending(pane);
    const auto count = [](const QImage& image, int top, int bottom, const std::function<bool(QColor)>& test) {
        int n = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    const QImage image = pane.viewport()->grab().toImage();
    const int lineHeight = pane.positionRect(0).height();
    ASSERT_GT(lineHeight, 0);
    const auto red = [](QColor c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; };
    EXPECT_GT(count(image, 0, FerrikPacketHistory::kMargin + lineHeight, red), 10);

    // The rule's row: a run of dark pixels over about 90 % of the text width, centred.
    const int ruleTop = FerrikPacketHistory::kMargin + lineHeight;
    const QColor base = pane.palette().color(QPalette::Base);
    int left = image.width(), right = -1;
    for (int y = ruleTop; y < ruleTop + lineHeight; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != base) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    const double textWidth = pane.viewport()->width() - 2 * FerrikPacketHistory::kMargin;
    EXPECT_NEAR(right - left + 1, 0.9 * textWidth, 3.0);
    EXPECT_NEAR((left + right) / 2.0, pane.viewport()->width() / 2.0, 2.0);

    const QColor highlight = pane.palette().color(QPalette::Highlight);
    const auto selected = [&](QColor c) { return c == highlight; };
    EXPECT_EQ(count(image, 0, image.height(), selected), 0);
    pane.selectAll();
    EXPECT_GT(count(pane.viewport()->grab().toImage(), 0, image.height(), selected), 100);
}

TEST(Output, ReplyIsStrippedIndentedAndAppended) {
    FerrikDlg window;
    window.strip_namespaces = true;
    window.tab = 2;
    window.onReadFinished("\n<ns1:a xmlns:ns1='u'>\n<ns1:b/>\n</ns1:a>");
    finishAppending(window);
    EXPECT_EQ(entryText(window.histOutput, 0), "\n<a xmlns:ns1='u'>\n  <b/>\n</a>");

    window.histOutput->clear();
    window.strip_namespaces = false;
    window.indent_output = false;
    window.onReadFinished("\n<ns1:a>\n<b/>");
    finishAppending(window);
    EXPECT_EQ(entryText(window.histOutput, 0), "\n<ns1:a>\n<b/>");
}

TEST(Output, ALongReplyIsPreparedAsideAndKeepsItsPlace) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    window.strip_namespaces = true;
    QString reply = QStringLiteral("\n<ns1:r>\n");
    while (reply.size() <= 4 * FerrikPacketHistory::kStepChars) {
        reply += QStringLiteral("<ns2:a b=\"1\">\n<ns2:c/>\n</ns2:a>\n");
    }
    reply += QStringLiteral("</ns1:r>");
    QString expected = reply;
    ferrik::stripNamespaces(expected);
    ferrik::indentXml(expected, window.tab);

    window.onReadFinished(reply);
    window.appendText(pane, "<b>Disconnected:</b>", true, true);
    EXPECT_TRUE(window.isAppending());
    finishAppending(window);
    ASSERT_EQ(pane->entryCount(), 2);
    EXPECT_EQ(pane->entryText(0), expected);
    EXPECT_TRUE(pane->entryHasRule(0));
    EXPECT_EQ(pane->entryText(1), "Disconnected:");

    // Cleared while the reply is still being prepared: it never shows up.
    window.onReadFinished(reply);
    pane->clear();
    window.appendText(pane, "after", false, false);
    finishAppending(window);
    EXPECT_EQ(pane->toPlainText(), "after");
}

// Text prepared in parts shows part by part; the entry closes (with its rule) once the last part is
// in, and an entry appended meanwhile waits for it.
TEST(Output, AnEntryPreparedInPartsShowsEachPartAsItIsReady) {
    FerrikPacketHistory pane;
    QPromise<QString> promise;
    promise.start();
    pane.appendEntry(promise.future(), true, true);
    pane.appendEntry("after", false, false, true);
    QApplication::processEvents();
    EXPECT_EQ(pane.entryCount(), 0);

    promise.addResult(QStringLiteral("<a>\r\n  <b/>"));
    QTRY_COMPARE(pane.entryCount(), 1);
    EXPECT_EQ(pane.entryText(0), "<a>\n  <b/>");
    EXPECT_TRUE(pane.isAppending());
    promise.addResult(QStringLiteral("\n</a>"));
    QTRY_COMPARE(pane.entryText(0), QStringLiteral("<a>\n  <b/>\n</a>"));
    EXPECT_EQ(pane.entryCount(), 1);
    promise.finish();
    QTRY_VERIFY(!pane.isAppending());
    ASSERT_EQ(pane.entryCount(), 2);
    EXPECT_TRUE(pane.entryHasRule(0));
    EXPECT_EQ(pane.entryText(1), "after");
}

TEST(Output, ScrollFollowsOnlyWhenAtBottomOrAsked) {
    FerrikDlg window;
    window.resize(840, 842);
    QScrollBar* bar = window.histOutput->verticalScrollBar();
    QString many;
    for (int i = 0; i < 200; ++i) {
        many += QStringLiteral("line %1\n").arg(i);
    }
    window.scroll = false;
    window.appendText(window.histOutput, many, false, true);
    finishAppending(window);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());  // it stood at the bottom (empty pane)

    bar->setValue(10);
    window.appendText(window.histOutput, many, false, true);
    finishAppending(window);
    EXPECT_EQ(bar->value(), 10);

    window.scroll = true;
    window.appendText(window.histOutput, many, false, true);
    finishAppending(window);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(Output, LongEntryGoesInStepByStepWhileTheWindowRuns) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    QString reply;
    for (int i = 0; reply.size() < 40 * FerrikPacketHistory::kStepChars; ++i) {
        reply += QStringLiteral("<ns2:line>%1</ns2:line>\n").arg(i);
    }
    pane->setTurnBudget(60000);  // "before" is in at once however slow the machine is
    window.appendText(pane, "before", false, true);
    // One step per turn from here on, so that the turns between the steps are certain.
    pane->setTurnBudget(0);
    window.appendText(pane, reply, false, true);
    window.appendText(pane, "after", false, true);
    // The long entry starts on the next turn; the entry after it waits for its turn.
    EXPECT_TRUE(window.isAppending());
    EXPECT_EQ(pane->entryCount(), 1);
    EXPECT_FALSE(pane->toPlainText().contains("after"));

    // The event loop runs between steps: a timer of the window's thread fires before the end.
    bool ranMeanwhile = false;
    QTimer::singleShot(0, [&] { ranMeanwhile = window.isAppending(); });
    finishAppending(window);
    EXPECT_TRUE(ranMeanwhile);
    ASSERT_EQ(pane->entryCount(), 3);
    EXPECT_EQ(pane->entryText(1), reply);
    EXPECT_EQ(pane->entryText(2), "after");
}

// A short entry is in when appendText returns while the turn has budget left; once a turn has
// spent its budget, entries wait for the next turn and still come in order.
TEST(Output, ShortEntriesGoInAtOnceUntilTheTurnsBudgetIsSpent) {
    FerrikPacketHistory pane;
    pane.setTurnBudget(60000);
    for (int i = 0; i < 300; ++i) {
        pane.appendEntry(QString::number(i), false, false, false);
    }
    EXPECT_FALSE(pane.isAppending());
    EXPECT_EQ(pane.entryCount(), 300);

    pane.setTurnBudget(0);  // a turn that has overrun
    pane.appendEntry("late", false, true, false);
    pane.appendEntry(QString(QStringLiteral("x\n")).repeated(FerrikPacketHistory::kStepChars), false, false,
                     false);
    pane.appendEntry("last", false, false, false);
    EXPECT_TRUE(pane.isAppending());
    EXPECT_EQ(pane.entryCount(), 300);
    QTRY_VERIFY(pane.entryCount() > 300);  // the next turns take them in order
    EXPECT_EQ(pane.entryText(300), "late");
    finishAppending(pane);
    ASSERT_EQ(pane.entryCount(), 303);
    EXPECT_TRUE(pane.entryHasRule(300));
    EXPECT_EQ(pane.entryText(302), "last");
}

TEST(Output, ABurstOfEntriesKeepsEveryEntryInOrder) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    const QString body = QString(QStringLiteral("<line/>\n")).repeated(100);
    for (int i = 0; i < 3000; ++i) {  // more than one turn's budget: the rest follows later
        window.appendText(pane, QString::number(i) + body, false, i % 2 == 0);
    }
    finishAppending(window);
    ASSERT_EQ(pane->entryCount(), 3000);
    for (int i : {0, 1, 1499, 2998, 2999}) {
        EXPECT_EQ(pane->entryText(i), QString::number(i) + body) << i;
        EXPECT_EQ(pane->entryHasRule(i), i % 2 == 0) << i;
    }
}

TEST(Output, ALineWithoutBreaksIsShownInPiecesAndCopiedWhole) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    // Tags, long runs without a cut point, and characters outside the BMP across piece ends.
    QString line;
    for (int i = 0; line.size() < 20 * FerrikPacketHistory::kPieceChars; ++i) {
        line += i % 3 ? QStringLiteral("<a x='%1'>").arg(i)
                      : QString(int(FerrikPacketHistory::kPieceChars) / 3, QChar(0x00E9)) +
                            QString::fromUtf8("\U0001F600\U0001F600");
    }
    window.appendText(pane, "a\r\nb", false, false);
    window.appendText(pane, line, false, true);
    window.appendText(pane, "tail", false, false);
    finishAppending(window);
    ASSERT_EQ(pane->entryCount(), 3);
    EXPECT_EQ(pane->entryText(0), "a\nb");  // a CR LF is one line break
    EXPECT_EQ(pane->entryText(1), line);
    EXPECT_EQ(pane->entryText(2), "tail");
    const FerrikTextStore& lines = pane->lines();
    EXPECT_GT(lines.lineCount(), 20);
    for (int i = 0; i < lines.lineCount(); ++i) {
        EXPECT_LE(lines.lineText(i).size(), FerrikPacketHistory::kPieceChars) << i;
        EXPECT_FALSE(lines.lineText(i).startsWith(QChar(0xDE00))) << "a surrogate pair was cut";
    }
    // "Select packet" on the long line, far from its start, copies the whole line.
    const qsizetype middle = pane->entrySelection(1).start() + line.size() / 2;
    pane->ensureVisible(middle);
    pane->setMenuPoint(pane->positionRect(middle).center());
    pane->selectPacket();
    EXPECT_EQ(QApplication::clipboard()->text(), line);

    pane->selectAll();
    pane->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "a\nb\n" + line + "\ntail");
}

TEST(Output, ClearingThePaneDropsWhatIsStillGoingIn) {
    FerrikDlg window;
    const QString reply = QString(QStringLiteral("x\n")).repeated(20 * FerrikPacketHistory::kStepChars);
    window.appendText(window.histOutput, reply, false, true);
    window.appendText(window.histOutput, "queued", false, true);
    ASSERT_TRUE(window.isAppending());
    window.histOutput->clear();
    EXPECT_FALSE(window.isAppending());
    EXPECT_EQ(window.histOutput->entryCount(), 0);
    window.appendText(window.histOutput, "next", false, false);
    finishAppending(window);
    EXPECT_EQ(window.histOutput->toPlainText(), "next");
    EXPECT_EQ(window.histOutput->entryCount(), 1);
}

// Colour of each character of a display line as the pane paints it: the highlighter's
// foreground, or invalid where the pane applies none.
QList<QColor> colours(const FerrikPacketHistory* pane, int line) {
    QList<QColor> out(pane->lines().lineText(line).size());
    for (const QTextLayout::FormatRange& range : pane->lineFormats(line)) {
        for (int i = range.start; i < range.start + range.length && i < out.size(); ++i) {
            out[i] = range.format.foreground().color();
        }
    }
    return out;
}

TEST(Output, PaneColoursItsLinesAndEveryEntryStartsInPlainText) {
    FerrikDlg window;
    FerrikPacketHistory* pane = window.histOutput;
    window.appendText(pane, "<!-- a\nb -->\n<ns1:x y=\"1\">", false, true);
    window.appendText(pane, "<!-- never closed", false, true);
    window.appendText(pane, "text &amp;", false, true);
    finishAppending(window);

    const QColor grey(128, 128, 128), tag(128, 0, 0), prefix(80, 0, 0), green(0, 128, 0);
    EXPECT_EQ(colours(pane, 0), QList<QColor>(6, grey));
    EXPECT_EQ(colours(pane, 1), QList<QColor>(5, grey));  // "b -->"
    const QList<QColor> third = colours(pane, 2);
    ASSERT_EQ(third.size(), 13);
    EXPECT_EQ(third[0], tag);
    EXPECT_EQ(third[1], prefix);
    EXPECT_EQ(third[4], prefix);
    EXPECT_EQ(third[5], tag);
    // The unclosed comment of the second entry does not reach into the third.
    EXPECT_EQ(colours(pane, 4), QList<QColor>(17, grey));
    const QList<QColor> last = colours(pane, 6);
    EXPECT_EQ(last.mid(0, 5), QList<QColor>(5, QColor()));
    EXPECT_EQ(last.mid(5), QList<QColor>(5, green));
}

TEST(Output, FollowsTheEndOfALongReplyUnlessScrolledUp) {
    FerrikDlg window;
    window.resize(840, 842);
    window.scroll = false;
    QScrollBar* bar = window.histOutput->verticalScrollBar();
    const QString reply = QString(QStringLiteral("<a/>\n")).repeated(4 * FerrikPacketHistory::kStepChars);
    window.appendText(window.histOutput, reply, false, true);
    finishAppending(window);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(5);
    window.appendText(window.histOutput, reply, false, true);
    finishAppending(window);
    EXPECT_EQ(bar->value(), 5);
}

// Lines wrap at the pane's width: narrower, they take more rows, and a view at the bottom stays there.
TEST(Output, AResizeRewrapsAndKeepsTheViewAtTheBottom) {
    FerrikPacketHistory pane;
    pane.resize(400, 200);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    for (int i = 0; i < 50; ++i) {
        pane.appendEntry(QStringLiteral("word ").repeated(30), false, false, false);
    }
    finishAppending(pane);
    QScrollBar* bar = pane.verticalScrollBar();
    ASSERT_EQ(bar->value(), bar->maximum());
    // The height of the last entry (shown, since the view follows the end).
    const qsizetype last = pane.entrySelection(49).start();
    const auto height = [&] {
        return pane.positionRect(last + 149).bottom() - pane.positionRect(last).top();
    };
    const int wide = height();
    ASSERT_GT(wide, 0);
    pane.resize(250, 200);
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_GT(height(), wide);
}

}  // namespace
