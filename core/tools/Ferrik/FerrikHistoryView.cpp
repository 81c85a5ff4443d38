// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikHistoryView.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

FerrikHistoryView::FerrikHistoryView(QWidget* parent)
    : QTreeView(parent),
      m_deleteAction(new QAction(tr("Delete"), this)),
      m_renameAction(new QAction(tr("Rename"), this)),
      m_exportAction(new QAction(tr("Export..."), this)),
      m_importAction(new QAction(tr("Import..."), this)) {
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    connect(m_deleteAction, &QAction::triggered, this, &FerrikHistoryView::deleteItem);
    connect(m_renameAction, &QAction::triggered, this, &FerrikHistoryView::renameItem);
}

FerrikHistoryView::~FerrikHistoryView() = default;

QModelIndex FerrikHistoryView::sourceIndex(const QModelIndex& index) {
    QModelIndex source = index;
    while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(source.model())) {
        source = proxy->mapToSource(source);
    }
    return source;
}

void FerrikHistoryView::deleteItem() {
    // Row numbers of a filtered view are not those of the history: remove in the source model.
    const QModelIndex current = sourceIndex(currentIndex());
    if (!current.isValid()) {
        return;
    }
    const_cast<QAbstractItemModel*>(current.model())->removeRows(current.row(), 1, current.parent());
}

void FerrikHistoryView::renameItem() {
    edit(currentIndex());
}

void FerrikHistoryView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(m_deleteAction);
    menu.addAction(m_renameAction);
    menu.addSeparator();
    menu.addAction(m_exportAction);
    menu.addAction(m_importAction);
    menu.exec(event->globalPos());
    event->accept();
}
