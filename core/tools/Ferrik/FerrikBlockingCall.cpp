// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikBlockingCall.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QPromise>
#include <QWidget>

#include <memory>

FerrikBlockingCall::FerrikBlockingCall(QWidget* window, QThreadPool& pool, const QString& waitingFor)
    : window(window), pool(pool), waitingFor(waitingFor) {
    dialogTimer.setSingleShot(true);
    dialogTimer.setInterval(kDialogDelayMs);
    connect(&dialogTimer, &QTimer::timeout, this, [this] {
        progress = new QProgressDialog(tr("Waiting for the agent: %1").arg(this->waitingFor), tr("Cancel"), 0,
                                       0, this->window);
        progress->setWindowTitle(tr("Ferrik"));
        progress->setWindowModality(Qt::NonModal);
        progress->setMinimumDuration(0);
        connect(progress, &QProgressDialog::canceled, this, &FerrikBlockingCall::cancel);
        progress->show();
    });
    connect(&watcher, &QFutureWatcher<int>::finished, this, [this] {
        if (!running) {
            return;
        }
        end();
        emit finished(watcher.future().result());
    });
}

FerrikBlockingCall::~FerrikBlockingCall() {
    // The watcher's future keeps the work's state; the work itself ends on its own.
    watcher.disconnect(this);
    delete progress;
}

void FerrikBlockingCall::start(std::function<int()> work) {
    auto promise = std::make_shared<QPromise<int>>();
    watcher.setFuture(promise->future());
    running = true;
    dialogTimer.start();
    pool.start([promise, work = std::move(work)] {
        promise->start();
        promise->addResult(work());
        promise->finish();
    });
}

void FerrikBlockingCall::cancel() {
    if (!running) {
        return;
    }
    end();
    emit cancelled();
}

void FerrikBlockingCall::end() {
    running = false;
    dialogTimer.stop();
    if (progress) {
        progress->disconnect(this);
        progress->hide();
        progress->deleteLater();
        progress = nullptr;
    }
}

std::optional<int> FerrikBlockingCall::wait() {
    std::optional<int> result;
    if (running) {
        QEventLoop loop;
        connect(this, &FerrikBlockingCall::finished, &loop, [&](int r) {
            result = r;
            loop.quit();
        });
        connect(this, &FerrikBlockingCall::cancelled, &loop, &QEventLoop::quit);
        loop.exec();
        // The application quitting ends every event loop: the wait is then given up.
        cancel();
    }
    return result;
}
