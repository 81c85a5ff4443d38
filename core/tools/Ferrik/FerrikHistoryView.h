#pragma once
// The tree of remembered packets beside the input editor. Its context menu offers "Delete" and
// "Rename", both acting on the current item (not necessarily the one under the mouse); only the
// edit key opens the in-place editor, so a double click recalls an entry instead of editing it.

#include <QTreeView>

class QAction;

class FerrikHistoryView : public QTreeView {
    Q_OBJECT
public:
    explicit FerrikHistoryView(QWidget* parent = nullptr);
    ~FerrikHistoryView() override;

    QAction* deleteAction() const { return m_deleteAction; }
    QAction* renameAction() const { return m_renameAction; }

public slots:
    // Asks the model to remove the current row under its parent; the model refuses groups.
    void deleteItem();
    // Opens the in-place editor on the current index; only entries are editable.
    void renameItem();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QAction* m_deleteAction;
    QAction* m_renameAction;
};
