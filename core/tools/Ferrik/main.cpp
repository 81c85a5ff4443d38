// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Ferrik: the agent console. Only --help and --version are interpreted; Qt's own options (such as
// -platform) apply, and any other argument is ignored as it always was.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "FerrikDlg.h"

namespace {

int quitSignalPair[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    if (::write(quitSignalPair[1], &byte, 1) < 0) {
        // Nothing can be done in a signal handler; a second signal tries again.
    }
}

// SIGTERM (the session ending, kill) and SIGINT end the event loop as closing the window does, so
// the window's destructor saves the settings instead of the process dying with them unsaved.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSignalPair) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(quitSignalPair[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// Answers --help and --version, which need no display, before the window's application starts.
// True when the program should end there.
bool answeredHelpOrVersion(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(FERRIK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Desktop console for a management agent. Qt's options (such as -platform offscreen) apply.\n"
        "Manual: Ferrik(1); guide: /usr/share/doc/ferrik/console.md."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    // Unknown options are Qt's or were never interpreted: not an error.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return true;
    }
    if (parser.isSet(version)) {
        std::printf("Ferrik %s\n", FERRIK_VERSION);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredHelpOrVersion(argc, argv)) {
        return 0;
    }
    QApplication app(argc, argv);
    quitOnSignals(app);
    int status = 0;
    {
        FerrikDlg window;
        window.show();
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
        status = QApplication::exec();
    }
    return status;
}
