#include "FerrikHistoryView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

FerrikHistoryView::FerrikHistoryView(QWidget* parent)
    : QTreeView(parent),
      m_deleteAction(new QAction(tr("Delete"), this)),
      m_renameAction(new QAction(tr("Rename"), this)) {
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    connect(m_deleteAction, &QAction::triggered, this, &FerrikHistoryView::deleteItem);
    connect(m_renameAction, &QAction::triggered, this, &FerrikHistoryView::renameItem);
}

FerrikHistoryView::~FerrikHistoryView() = default;

void FerrikHistoryView::deleteItem() {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || model() == nullptr) {
        return;
    }
    model()->removeRows(current.row(), 1, current.parent());
}

void FerrikHistoryView::renameItem() {
    edit(currentIndex());
}

void FerrikHistoryView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(m_deleteAction);
    menu.addAction(m_renameAction);
    menu.exec(event->globalPos());
    event->accept();
}
