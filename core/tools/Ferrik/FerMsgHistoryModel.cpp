// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerMsgHistoryModel.h"

#include <algorithm>
#include <iterator>

#include "OVLMessage/OVLMessageIterator.h"

FerMsgHistoryModel::FerMsgHistoryModel(QObject* parent) : QAbstractItemModel(parent) {}

FerMsgHistoryModel::~FerMsgHistoryModel() {
    for (const QList<HistoryEntry*>& entries : std::as_const(m_groups)) {
        qDeleteAll(entries);
    }
}

int FerMsgHistoryModel::groupRow(const QString& target) const {
    const auto found = m_groups.constFind(target);
    if (found == m_groups.cend()) {
        return -1;
    }
    return static_cast<int>(std::distance(m_groups.cbegin(), found));
}

FerMsgHistoryModel::Groups::const_iterator FerMsgHistoryModel::groupAt(int row) const {
    if (row < 0 || row >= m_groups.size()) {
        return m_groups.cend();
    }
    return std::next(m_groups.cbegin(), row);
}

QModelIndex FerMsgHistoryModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) {
        return QModelIndex();
    }
    if (!parent.isValid()) {
        if (row >= m_groups.size()) {
            return QModelIndex();
        }
        return createIndex(row, column, nullptr);
    }
    if (parent.internalPointer() != nullptr || parent.model() != this) {
        return QModelIndex();
    }
    const auto group = groupAt(parent.row());
    if (group == m_groups.cend() || row >= group->size()) {
        return QModelIndex();
    }
    return createIndex(row, column, group->at(row));
}

QModelIndex FerMsgHistoryModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalPointer() == nullptr) {
        return QModelIndex();
    }
    const auto* entry = static_cast<const HistoryEntry*>(child.internalPointer());
    const int row = groupRow(entry->target);
    if (row < 0) {
        return QModelIndex();
    }
    return createIndex(row, 0, nullptr);
}

int FerMsgHistoryModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return static_cast<int>(m_groups.size());
    }
    if (parent.internalPointer() != nullptr) {
        return 0;
    }
    const auto group = groupAt(parent.row());
    return group == m_groups.cend() ? 0 : static_cast<int>(group->size());
}

int FerMsgHistoryModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

QVariant FerMsgHistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) {
        return QVariant();
    }
    if (index.internalPointer() != nullptr) {
        return static_cast<const HistoryEntry*>(index.internalPointer())->function;
    }
    const auto group = groupAt(index.row());
    return group == m_groups.cend() ? QVariant() : QVariant(group.key());
}

bool FerMsgHistoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.internalPointer() == nullptr || role != Qt::EditRole) {
        return false;
    }
    static_cast<HistoryEntry*>(index.internalPointer())->function = value.toString();
    emit dataChanged(index, index);
    return true;
}

QVariant FerMsgHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) {
        return QVariant();
    }
    if (section == 0) {
        return tr("Target");
    }
    if (section == 1) {
        return tr("Function");
    }
    return QVariant();
}

bool FerMsgHistoryModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (!parent.isValid() || parent.internalPointer() != nullptr || row < 0 || count <= 0) {
        return false;
    }
    if (parent.row() < 0 || parent.row() >= m_groups.size()) {
        return false;
    }
    auto group = std::next(m_groups.begin(), parent.row());
    if (row + count > group->size()) {
        return false;
    }
    beginRemoveRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i) {
        delete group->takeAt(row);
    }
    endRemoveRows();
    return true;
}

Qt::ItemFlags FerMsgHistoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsEnabled;
    }
    Qt::ItemFlags result = QAbstractItemModel::flags(index);
    if (index.internalPointer() != nullptr) {
        result |= Qt::ItemIsEditable;
    }
    return result;
}

void FerMsgHistoryModel::addEntry(const HistoryEntry& entry) {
    auto group = m_groups.find(entry.target);
    if (group == m_groups.end()) {
        // The new group's row is the number of targets that sort before it.
        const auto position = m_groups.lowerBound(entry.target);
        const int row = static_cast<int>(std::distance(m_groups.begin(), position));
        beginInsertRows(QModelIndex(), row, row);
        m_groups.insert(entry.target, QList<HistoryEntry*>{new HistoryEntry(entry)});
        endInsertRows();
        return;
    }
    const int row = static_cast<int>(std::distance(m_groups.begin(), group));
    const int n = static_cast<int>(group->size());
    beginInsertRows(createIndex(row, 0, nullptr), n, n);
    group->append(new HistoryEntry(entry));
    endInsertRows();
}

QList<HistoryEntry> FerMsgHistoryModel::entries() const {
    QList<HistoryEntry> result;
    for (const QList<HistoryEntry*>& group : m_groups) {
        for (const HistoryEntry* entry : group) {
            result.append(*entry);
        }
    }
    return result;
}

QList<const HistoryEntry*> FerMsgHistoryModel::entryAddresses() const {
    QList<const HistoryEntry*> result;
    for (const QList<HistoryEntry*>& group : m_groups) {
        for (const HistoryEntry* entry : group) {
            result.append(entry);
        }
    }
    return result;
}

bool FerMsgHistoryModel::contains(const HistoryEntry& entry) const {
    const auto group = m_groups.constFind(entry.target);
    if (group == m_groups.cend()) {
        return false;
    }
    return std::any_of(group->cbegin(), group->cend(),
                       [&entry](const HistoryEntry* held) { return *held == entry; });
}

QList<const HistoryEntry*> FerMsgHistoryModel::setEntries(const QList<HistoryEntry>& wanted) {
    // Each group's wanted entries as positions in `wanted`; the model's other groups get none.
    QMap<QString, QList<qsizetype>> byTarget;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        byTarget[wanted[i].target].append(i);
    }
    for (auto group = m_groups.cbegin(); group != m_groups.cend(); ++group) {
        byTarget[group.key()];
    }
    QList<const HistoryEntry*> addresses(wanted.size(), nullptr);
    for (auto target = byTarget.cbegin(); target != byTarget.cend(); ++target) {
        const QList<qsizetype>& positions = target.value();
        auto group = m_groups.find(target.key());
        if (group == m_groups.end()) {
            const auto position = m_groups.lowerBound(target.key());
            const int row = static_cast<int>(std::distance(m_groups.begin(), position));
            QList<HistoryEntry*> entries;
            for (const qsizetype p : positions) {
                entries.append(new HistoryEntry(wanted[p]));
                addresses[p] = entries.back();
            }
            beginInsertRows(QModelIndex(), row, row);
            m_groups.insert(target.key(), entries);
            endInsertRows();
            continue;
        }
        const QModelIndex parent =
            createIndex(static_cast<int>(std::distance(m_groups.begin(), group)), 0, nullptr);
        QList<HistoryEntry*>& held = *group;
        const auto heldAt = [&held](qsizetype k) -> const HistoryEntry& { return *held[k]; };
        const auto wantedAt = [&](qsizetype k) -> const HistoryEntry& { return wanted[positions[k]]; };
        qsizetype prefix = 0;
        while (prefix < held.size() && prefix < positions.size() && heldAt(prefix) == wantedAt(prefix)) {
            ++prefix;
        }
        qsizetype suffix = 0;
        while (suffix < held.size() - prefix && suffix < positions.size() - prefix &&
               heldAt(held.size() - 1 - suffix) == wantedAt(positions.size() - 1 - suffix)) {
            ++suffix;
        }
        const qsizetype removed = held.size() - prefix - suffix;
        const qsizetype added = positions.size() - prefix - suffix;
        bool relabel = removed > 0 && removed == added;
        for (qsizetype k = prefix; relabel && k < prefix + removed; ++k) {
            relabel = heldAt(k).packet == wantedAt(k).packet;
        }
        if (relabel) {
            for (qsizetype k = prefix; k < prefix + removed; ++k) {
                held[k]->function = wantedAt(k).function;
            }
            emit dataChanged(index(static_cast<int>(prefix), 0, parent),
                             index(static_cast<int>(prefix + removed - 1), 0, parent));
        } else {
            if (removed > 0) {
                beginRemoveRows(parent, static_cast<int>(prefix), static_cast<int>(prefix + removed - 1));
                for (qsizetype k = 0; k < removed; ++k) {
                    delete held.takeAt(prefix);
                }
                endRemoveRows();
            }
            if (added > 0) {
                beginInsertRows(parent, static_cast<int>(prefix), static_cast<int>(prefix + added - 1));
                for (qsizetype k = prefix; k < prefix + added; ++k) {
                    held.insert(k, new HistoryEntry(wantedAt(k)));
                }
                endInsertRows();
            }
        }
        for (qsizetype k = 0; k < positions.size(); ++k) {
            addresses[positions[k]] = held[k];
        }
    }
    return addresses;
}

int FerMsgHistoryModel::Reader::operator()(OVL::OVLMessageIterator& it, FerMsgHistoryModel& model) const {
    QList<HistoryEntry> read;
    readHistoryEntries(it, read);
    for (const HistoryEntry& entry : std::as_const(read)) {
        model.addEntry(entry);
    }
    return 0;
}

int FerMsgHistoryModel::Writer::operator()(OVL::OVLMessageIterator& it,
                                           const FerMsgHistoryModel& model) const {
    return writeHistoryEntries(it, model.entries());
}
