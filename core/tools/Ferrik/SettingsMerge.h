// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// How one console's changes join those that other consoles saved to the shared settings file.
// Each function takes the file's content when this console last read or wrote it (the base),
// the file's content now (theirs) and this console's state (mine), and keeps every change of
// either side since the base; where both changed the same thing, this console's change wins,
// since it is the one being saved last. Pure functions of values; GUI thread only (Qt strings).

#include <QList>

#include "HistoryEntry.h"
#include "HostRecord.h"
#include "SettingsFile.h"

// An entry of this console's history and the entry of the base that it stands for.
struct TrackedEntry {
    HistoryEntry entry;
    qsizetype origin = -1;  // index in the base; -1: remembered here since

    bool operator==(const TrackedEntry& other) const = default;
};

// The history of `mine` brought onto `theirs`, in theirs' order followed by this console's new
// entries; each origin of the result is an index in `theirs` (-1: not in theirs). Entries are
// known by their target, label and packet:
// - kept from theirs: everything another console added, relabelled or left alone;
// - deleted here: a base entry that no entry of mine stands for is left out of theirs;
// - relabelled here: the label of mine replaces that of theirs, also when another console
//   relabelled the same entry; an entry relabelled here that another console deleted is kept;
// - deleted there: an entry that theirs lacks and this console did not change is left out;
// - added here: appended, unless theirs holds the same entry that no base entry accounts for (an
//   earlier save of this one, or the same packet remembered alike in both): then it is that one.
// Rebasing twice onto what the first rebase gave changes nothing, so a save that wrote the file
// but could not update the model yet (a model signal was being delivered) is safe to redo.
QList<TrackedEntry> rebaseHistory(const QList<HistoryEntry>& base, const QList<HistoryEntry>& theirs,
                                  const QList<TrackedEntry>& mine);

// The host records of `mine` brought onto `theirs`, host by host and field by field (the
// credentials that the file keeps, the realm list): a field changed here since the base wins,
// else theirs' field. A host that neither side had in the base is merged with a record of empty
// fields as its base. A host deleted on one side stays deleted unless the other changed it.
HostRecords rebaseHosts(const HostRecords& base, const HostRecords& theirs, const HostRecords& mine);

// The values that a save writes: each of `mine` (every value set) that this console changed since
// its last read or write (`mineAtSync`), else the file's value now (`fileNow`), which is what this
// console wrote last or what another one wrote since; `mine` where the file lacks the key.
// Consoles do not take each other's values while they run, only at their next start.
SettingsValues mergeValues(const SettingsValues& mine, const SettingsValues& mineAtSync,
                           const SettingsValues& fileNow);
