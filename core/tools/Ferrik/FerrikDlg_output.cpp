// FerrikDlg: the transcript panes and the processing of agent replies.
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTimer>

#include "FerrikDlg.h"
#include "TextOps.h"

namespace {

// End of the piece of text that starts at `from`: about FerrikDlg::kEntryChunk characters, extended
// to the end of the line so that a piece ends where the text has a line break.
qsizetype pieceEnd(const QString& text, qsizetype from) {
    const qsizetype end = from + FerrikDlg::kEntryChunk;
    if (end >= text.size()) {
        return text.size();
    }
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), end);
    return lineEnd < 0 ? text.size() : lineEnd + 1;
}

void insertRule(QTextCursor& cursor) {
    QTextBlockFormat ruled;
    ruled.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                      QTextLength(QTextLength::PercentageLength, 90.0));
    cursor.insertBlock(ruled);
}

bool atEnd(const QScrollBar* bar) {
    return bar->value() >= bar->maximum();
}

}  // namespace

void FerrikDlg::appendText(QTextEdit* pane, const QString& text, bool html, bool rule) {
    PendingEntry entry;
    entry.pane = pane;
    entry.text = text;
    entry.html = html;
    entry.rule = rule;
    if (!pendingEntries.empty()) {
        pendingEntries.push_back(std::move(entry));
        return;
    }
    startEntry(std::move(entry));
}

bool FerrikDlg::addPiece(PendingEntry& entry) {
    QScrollBar* bar = entry.pane->verticalScrollBar();
    const bool follow = atEnd(bar);

    QTextCursor cursor;
    if (entry.started) {
        cursor = entry.frame->lastCursorPosition();
        cursor.joinPreviousEditBlock();  // the entry stays one undo step
    } else {
        cursor = QTextCursor(entry.pane->document());
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        entry.frame = cursor.insertFrame(QTextFrameFormat());
        entry.started = true;
    }
    if (entry.html) {
        cursor.insertFragment(QTextDocumentFragment::fromHtml(entry.text));
        entry.done = entry.text.size();
    } else {
        const qsizetype end = pieceEnd(entry.text, entry.done);
        cursor.insertText(entry.done == 0 && end == entry.text.size()
                              ? entry.text
                              : entry.text.mid(entry.done, end - entry.done));
        entry.done = end;
    }
    const bool complete = entry.done == entry.text.size();
    if (complete && entry.rule) {
        insertRule(cursor);
    }
    cursor.endEditBlock();

    if (follow || scroll) {
        bar->setValue(bar->maximum());
    }
    return complete;
}

void FerrikDlg::startEntry(PendingEntry entry) {
    if (!addPiece(entry)) {
        pendingEntries.push_front(std::move(entry));
        entryTimer->start();
    }
}

void FerrikDlg::continueEntries() {
    while (!pendingEntries.empty()) {
        PendingEntry& entry = pendingEntries.front();
        if (!entry.pane || (entry.started && !entry.frame)) {
            pendingEntries.pop_front();
            continue;
        }
        if (!entry.started) {
            PendingEntry next = std::move(entry);
            pendingEntries.pop_front();
            startEntry(std::move(next));
            if (entryTimer->isActive()) {
                return;  // a long one: its next piece comes on the next turn
            }
            continue;
        }
        if (addPiece(entry)) {
            pendingEntries.pop_front();
        }
        if (!pendingEntries.empty()) {
            entryTimer->start();
        }
        return;
    }
}

void FerrikDlg::onReadFinished(const QString& s) {
    QString text = s;
    if (strip_namespaces) {
        ferrik::stripNamespaces(text);
    }
    if (indent_output) {
        ferrik::indentXml(text, tab);
    }
    appendText(histOutput, text, false, true);
}
