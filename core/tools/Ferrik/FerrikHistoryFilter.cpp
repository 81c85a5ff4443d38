// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikHistoryFilter.h"

#include "HistoryEntry.h"

FerrikHistoryFilter::FerrikHistoryFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    // A group is kept when one of its entries is accepted, though the group row itself never is.
    setRecursiveFilteringEnabled(true);
    setDynamicSortFilter(true);
}

void FerrikHistoryFilter::setFilterText(const QString& text) {
    if (text == m_text) {
        return;
    }
    m_text = text;
    invalidateFilter();
}

bool FerrikHistoryFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (m_text.isEmpty()) {
        return true;
    }
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    const auto* entry = static_cast<const HistoryEntry*>(index.internalPointer());
    if (entry == nullptr) {
        return false;  // a group: shown only through its accepted entries
    }
    return entry->target.contains(m_text, Qt::CaseInsensitive) ||
           entry->function.contains(m_text, Qt::CaseInsensitive) ||
           entry->packet.contains(m_text, Qt::CaseInsensitive);
}
