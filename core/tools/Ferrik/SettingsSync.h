// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Keeps one console in step with the settings file that other consoles share. It remembers what
// the file held when this console last read or wrote it (the base), which entry of the history
// model stands for which entry of that base, and the values the window had then; from these,
// rebaseHistory, rebaseHosts and mergeValues (SettingsMerge.h) tell this console's changes from
// those of the others. It also watches the file and says when another process has replaced it.
//
// It never touches a widget and never reads or writes the file itself: the window does, under
// the settings lock (FerrikDlg_settings.cpp). GUI thread only.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include "HistoryEntry.h"
#include "HostRecord.h"
#include "SettingsFile.h"
#include "SettingsMerge.h"

class FerMsgHistoryModel;
class QFileSystemWatcher;
class QTimer;

class SettingsSync : public QObject {
    Q_OBJECT
public:
    // `history` and `hosts` are the window's; both outlive this object's use (the window deletes
    // its history model only after its last save).
    SettingsSync(FerMsgHistoryModel& history, HostRecords& hosts, QObject* parent = nullptr);
    ~SettingsSync() override;

    // Takes the window's state as loaded as the base: `file` the values the file held (none
    // when there was no readable file), `shown` those the window took from them (a value that
    // the window could not take, such as a connection type it lacks, counts as changed by this
    // console), `identity` the version at `path` that was read (the default when the window
    // started from another file or none). Watches `path` from now on.
    void start(const QString& path, const SettingsValues& file, const SettingsValues& shown,
               const FileIdentity& identity);

    // The version of the file that the base is; the window reloads when the file's is another,
    // or while the model is behind what a save wrote (see takeIn).
    const FileIdentity& identity() const { return m_identity; }
    bool isBehind() const { return m_deferred.has_value(); }

    // Takes in `theirs`, read at `identity`: another console's changes join the host records and
    // the history model, this console's own changes since the base stay on top of them, and
    // `theirs` becomes the base. While `modelBusy` (the window is inside a signal of the history
    // model) the model is not changed under the other receivers of that signal: the history that
    // the next save writes is the rebased one, and the model follows from the event loop through
    // changedOnDisk(). Returns the hosts that the records did not have before.
    QStringList takeIn(const SettingsContent& theirs, const FileIdentity& identity, bool modelBusy = false);

    // What a save writes: `shown` merged with the file's values (`fileNow`; null when the file is
    // gone or unreadable: then those of the base), the host records and the history.
    SettingsContent toWrite(const SettingsValues& shown, const SettingsValues* fileNow) const;
    // After `written` (from toWrite) went to the file at `identity`: it is the base now.
    void saved(const SettingsContent& written, const SettingsValues& shown, const FileIdentity& identity);

    // Whether the history model is being changed from the file: the window does not save then.
    bool isApplying() const { return m_applying; }

signals:
    // The file may not be the version of the base any more (another process wrote it, or a
    // deferred update of the model is due). Delivered from the event loop, a short while after
    // the last change seen, so that a burst of changes gives one signal.
    void changedOnDisk();

private:
    // The history model's entries with the base entries they stand for, in the model's order.
    QList<TrackedEntry> tracked() const;
    void applyHistory(const QList<TrackedEntry>& rebased);
    void trackModelAsBase();
    void watchFile();

    FerMsgHistoryModel& m_history;
    HostRecords& m_hosts;
    QString m_path;

    QList<HistoryEntry> m_baseHistory;
    QHash<const HistoryEntry*, qsizetype> m_origins;  // model entry -> index in m_baseHistory
    HostRecords m_baseHosts;
    SettingsValues m_fileAtSync;   // the file's values at the base
    SettingsValues m_shownAtSync;  // the window's values then
    FileIdentity m_identity;
    // A rebased history that the model could not take yet (takeIn while the model was busy).
    std::optional<QList<TrackedEntry>> m_deferred;
    bool m_applying = false;

    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settle = nullptr;
};
