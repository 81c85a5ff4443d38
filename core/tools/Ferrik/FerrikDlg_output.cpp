// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: the transcript panes and the processing of agent replies.
#include <QtConcurrent/QtConcurrentRun>

#include <QLabel>

#include <QPromise>

#include <utility>

#include "FerrikDlg.h"
#include "TextOps.h"

void FerrikDlg::appendText(FerrikPacketHistory* pane, const QString& text, bool html, bool rule,
                           const QString& toolTip) {
    pane->appendEntry(text, html, rule, scroll, toolTip);
}

void FerrikDlg::appendText(FerrikPacketHistory* pane, const QFuture<QString>& text, bool rule,
                           const QString& toolTip) {
    pane->appendEntry(text, rule, scroll, toolTip);
}

void FerrikDlg::showReplyFigures(const QString& figures) {
    labelReply->setText(figures);
    labelReply->show();
    nextReplyTip = figures;
}

void FerrikDlg::onReadFinished(const QString& s) {
    const QString tip = std::exchange(nextReplyTip, QString());
    if (s.size() > FerrikPacketHistory::kStepChars) {
        // A long reply is stripped and indented on a pool thread, so that the window keeps
        // painting meanwhile; its entry keeps its place before anything appended later. Its first
        // lines (about one step of the pane) come as a part of their own, so that they show at
        // once, while the rest is still being prepared.
        const bool strip = strip_namespaces;
        const bool indent = indent_output;
        const int unit = tab;
        appendText(
            histOutput, QtConcurrent::run([s, strip, indent, unit](QPromise<QString>& promise) {
                const qsizetype cut = ferrik::replyCut(s, FerrikPacketHistory::kStepChars, strip);
                qint64 depth = 0;
                for (const auto& [from, to] : {std::pair<qsizetype, qsizetype>(0, cut), {cut, s.size()}}) {
                    if (from >= to) {
                        continue;
                    }
                    QString part = s.sliced(from, to - from);
                    if (strip) {
                        ferrik::stripNamespaces(part);
                    }
                    if (indent) {
                        ferrik::indentXml(part, unit, depth);
                    }
                    promise.addResult(std::move(part));
                }
            }),
            true, tip);
        return;
    }
    QString text = s;
    if (strip_namespaces) {
        ferrik::stripNamespaces(text);
    }
    if (indent_output) {
        ferrik::indentXml(text, tab);
    }
    appendText(histOutput, text, false, true, tip);
}
