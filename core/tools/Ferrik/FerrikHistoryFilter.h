// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The history tree as the window shows it: FerMsgHistoryModel behind a proxy that narrows it to
// the entries whose target, label or packet text contains the filter text, ignoring case. A group
// is shown while at least one of its entries is; with no filter text everything is shown, empty
// groups included. Source order is kept (no sorting). Actions that take an index of the view map
// it to the source model first (FerrikHistoryView::sourceIndex). GUI thread only.

#include <QSortFilterProxyModel>
#include <QString>

class FerrikHistoryFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit FerrikHistoryFilter(QObject* parent = nullptr);

    const QString& filterText() const { return m_text; }
    // Re-filters at once; an empty text shows every row.
    void setFilterText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString m_text;
};
