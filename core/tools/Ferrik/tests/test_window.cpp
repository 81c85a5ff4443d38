#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMetaMethod>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>
#include <QTextFrame>
#include <QTimer>

#include "FerrikDlg.h"

namespace {

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
    EXPECT_EQ(input->widget(0), window.lstHistory);
    EXPECT_EQ(input->widget(1), window.teInput);

    // Rows, then the splitter, then the find bar.
    QVBoxLayout* rows = window.vboxLayout;
    ASSERT_EQ(rows->count(), 4);
    EXPECT_EQ(rows->itemAt(0)->layout(), window.hboxLayout);
    EXPECT_EQ(rows->itemAt(1)->layout(), window.hboxLayout1);
    EXPECT_EQ(rows->itemAt(2)->widget(), outer);
    EXPECT_EQ(rows->itemAt(3)->widget(), window.frameFind);
}

TEST(Window, TabOrder) {
    FerrikDlg window;
    const QList<QWidget*> expected = {window.leHost,     window.leLogin,    window.leDomain,
                                      window.lePassword, window.btnConnect, window.cmbConnType,
                                      window.btnSend,    window.lstHistory, window.teInput,
                                      window.histInput,  window.histOutput};
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

// The text of the n-th entry (frame) of a pane, line breaks as line feeds.
QString entryText(const QTextEdit* pane, int n) {
    QTextFrame* frame = pane->document()->rootFrame()->childFrames().value(n);
    if (!frame) {
        return QStringLiteral("<no entry>");
    }
    QTextCursor cursor = frame->firstCursorPosition();
    cursor.setPosition(frame->lastPosition(), QTextCursor::KeepAnchor);
    return cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

int frameCount(const QTextDocument* document) {
    return int(document->rootFrame()->childFrames().size());
}

TEST(Output, EveryAppendIsOneFrameWithOptionalRule) {
    FerrikDlg window;
    QTextDocument* document = window.histOutput->document();
    window.appendText(window.histOutput, "", false, false);
    window.appendText(window.histOutput, "<b>x</b>", false, true);
    window.appendText(window.histOutput, "<b>bold</b> &amp;", true, true);
    ASSERT_EQ(frameCount(document), 3);

    const QList<QTextFrame*> frames = document->rootFrame()->childFrames();
    auto blocksOf = [](QTextFrame* frame) {
        QList<QTextBlock> blocks;
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (it.currentBlock().isValid()) {
                blocks << it.currentBlock();
            }
        }
        return blocks;
    };
    EXPECT_EQ(blocksOf(frames[0]).size(), 1);
    const QList<QTextBlock> plain = blocksOf(frames[1]);
    ASSERT_EQ(plain.size(), 2);
    EXPECT_EQ(plain[0].text(), "<b>x</b>");  // markup shown literally
    EXPECT_EQ(plain[1].text(), "");
    const QVariant rule = plain[1].blockFormat().property(QTextFormat::BlockTrailingHorizontalRulerWidth);
    EXPECT_EQ(rule.value<QTextLength>(), QTextLength(QTextLength::PercentageLength, 90.0));
    EXPECT_FALSE(plain[0].blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth));

    const QList<QTextBlock> html = blocksOf(frames[2]);
    ASSERT_EQ(html.size(), 2);
    EXPECT_EQ(html[0].text(), "bold &");
    EXPECT_TRUE(html[0].begin().fragment().charFormat().font().bold());

    // One undo step per entry.
    document->undo();
    EXPECT_EQ(frameCount(document), 2);
}

TEST(Output, ReplyIsStrippedIndentedAndAppended) {
    FerrikDlg window;
    window.strip_namespaces = true;
    window.tab = 2;
    window.onReadFinished("\n<ns1:a xmlns:ns1='u'>\n<ns1:b/>\n</ns1:a>");
    EXPECT_EQ(entryText(window.histOutput, 0), "\n<a xmlns:ns1='u'>\n  <b/>\n</a>\n");

    window.histOutput->clear();
    window.strip_namespaces = false;
    window.indent_output = false;
    window.onReadFinished("\n<ns1:a>\n<b/>");
    EXPECT_EQ(entryText(window.histOutput, 0), "\n<ns1:a>\n<b/>\n");
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
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());  // it stood at the bottom (empty pane)

    bar->setValue(10);
    window.appendText(window.histOutput, many, false, true);
    EXPECT_EQ(bar->value(), 10);

    window.scroll = true;
    window.appendText(window.histOutput, many, false, true);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(Output, LongEntryGoesInPieceByPieceWhileTheWindowRuns) {
    FerrikDlg window;
    QTextDocument* document = window.histOutput->document();
    QString reply;
    for (int i = 0; reply.size() < 3 * FerrikDlg::kEntryChunk; ++i) {
        reply += QStringLiteral("<ns2:line>%1</ns2:line>\n").arg(i);
    }
    window.appendText(window.histOutput, "before", false, true);
    window.appendText(window.histOutput, reply, false, true);
    window.appendText(window.histOutput, "after", false, true);
    // Only the first piece is in; the entry after it waits for its turn.
    EXPECT_TRUE(window.isAppending());
    EXPECT_EQ(frameCount(document), 2);
    EXPECT_FALSE(window.histOutput->toPlainText().contains("after"));

    // The event loop runs between pieces: a timer of the window's thread fires before the end.
    bool ranMeanwhile = false;
    QTimer::singleShot(0, [&] { ranMeanwhile = window.isAppending(); });
    for (int turns = 0; window.isAppending() && turns < 1000; ++turns) {
        QApplication::processEvents();
    }
    EXPECT_TRUE(ranMeanwhile);
    ASSERT_FALSE(window.isAppending());
    ASSERT_EQ(frameCount(document), 3);
    EXPECT_EQ(entryText(window.histOutput, 1), reply + "\n");
    EXPECT_EQ(entryText(window.histOutput, 2), "after\n");

    // Still one undo step for the long entry.
    document->undo();
    document->undo();
    EXPECT_EQ(frameCount(document), 1);
}

TEST(Output, ClearingThePaneDropsTheRestOfALongEntry) {
    FerrikDlg window;
    const QString reply = QString(QStringLiteral("x\n")).repeated(2 * FerrikDlg::kEntryChunk);
    window.appendText(window.histOutput, reply, false, true);
    window.histOutput->clear();
    window.appendText(window.histOutput, "next", false, false);
    for (int turns = 0; window.isAppending() && turns < 1000; ++turns) {
        QApplication::processEvents();
    }
    EXPECT_EQ(window.histOutput->toPlainText().trimmed(), "next");
}

}  // namespace
