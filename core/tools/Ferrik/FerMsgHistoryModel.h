// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The message history as a two-level item model: the top level lists the targets (groups) in
// ascending QString order (UTF-16 code units, case-sensitive), the second level the remembered
// packets of each target in the order in which they were added, labelled by their `function`.
//
// Indexes: a group row carries a null internal pointer, an entry row the address of its
// HistoryEntry. The model owns the entries; an entry's address stays the same while it is in the
// model. Only entries are editable (their label) and removable; a group stays when its last entry
// is removed, until the next start. GUI thread only.

#include <QAbstractItemModel>
#include <QList>
#include <QMap>
#include <QString>

#include "HistoryEntry.h"

namespace OVL {
class OVLMessageIterator;
}

class FerMsgHistoryModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit FerMsgHistoryModel(QObject* parent = nullptr);
    ~FerMsgHistoryModel() override;

    // Out-of-range rows, columns or parents give an invalid index.
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display role only: the entry's label or the group's target. The edit role is not answered,
    // so an in-place editor starts empty.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Entries with Qt::EditRole only: sets the label (an empty text is accepted) and emits
    // dataChanged. Anything else returns false.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Removes entries of one group; false for groups or a range past the group's end.
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Appends a copy of `entry` to its target's group, creating the group at its sorted row.
    void addEntry(const HistoryEntry& entry);
    // Copies of every entry, groups in key order, each group's entries in the order added.
    QList<HistoryEntry> entries() const;
    // The addresses of those entries, in the same order.
    QList<const HistoryEntry*> entryAddresses() const;
    // Whether an entry with the same target, label and packet text is in the model.
    bool contains(const HistoryEntry& entry) const;
    // Makes the model hold `wanted` (in its groups, each in `wanted`'s order) with as few row
    // changes as it takes, so that a view keeps its expanded groups, its current entry and an
    // editor open on an entry that stays: entries before and after a change keep their rows and
    // addresses, a run of entries that differ only in their labels is relabelled in place
    // (dataChanged), anything else is removed and inserted. Groups are added as needed and, as
    // with removeRows, never removed. Returns the address of each wanted entry, in its order.
    QList<const HistoryEntry*> setEntries(const QList<HistoryEntry>& wanted);

    // Loads every `history` element below the iterator's element; elements that
    // HistoryEntry::Reader rejects are skipped. Always 0.
    struct Reader {
        int operator()(OVL::OVLMessageIterator& it, FerMsgHistoryModel& model) const;
    };
    // Writes every entry, groups in key order, as a `history` element below the iterator's
    // element. An entry that cannot be written is left out; the result is then -1.
    struct Writer {
        int operator()(OVL::OVLMessageIterator& it, const FerMsgHistoryModel& model) const;
    };

private:
    using Groups = QMap<QString, QList<HistoryEntry*>>;

    // Row of `target` among the groups; -1 when it has none.
    int groupRow(const QString& target) const;
    Groups::const_iterator groupAt(int row) const;

    Groups m_groups;
};
