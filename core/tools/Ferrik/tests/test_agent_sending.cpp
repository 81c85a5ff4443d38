// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Sending from the window to a real agent: raw and parsed mode, queued packets, and the
// substitution of ${field:value} placeholders by environment identifiers.
#include "agent_window_support.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

using namespace ferrik_agent_test;

namespace {

const QString kProdDb =
    "0f6d2b1e-8a4c-4d3b-9e7f-1a2b3c4d5e60";  // config type=database, altConfig role=primary
const QString kTestWeb = "3a9c7e15-2b4d-4f6a-8c1e-9d0b2a3c4e70";  // config type=webserver

// Entries closed by a horizontal rule in a transcript pane, once everything appended is in.
int ruledEntries(const FerrikPacketHistory* pane) {
    ferrik_test::finishAppending(*pane);
    int rules = 0;
    for (int entry = 0; entry < pane->entryCount(); ++entry) {
        rules += pane->entryHasRule(entry) ? 1 : 0;
    }
    return rules;
}

class Sending : public AgentWindowTest {
protected:
    void SetUp() override {
        window = std::make_unique<FerrikDlg>();
        ASSERT_TRUE(connectWindow(*window, tcpHost(), kTcp)) << output(*window).toStdString();
    }
    void setRaw(bool raw) {
        window->raw = raw;
        window->cbRaw_toggled(raw);
    }
    int queueText(const QString& text) {
        window->teInput->setPlainText(text);
        return window->queue();
    }
    void sendText(const QString& text) {
        window->teInput->setPlainText(text);
        window->send();
    }

    std::unique_ptr<FerrikDlg> window;
};

TEST_F(Sending, RawModeSendsQueuedPacketsInOneRequest) {
    setRaw(true);
    ASSERT_EQ(queueText(echoPacket("first")), 0);
    ASSERT_EQ(queueText(echoPacket("second")), 0);
    EXPECT_EQ(window->link->pendingPackets,
              (echoPacket("first") + '\0' + echoPacket("second") + '\0').toUtf8());
    sendText(echoPacket("third"));
    EXPECT_TRUE(window->link->pendingPackets.isEmpty());

    // Each queued packet is shown in the input pane, closed by a rule.
    EXPECT_EQ(ruledEntries(window->histInput), 3);
    EXPECT_TRUE(input(*window).contains(echoPacket("second")));
    ASSERT_TRUE(waitUntil([&] {
        const QString text = output(*window);
        return text.contains(">first<") && text.contains(">second<") && text.contains(">third<");
    })) << output(*window).toStdString();
    const QString text = output(*window);
    EXPECT_LT(text.indexOf(">first<"), text.indexOf(">second<"));
    EXPECT_LT(text.indexOf(">second<"), text.indexOf(">third<"));
    EXPECT_FALSE(input(*window).contains("Sent message ID"));
}

TEST_F(Sending, RawModeShowsEachPieceOfALargeReplyIntact) {
    setRaw(true);
    window->indent_output = false;
    // About 200 KB of two-byte characters: the reply arrives in several pieces, cut anywhere.
    const int count = 100000;
    const int before = ruledEntries(window->histOutput);
    sendText(echoPacket(QString(count, QChar(0x00E9))));
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains("</ns2:echoResult>"); }, 20000));
    const QString text = output(*window);
    EXPECT_EQ(text.count(QChar(0x00E9)), count);
    EXPECT_FALSE(text.contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_GT(ruledEntries(window->histOutput) - before, 1) << "expected the reply in several pieces";
}

TEST_F(Sending, ParsedModeSendsEveryQueuedPacketWithItsOwnId) {
    setRaw(false);
    ASSERT_EQ(queueText(echoPacket("alpha")), 0);
    ASSERT_EQ(queueText("<packet><target>system</target><data>"), 0);  // does not parse
    sendText(echoPacket("gamma"));
    EXPECT_TRUE(window->link->pendingPackets.isEmpty());

    // Queued packets are shown without rule; each sent message gets its id line with a rule.
    const QRegularExpression idLine("Sent message ID: (\\S+)");
    QStringList ids;
    for (auto it = idLine.globalMatch(input(*window)); it.hasNext();) {
        ids << it.next().captured(1);
    }
    ASSERT_EQ(ids.size(), 2) << input(*window).toStdString();
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ruledEntries(window->histInput), 2);
    EXPECT_EQ(countIn(output(*window), "WARNING: can't parse message, try to send as raw!"), 1);

    // Both replies come, in order, each carrying its request's id.
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains(">gamma<"); }))
        << output(*window).toStdString();
    const QString text = output(*window);
    ASSERT_TRUE(text.contains(">alpha<"));
    EXPECT_LT(text.indexOf(">alpha<"), text.indexOf(">gamma<"));
    EXPECT_LT(text.indexOf(ids[0]), text.indexOf(">alpha<"));
    EXPECT_GT(text.indexOf(ids[1]), text.indexOf(">alpha<"));
}

// The entry of histOutput whose text contains needle, or -1.
int entryWith(const FerrikPacketHistory* pane, const QString& needle) {
    for (int entry = 0; entry < pane->entryCount(); ++entry) {
        if (pane->entryText(entry).contains(needle)) {
            return entry;
        }
    }
    return -1;
}

TEST_F(Sending, EveryParsedReplyShowsItsIdTimeAndSize) {
    setRaw(false);
    QLabel* label = window->labelReply;

    ASSERT_EQ(queueText(echoPacket("alpha")), 0);
    sendText(echoPacket(QString(3000, QLatin1Char('g'))));
    const QRegularExpression idLine("Sent message ID: (\\S+)");
    QStringList ids;
    for (auto it = idLine.globalMatch(input(*window)); it.hasNext();) {
        ids << it.next().captured(1);
    }
    ASSERT_EQ(ids.size(), 2);
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains("ggg<"); })) << output(*window).toStdString();

    // Each reply entry carries the figures of its own request, matched by id.
    const QRegularExpression figures("^Reply (\\S+): (\\d+\\.\\d) ms, (\\d+ B|\\d+\\.\\d KB)$");
    const FerrikPacketHistory* pane = window->histOutput;
    for (int k = 0; k < 2; ++k) {
        const int entry = entryWith(pane, k == 0 ? ">alpha<" : "ggg<");
        ASSERT_GE(entry, 0);
        const QRegularExpressionMatch match = figures.match(pane->entryToolTip(entry));
        ASSERT_TRUE(match.hasMatch()) << pane->entryToolTip(entry).toStdString();
        EXPECT_EQ(match.captured(1), ids[k]);
        EXPECT_GT(match.captured(2).toDouble(), 0.0);
        EXPECT_LT(match.captured(2).toDouble(), 4000.0);
        EXPECT_EQ(match.captured(3).endsWith("KB"), k == 1) << match.captured(3).toStdString();
    }
    // The label shows the last reply's figures, the same as its entry's tool tip.
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->text(), pane->entryToolTip(entryWith(pane, "ggg<")));
    EXPECT_EQ(window->link->replyTimes.outstanding(), 0);
    // Status lines and sent notes carry no figures.
    EXPECT_TRUE(pane->entryToolTip(entryWith(pane, "Connected to")).isEmpty());
    EXPECT_TRUE(window->histInput->entryToolTip(0).isEmpty());
}

TEST_F(Sending, RawRepliesShowTheTimeToTheFirstAndTheLastPiece) {
    setRaw(true);
    window->indent_output = false;
    sendText(echoPacket(QString(100000, QChar(0x00E9))));
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains("</ns2:echoResult>"); }, 20000));
    const QRegularExpression figures(
        "^Raw reply: first piece (\\d+\\.\\d) ms, last piece (\\d+\\.\\d) ms, [0-9.]+ KB in (\\d+) pieces$");
    const QRegularExpressionMatch last = figures.match(window->labelReply->text());
    ASSERT_TRUE(last.hasMatch()) << window->labelReply->text().toStdString();
    EXPECT_LE(last.captured(1).toDouble(), last.captured(2).toDouble());
    EXPECT_GT(last.captured(3).toInt(), 1);
    const FerrikPacketHistory* pane = window->histOutput;
    EXPECT_EQ(pane->entryToolTip(pane->entryCount() - 1), window->labelReply->text());

    // A new send starts the count again.
    sendText(echoPacket("again"));
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains(">again<"); }));
    EXPECT_TRUE(window->labelReply->text().startsWith("Raw reply: first piece "))
        << window->labelReply->text().toStdString();
    const QRegularExpressionMatch again =
        QRegularExpression(" in (\\d+) pieces$").match(window->labelReply->text());
    EXPECT_LT(again.hasMatch() ? again.captured(1).toInt() : 1, last.captured(3).toInt());
}

TEST_F(Sending, ParseErrorAloneSendsNothingAndKeepsTheEditor) {
    setRaw(false);
    sendText("<packet>");
    EXPECT_EQ(countIn(output(*window), "WARNING: can't parse message, try to send as raw!"), 1);
    EXPECT_FALSE(input(*window).contains("Sent message ID"));
    EXPECT_TRUE(window->link->pendingPackets.isEmpty());
    EXPECT_EQ(window->teInput->toPlainText(), "<packet>");
}

TEST_F(Sending, PlaceholdersBecomeEnvironmentIds) {
    setRaw(false);
    ASSERT_EQ(queueText(echoPacket("${type:database}")), 0);
    EXPECT_TRUE(output(*window).contains("Initilizing Access Point..."));
    EXPECT_TRUE(output(*window).contains("Successfully Initilized Access Point..."));
    // The first configuration, then the second one (altConfig), then the next environment.
    ASSERT_EQ(queueText(echoPacket("x${role:primary}y${type:webserver}")), 0);
    EXPECT_EQ(QString::fromUtf8(window->link->pendingPackets),
              echoPacket(kProdDb) + '\0' + echoPacket("x" + kProdDb + "y" + kTestWeb) + '\0');
    EXPECT_TRUE(input(*window).contains(echoPacket(kProdDb)));
    sendText(echoPacket("done"));
    ASSERT_TRUE(waitUntil([&] { return output(*window).contains(">done<"); }));
    EXPECT_TRUE(output(*window).contains(">" + kProdDb + "<"));
    // The access point is made once per connection.
    EXPECT_EQ(countIn(output(*window), "Initilizing Access Point..."), 1);
}

TEST_F(Sending, MissingSubstitutionQueuesNothing) {
    window->teInput->setPlainText(echoPacket("${type:database}-${type:nothing}"));
    const QByteArray before = window->link->pendingPackets;
    EXPECT_EQ(window->queue(), -1);
    EXPECT_TRUE(output(*window).contains("WARNING: no substitution found for ${type:nothing}"));
    EXPECT_EQ(window->link->pendingPackets, before);
    EXPECT_EQ(window->teInput->toPlainText(), echoPacket("${type:database}-${type:nothing}"));
    EXPECT_FALSE(input(*window).contains("nothing"));

    // send stops at the failed queue as well.
    window->send();
    EXPECT_EQ(countIn(output(*window), "no substitution found for"), 2);
    EXPECT_FALSE(input(*window).contains("Sent message ID"));
}

TEST_F(Sending, SubstitutionsSwitchedOffLeavePlaceholders) {
    window->substitiotions = false;
    ASSERT_EQ(queueText(echoPacket("${type:database}")), 0);
    EXPECT_EQ(QString::fromUtf8(window->link->pendingPackets), echoPacket("${type:database}") + '\0');
    EXPECT_FALSE(output(*window).contains("Access Point"));
}

TEST_F(Sending, ClearInputEmptiesTheEditorAfterQueuing) {
    window->cbClearInput->setChecked(true);
    ASSERT_EQ(queueText(echoPacket("cleared")), 0);
    EXPECT_TRUE(window->teInput->toPlainText().isEmpty());
}

class SendingDisconnected : public AgentWindowTest {};

TEST_F(SendingDisconnected, QueuingWithSubstitutionsFailsInOrder) {
    FerrikDlg window;
    window.teInput->setPlainText(echoPacket("${type:database}"));
    EXPECT_EQ(window.queue(), -1);
    EXPECT_TRUE(output(window).contains("Initilizing Access Point..."));
    EXPECT_TRUE(output(window).contains("Error: unable to initialize Access Point."));
    EXPECT_TRUE(window.link->pendingPackets.isEmpty());
    // The failed access point is kept until the next connection: later queues fail, and say so.
    EXPECT_EQ(window.queue(), -1);
    EXPECT_EQ(countIn(output(window), "Initilizing Access Point..."), 1);
    EXPECT_EQ(
        countIn(output(window), "Error: no environment list (the Access Point could not be initialized)"), 1);
    EXPECT_TRUE(window.link->pendingPackets.isEmpty());

    // A connection starts afresh, and substitution then works.
    ASSERT_TRUE(connectWindow(window, tcpHost(), kTcp));
    EXPECT_EQ(window.queue(), 0);
    EXPECT_EQ(QString::fromUtf8(window.link->pendingPackets), echoPacket(kProdDb) + '\0');
}

TEST_F(SendingDisconnected, SendWithoutConnectionKeepsTheQueue) {
    FerrikDlg window;
    window.substitiotions = false;
    window.teInput->setPlainText(echoPacket("later"));
    window.send();
    EXPECT_EQ(QString::fromUtf8(window.link->pendingPackets), echoPacket("later") + '\0');
}

// Switching raw mode in the options dialog switches the open connection at once.
TEST_F(Sending, RawOptionFromTheDialogTakesEffectOnTheConnection) {
    ASSERT_FALSE(window->link->taskHandler->isRaw());
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        dialog->findChild<QCheckBox*>("cbRaw")->setChecked(true);
        dialog->findChild<QPushButton*>("okButton")->click();
    });
    window->showOptionsDlg();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(window->raw);
    EXPECT_TRUE(window->link->taskHandler->isRaw());

    sendText(echoPacket("viaoptions"));
    EXPECT_FALSE(input(*window).contains("Sent message ID"));
    EXPECT_TRUE(waitUntil([&] { return output(*window).contains(">viaoptions<"); }));
}

}  // namespace
