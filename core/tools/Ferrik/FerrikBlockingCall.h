// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A call of the agent client library that blocks its caller until the agent answers (the access
// point's initializeSync, the system agent's getRealm), made on a worker thread so that the GUI
// thread never waits for the network. While it runs, a progress dialog with "Cancel" appears after
// kDialogDelayMs (so that a quick answer shows no flicker); the window keeps painting and taking
// input meanwhile.
//
// The call ends in exactly one of: finished(result), when the work returned, or cancelled(), when
// the user pressed Cancel or cancel() was called first. After cancelled() the work still runs out
// on its thread (the library bounds it by OVL_REQUEST_TIMEOUT_MS, and closing its connection ends
// it at once); its result is dropped. GUI thread only, except the work itself.

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

class FerrikBlockingCall : public QObject {
    Q_OBJECT
public:
    static constexpr int kDialogDelayMs = 400;

    // window: parent of the progress dialog. pool: the threads the work runs on; the owner waits
    // for it (after closing the connections) before it goes.
    FerrikBlockingCall(QWidget* window, QThreadPool& pool, const QString& waitingFor);
    ~FerrikBlockingCall() override;

    // Starts `work` on a thread of the pool. Once only.
    void start(std::function<int()> work);
    // Ends the wait as cancelled; nothing when it has ended already.
    void cancel();
    // Runs a local event loop until the call has ended; the result, or nothing when cancelled.
    std::optional<int> wait();
    bool isRunning() const { return running; }
    // The progress dialog, once it is shown (tests press its Cancel button).
    QProgressDialog* dialog() const { return progress; }

signals:
    void finished(int result);
    void cancelled();

private:
    void end();

    QPointer<QWidget> window;
    QThreadPool& pool;
    QString waitingFor;
    QFutureWatcher<int> watcher;
    QTimer dialogTimer;
    QPointer<QProgressDialog> progress;
    bool running = false;
};

// Gives up the ownership of a call that has ended; it is deleted on the next turn of the event
// loop, since it may be in the middle of emitting its signal.
inline void releaseLater(std::unique_ptr<FerrikBlockingCall>& call) {
    if (call) {
        call.release()->deleteLater();
    }
}
