// FerrikDlg: the transcript panes and the processing of agent replies.
#include "FerrikDlg.h"
#include "TextOps.h"

void FerrikDlg::appendText(FerrikPacketHistory* pane, const QString& text, bool html, bool rule) {
    pane->appendEntry(text, html, rule, scroll);
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
