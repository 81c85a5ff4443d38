#pragma once
// The tree of remembered packets beside the input editor. For now a plain tree view: its delete and
// rename actions and context menu arrive together with the history model.

#include <QTreeView>

class FerrikHistoryView : public QTreeView {
    Q_OBJECT
public:
    explicit FerrikHistoryView(QWidget* parent = nullptr);
    ~FerrikHistoryView() override;
};
