// FerrikDlg: remembering and recalling packets. These slots join with the history model; until
// then they do nothing.
#include "FerrikDlg.h"

void FerrikDlg::addToHistory() {}

void FerrikDlg::histPop(const QModelIndex& index) {
    Q_UNUSED(index);
}

void FerrikDlg::histroyItemChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    Q_UNUSED(topLeft);
    Q_UNUSED(bottomRight);
}

void FerrikDlg::histroyItemRemoved(const QModelIndex& parent, int start, int end) {
    Q_UNUSED(parent);
    Q_UNUSED(start);
    Q_UNUSED(end);
}
