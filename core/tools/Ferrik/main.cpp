// Ferrik: the agent console. No command-line argument is interpreted.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>

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

}  // namespace

int main(int argc, char** argv) {
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
