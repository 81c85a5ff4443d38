// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The tree of remembered packets beside the input editor. Its context menu offers "Delete" and
// "Rename", both acting on the current item (not necessarily the one under the mouse), then
// "Export..." and "Import..." (whose triggered() signals the main window handles); only the edit
// key opens the in-place editor, so a double click recalls an entry instead of editing it. The
// model may be a proxy (the filter) over the history model: sourceIndex maps the view's indexes.

#include <QTreeView>

class QAction;

class FerrikHistoryView : public QTreeView {
    Q_OBJECT
public:
    explicit FerrikHistoryView(QWidget* parent = nullptr);
    ~FerrikHistoryView() override;

    QAction* deleteAction() const { return m_deleteAction; }
    QAction* renameAction() const { return m_renameAction; }
    QAction* exportAction() const { return m_exportAction; }
    QAction* importAction() const { return m_importAction; }

    // `index` mapped through every proxy model down to the model that holds the data; an index
    // of a model that is no proxy is returned as it is.
    static QModelIndex sourceIndex(const QModelIndex& index);

public slots:
    // Asks the source model to remove the current row under its parent; it refuses groups.
    void deleteItem();
    // Opens the in-place editor on the current index; only entries are editable.
    void renameItem();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QAction* m_deleteAction;
    QAction* m_renameAction;
    QAction* m_exportAction;
    QAction* m_importAction;
};
