// FerrikDlg: remembering and recalling packets. Every change of the history saves the settings.
#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"

void FerrikDlg::addToHistory() {
    historyModel->addEntry(HistoryEntry(teInput->toPlainText()));
    saveSettings();
}

void FerrikDlg::histPop(const QModelIndex& index) {
    if (index.internalPointer() == nullptr) {
        return;
    }
    teInput->setPlainText(static_cast<const HistoryEntry*>(index.internalPointer())->packet);
}

void FerrikDlg::histroyItemChanged(const QModelIndex& /*topLeft*/, const QModelIndex& /*bottomRight*/) {
    saveSettings();
}

void FerrikDlg::histroyItemRemoved(const QModelIndex& /*parent*/, int /*start*/, int /*end*/) {
    saveSettings();
}
