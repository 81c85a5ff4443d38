// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Drives the real window against a real ovagent child process (see AgentHarness.h): one agent per
// test suite, the window on the offscreen platform, TLS trust and time-outs of the client library
// kept inside the test's own directory.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "AgentHarness.h"
#include "FerrikDlg.h"
#include "qt_test_support.h"

namespace ferrik_agent_test {

using ferrik_test::waitUntil;

// Runs the event loop for `ms` (to see that nothing more arrives).
inline void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

// The transcript panes' text, once every entry appended so far is in.
inline QString output(const FerrikDlg& window) {
    ferrik_test::finishAppending(window);
    return window.histOutput->toPlainText();
}

inline QString input(const FerrikDlg& window) {
    ferrik_test::finishAppending(window);
    return window.histInput->toPlainText();
}

// How often `needle` occurs in the transcript pane's text.
inline int countIn(const QString& text, const QString& needle) {
    return static_cast<int>(text.count(needle));
}

// Connection form indices of cmbConnType.
enum TypeIndex { kSsh = 0, kNamedPipe = 1, kTcp = 2, kSsl = 3 };

inline void fillForm(FerrikDlg& window, const QString& host, int type, const QString& login = "tester",
                     const QString& password = QString::fromStdString(agent_test::kPassword),
                     const QString& domain = QString(), const QString& realm = "System") {
    window.leHost->setEditText(host);
    window.cmbConnType->setCurrentIndex(type);
    window.leLogin->setText(login);
    window.lePassword->setText(password);
    window.leDomain->setText(domain);
    window.leRealm->setEditText(realm);
}

inline bool isConnected(const FerrikDlg& window) {
    return window.btnConnect->text() == "Dis&connect";
}

// An echo request whose text is `text` (letters and digits only).
inline QString echoPacket(const QString& text) {
    return QStringLiteral(
               "<packet><target>system</target><data><system><echo><text>%1</text></echo></system>"
               "</data></packet>")
        .arg(text);
}

// One agent for the suite, on ephemeral TCP/TLS ports and a Unix socket in a temporary directory.
class AgentWindowTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        dir = std::make_unique<ferrik_test::TempDir>();
        // Set before any window of the suite starts the client library's thread.
        // NOLINTBEGIN(concurrency-mt-unsafe)
        ::setenv("OVL_KNOWN_AGENTS_FILE", dir->file("known_agents").c_str(), 1);
        ::setenv("OVL_CONNECT_TIMEOUT_MS", "4000", 1);
        ::setenv("OVL_REQUEST_TIMEOUT_MS", "4000", 1);
        // NOLINTEND(concurrency-mt-unsafe)
        agent = std::make_unique<agent_test::AgentProcess>(agent_test::testConfig());
    }
    static void TearDownTestSuite() {
        agent.reset();
        dir.reset();
    }

protected:
    static QString tcpHost() { return QStringLiteral("127.0.0.1:%1").arg(agent->tcpPort()); }
    static QString tlsHost() { return QStringLiteral("127.0.0.1:%1").arg(agent->tlsPort()); }
    static QString socketPath() { return QString::fromStdString(agent->socketPath()); }

    // Fills the form and connects; true once the window shows the connection.
    static bool connectWindow(FerrikDlg& window, const QString& host, int type) {
        fillForm(window, host, type);
        window.btnConnect->click();
        return waitUntil([&] { return isConnected(window); });
    }

    static inline std::unique_ptr<ferrik_test::TempDir> dir;
    static inline std::unique_ptr<agent_test::AgentProcess> agent;
};

}  // namespace ferrik_agent_test
