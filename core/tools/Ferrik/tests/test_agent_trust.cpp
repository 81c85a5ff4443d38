// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The first trust of a TLS agent and a changed certificate, as the window shows them, against a
// real ovagent over TLS.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <cstdlib>
#include <fstream>

#include "agent_window_support.h"

using namespace ferrik_agent_test;

namespace {

// The SHA-256 fingerprint of the agent's certificate as the openssl tool prints it.
QString certificateFingerprint(const std::string& pem) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"x509", "-noout", "-fingerprint", "-sha256", "-in", QString::fromStdString(pem)});
    openssl.waitForFinished();
    const QString out = QString::fromLatin1(openssl.readAllStandardOutput()).trimmed();
    return out.mid(out.indexOf(QLatin1Char('=')) + 1);
}

class Trust : public AgentWindowTest {
protected:
    // Each test starts from its own store; the suite's store is set again afterwards.
    void SetUp() override {
        store = dir->file("trust_" + std::to_string(++count) + "_known_agents");
        // NOLINTNEXTLINE(concurrency-mt-unsafe): no connection is under way between the tests
        ::setenv("OVL_KNOWN_AGENTS_FILE", store.c_str(), 1);
    }
    void TearDown() override {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): as in SetUp
        ::setenv("OVL_KNOWN_AGENTS_FILE", dir->file("known_agents").c_str(), 1);
    }
    static QString key() { return QStringLiteral("127.0.0.1:%1").arg(agent->tlsPort()); }

    std::string store;
    static inline int count = 0;
};

TEST_F(Trust, AFirstTlsConnectionSaysWhichCertificateItTrustedAndWhere) {
    const QString fingerprint = certificateFingerprint(agent->stateDir() + "/tls-cert.pem");
    ASSERT_EQ(fingerprint.size(), 95) << fingerprint.toStdString();
    const QString line = "Trusted on first use: agent " + key() + ", SHA-256 fingerprint " + fingerprint +
                         ", remembered in " + QString::fromStdString(store);
    {
        FerrikDlg window;
        ASSERT_TRUE(connectWindow(window, tlsHost(), kSsl)) << output(window).toStdString();
        const QString text = output(window);
        EXPECT_EQ(countIn(text, line), 1) << text.toStdString();
        // In order: connecting, the trust, then the connection.
        EXPECT_LT(text.indexOf("Connecting to"), text.indexOf(line));
        EXPECT_LT(text.indexOf(line), text.indexOf("Connected to"));
        window.btnConnect->click();
    }
    // The store holds the same fingerprint, so a user can compare the two.
    QFile file(QString::fromStdString(store));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), key() + " " + fingerprint + "\n");

    // Known from now on: no line again, also not for the realm fetch.
    FerrikDlg again;
    ASSERT_TRUE(connectWindow(again, tlsHost(), kSsl));
    again.btnGetRealms->click();
    ASSERT_TRUE(waitUntil([&] { return again.leRealm->count() > 1; })) << output(again).toStdString();
    EXPECT_FALSE(output(again).contains("Trusted on first use")) << output(again).toStdString();
    again.btnConnect->click();
}

TEST_F(Trust, TheRealmFetchSaysAFirstTrustToo) {
    FerrikDlg window;
    fillForm(window, tlsHost(), kSsl);
    window.btnGetRealms->click();
    ASSERT_TRUE(waitUntil([&] { return window.leRealm->count() > 1; })) << output(window).toStdString();
    EXPECT_EQ(countIn(output(window), "Trusted on first use: agent " + key()), 1)
        << output(window).toStdString();
}

TEST_F(Trust, AChangedCertificateIsRefusedInARedLineThatSaysHowToAcceptIt) {
    const std::string old = "AA:BB:CC";
    std::ofstream(store) << key().toStdString() << " " << old << "\n";
    FerrikDlg window;
    fillForm(window, tlsHost(), kSsl);
    window.btnConnect->click();
    ASSERT_TRUE(waitUntil([&] { return output(window).contains("Disconnected:"); }));
    EXPECT_FALSE(isConnected(window));
    const FerrikPacketHistory* pane = window.histOutput;
    const int entry = pane->entryCount() - 1;
    const QString text = pane->entryText(entry);
    EXPECT_TRUE(text.startsWith("Disconnected:the TLS certificate of agent " + key() + " changed"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(old)));
    EXPECT_TRUE(text.contains("To accept the new certificate, remove the line of " + key() + " from " +
                              QString::fromStdString(store)))
        << text.toStdString();
    EXPECT_FALSE(output(window).contains("Trusted on first use"));
    // The whole line is red, as every failure the user must act on.
    const int line = pane->lines().entryFirstLine(entry);
    bool red = false;
    for (const QTextLayout::FormatRange& range : pane->lineFormats(line)) {
        red = red || (range.start == 0 && range.format.foreground().color() == QColor(Qt::red));
    }
    EXPECT_TRUE(red);
    // The store keeps the old line: nothing was accepted.
    std::ifstream in(store);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), key().toStdString() + " " + old + "\n");
}

}  // namespace
