// FerrikDlg: the transcript panes and the processing of agent replies.
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>

#include "FerrikDlg.h"
#include "TextOps.h"

void FerrikDlg::appendText(QTextEdit* pane, const QString& text, bool html, bool rule) {
    QScrollBar* bar = pane->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();

    QTextCursor cursor(pane->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    cursor.insertFrame(QTextFrameFormat());
    if (html) {
        cursor.insertFragment(QTextDocumentFragment::fromHtml(text));
    } else {
        cursor.insertText(text);
    }
    if (rule) {
        QTextBlockFormat ruled;
        ruled.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                          QTextLength(QTextLength::PercentageLength, 90.0));
        cursor.insertBlock(ruled);
    }
    cursor.endEditBlock();

    if (atEnd || scroll) {
        bar->setValue(bar->maximum());
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
