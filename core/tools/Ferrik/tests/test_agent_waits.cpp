// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The window against an agent that stops answering (SIGSTOP): the waits for the environment list
// and the realm list keep the event loop running and end by Cancel or Disconnect, the late answer
// changes nothing, and a request that times out says so. Then a user's whole day in one window.
#include "agent_window_support.h"

#include <dirent.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include <QAction>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "FerrikBlockingCall.h"
#include "OVLFunctionalityCore/OVLRealm.h"

using namespace ferrik_agent_test;

namespace {

// Counts the turns of the event loop that a 20 ms timer gets while a test waits.
struct Ticker {
    Ticker() {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start(20);
    }
    QTimer timer;
    int ticks = 0;
};

// Presses Cancel in the wait dialog of `call`; false when no dialog is shown.
bool pressCancel(FerrikBlockingCall* call) {
    if (call == nullptr || call->dialog() == nullptr || !call->dialog()->isVisible()) {
        return false;
    }
    QPushButton* cancel = call->dialog()->findChild<QPushButton*>();
    if (cancel == nullptr) {
        return false;
    }
    cancel->click();
    return true;
}

// True once a child process of this one stands stopped (state T). SIGSTOP takes effect a moment
// after kill() returns; the suite's own agent is never stopped.
bool aChildIsStopped() {
    DIR* proc = ::opendir("/proc");
    bool stopped = false;
    while (dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == ::getpid() && state == 'T') {
            stopped = true;
            break;
        }
    }
    if (proc != nullptr) {
        ::closedir(proc);
    }
    return stopped;
}

class HungAgent : public AgentWindowTest {
protected:
    void SetUp() override {
        hung = std::make_unique<agent_test::AgentProcess>(agent_test::testConfig());
        window = std::make_unique<FerrikDlg>();
    }
    void TearDown() override {
        hung->signal(SIGCONT);
        window.reset();
        hung.reset();
    }
    void stopHung() {
        hung->signal(SIGSTOP);
        for (int i = 0; i < 400 && !aChildIsStopped(); ++i) {
            QThread::msleep(5);
        }
        ASSERT_TRUE(aChildIsStopped());
    }
    QString hungHost() const { return QStringLiteral("127.0.0.1:%1").arg(hung->tcpPort()); }
    // The realm fetch is confirmed by the agent, which is stopped before the window asks it for
    // the list: the window has not turned its event loop since the press.
    void startRealmFetchThenStop() {
        window->btnGetRealms->click();
        ASSERT_TRUE(window->link->realmAgent);
        for (int i = 0; i < 1000 && !window->link->realmAgent->isConnected(); ++i) {
            QThread::msleep(5);
        }
        ASSERT_TRUE(window->link->realmAgent->isConnected());
        stopHung();
        ASSERT_TRUE(waitUntil([&] { return window->link->realmCall() != nullptr; }));
    }

    std::unique_ptr<agent_test::AgentProcess> hung;
    std::unique_ptr<FerrikDlg> window;
};

TEST_F(HungAgent, SubstitutionWaitsWithoutFreezingAndEndsByCancelOrDisconnect) {
    ASSERT_TRUE(connectWindow(*window, hungHost(), kTcp)) << output(*window).toStdString();
    stopHung();
    window->teInput->setPlainText(echoPacket("${type:database}"));

    Ticker ticker;
    bool painted = false, sendOff = false, queueOff = false, pressed = false;
    int second = 0;
    QTimer::singleShot(FerrikBlockingCall::kDialogDelayMs + 300, [&] {
        painted = output(*window).contains("Initilizing Access Point...");
        sendOff = !window->btnSend->isEnabled();
        queueOff = !window->queueAction->isEnabled();
        second = window->queue();  // cannot overtake the waiting packet
        pressed = pressCancel(window->link->substitutionCall());
    });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(window->queue(), -1);
    EXPECT_LT(elapsed.elapsed(), 3000) << "ended by Cancel, not by the request time-out";
    EXPECT_GT(ticker.ticks, 10);
    EXPECT_TRUE(painted && sendOff && queueOff && pressed);
    EXPECT_EQ(second, -1);
    EXPECT_TRUE(output(*window).contains("Error: still waiting for the agent; nothing was queued"));
    EXPECT_TRUE(output(*window).contains("Error: waiting for the agent was cancelled; nothing was queued"));
    EXPECT_TRUE(window->btnSend->isEnabled());
    EXPECT_TRUE(window->queueAction->isEnabled());

    // The late answer changes nothing; the next queue asks afresh and gets the list.
    hung->signal(SIGCONT);
    settle(500);
    EXPECT_TRUE(window->link->pendingPackets.isEmpty());
    EXPECT_FALSE(window->link->accessPoint);
    EXPECT_FALSE(output(*window).contains("Successfully Initilized Access Point..."));
    EXPECT_FALSE(output(*window).contains("listResult"));
    EXPECT_EQ(window->queue(), 0);
    EXPECT_EQ(countIn(output(*window), "Successfully Initilized Access Point..."), 1);

    // Disconnect ends the wait at once, too.
    window->btnConnect->click();
    ASSERT_TRUE(connectWindow(*window, hungHost(), kTcp));
    stopHung();
    QTimer::singleShot(200, [&] { window->btnConnect->click(); });
    elapsed.restart();
    EXPECT_EQ(window->queue(), -1);
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_FALSE(window->link->agent);
    EXPECT_EQ(window->btnConnect->text(), "&Connect");
    EXPECT_FALSE(window->btnSend->isEnabled());
    EXPECT_TRUE(window->queueAction->isEnabled());
    EXPECT_EQ(countIn(output(*window), "Successfully Initilized Access Point..."), 1);
}

TEST_F(HungAgent, RealmFetchWaitsWithoutFreezingAndEndsByCancelOrDisconnect) {
    fillForm(*window, hungHost(), kTcp);
    startRealmFetchThenStop();
    Ticker ticker;
    bool pressed = false;
    QTimer::singleShot(FerrikBlockingCall::kDialogDelayMs + 300,
                       [&] { pressed = pressCancel(window->link->realmCall()); });
    ASSERT_TRUE(waitUntil([&] { return !window->link->isWaiting(); }, 3000));
    EXPECT_TRUE(pressed);
    EXPECT_GT(ticker.ticks, 10);
    EXPECT_TRUE(
        output(*window).contains("Error: the realm fetch was cancelled; the realm list is unchanged"));

    // The late answer changes nothing.
    hung->signal(SIGCONT);
    settle(500);
    EXPECT_EQ(window->leRealm->count(), 1);
    EXPECT_TRUE(window->hostRecords.empty());
    EXPECT_EQ(window->leLogin->text(), "tester");

    // Disconnect ends a realm fetch's wait as well.
    ASSERT_TRUE(connectWindow(*window, hungHost(), kTcp));
    startRealmFetchThenStop();
    window->btnConnect->click();
    EXPECT_FALSE(window->link->isWaiting());
    EXPECT_EQ(countIn(output(*window), "Error: the realm fetch was cancelled"), 2);
    hung->signal(SIGCONT);
    settle(300);
    EXPECT_EQ(window->leRealm->count(), 1);
}

TEST_F(HungAgent, RequestsThatGetNoReplyShowTheirErrorLine) {
    // The library reads the time-out when a request is sent, from the sending thread (this one).
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    ::setenv("OVL_REQUEST_TIMEOUT_MS", "500", 1);
    window->substitiotions = false;
    ASSERT_TRUE(connectWindow(*window, hungHost(), kTcp));
    stopHung();

    window->teInput->setPlainText(echoPacket("parsed"));
    window->send();
    const QRegularExpressionMatch sent = QRegularExpression("Sent message ID: (\\S+)").match(input(*window));
    ASSERT_TRUE(sent.hasMatch());
    window->raw = true;
    window->cbRaw_toggled(true);
    window->teInput->setPlainText(echoPacket("raw"));
    window->send();
    const bool ended = waitUntil([&] { return countIn(output(*window), "no reply from the agent") == 2; });
    ::setenv("OVL_REQUEST_TIMEOUT_MS", "4000", 1);  // NOLINT(concurrency-mt-unsafe): as above
    ASSERT_TRUE(ended) << output(*window).toStdString();
    const QString text = output(*window);
    EXPECT_TRUE(text.contains("Error: request " + sent.captured(1) + ": no reply from the agent at "))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Error: raw request: no reply from the agent at ")) << text.toStdString();
    EXPECT_TRUE(isConnected(*window));

    // The late replies are shown when they come; a user's disconnect adds no error line.
    hung->signal(SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return output(*window).contains(">raw<"); }));
    window->btnConnect->click();
    settle(200);
    EXPECT_EQ(countIn(output(*window), "Error:"), 2);
}

class WorkingDay : public AgentWindowTest {};

// One window through a user's day on the Unix socket (a host text without port), then a restart.
TEST_F(WorkingDay, ConnectSendReconnectChooseFetchRealmsAndRestart) {
    const QString host = socketPath();
    OVL::OVLGUID lab;
    ASSERT_EQ(lab.fromString("8b2e4c61-7d3f-4e9a-a1b2-3c4d5e6f7a80"), 0);
    const auto connectAsIs = [](FerrikDlg& window) {
        window.btnConnect->click();
        return waitUntil([&] { return isConnected(window) || !window.link->agent; }) && isConnected(window);
    };
    {
        FerrikDlg window;
        window.substitiotions = false;
        ASSERT_TRUE(connectWindow(window, host, kNamedPipe));
        window.teInput->setPlainText(echoPacket("morning"));
        window.btnSend->click();
        ASSERT_TRUE(waitUntil([&] { return output(window).contains(">morning<"); }));

        window.btnConnect->click();
        ASSERT_TRUE(connectAsIs(window)) << "reconnect: " << output(window).toStdString();
        window.btnConnect->click();

        // Another host for a while, then back to the first, chosen from the list.
        ASSERT_TRUE(connectWindow(window, tcpHost(), kTcp));
        window.btnConnect->click();
        window.leLogin->setText("someone");
        const int item = window.leHost->findText(host);
        ASSERT_GE(item, 0);
        window.leHost->setCurrentIndex(item);
        emit window.leHost->textActivated(host);
        EXPECT_EQ(window.leLogin->text(), "tester");
        EXPECT_EQ(window.leRealm->currentText(), "System");
        window.cmbConnType->setCurrentIndex(kNamedPipe);
        ASSERT_TRUE(connectAsIs(window)) << "chosen host: " << output(window).toStdString();

        // Realms fetched while connected; the login keeps its credentials; "Lab" by name.
        window.btnGetRealms->click();
        ASSERT_TRUE(waitUntil([&] { return window.leRealm->count() == 2; }));
        EXPECT_EQ(window.leLogin->text(), "tester");
        EXPECT_EQ(window.leRealm->currentText(), "System");
        EXPECT_TRUE(isConnected(window)) << "the fetch never touches the main connection";
        window.btnConnect->click();
        window.leRealm->setCurrentIndex(window.leRealm->findText("Lab"));
        ASSERT_TRUE(connectAsIs(window)) << "by realm name: " << output(window).toStdString();
        EXPECT_EQ(window.hostRecords.at(host.toStdString()).auth.getRealmID(), lab);
        window.btnConnect->click();
        EXPECT_FALSE(output(window).contains("Error:")) << output(window).toStdString();
        EXPECT_FALSE(output(window).contains("WARNING:")) << output(window).toStdString();
    }
    // The next morning: the window comes back as it was left and connects.
    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), host);
    EXPECT_EQ(window.leLogin->text(), "tester");
    EXPECT_EQ(window.leRealm->currentText(), "Lab");
    EXPECT_EQ(window.cmbConnType->currentIndex(), kNamedPipe);
    window.lePassword->setText(QString::fromStdString(agent_test::kPassword));
    window.substitiotions = false;
    ASSERT_TRUE(connectAsIs(window)) << output(window).toStdString();
    window.teInput->setPlainText(echoPacket("evening"));
    window.btnSend->click();
    EXPECT_TRUE(waitUntil([&] { return output(window).contains(">evening<"); }));
}

}  // namespace
