// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SettingsSync.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

#include "FerMsgHistoryModel.h"

namespace {

// How long the file must stay quiet before the console reads it: a save of another console
// touches the directory several times (lock file, temporary file, rename).
constexpr int kSettleMs = 50;

}  // namespace

SettingsSync::SettingsSync(FerMsgHistoryModel& history, HostRecords& hosts, QObject* parent)
    : QObject(parent),
      m_history(history),
      m_hosts(hosts),
      m_watcher(new QFileSystemWatcher(this)),
      m_settle(new QTimer(this)) {
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, &SettingsSync::changedOnDisk);
    // A replaced file is a new inode: the watch on the old one says so once and then sees
    // nothing more, so every notice re-arms it on whatever file has the name now.
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        m_watcher->removePath(m_path);
        watchFile();
        m_settle->start();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        watchFile();
        m_settle->start();
    });
    // A deleted entry's address may be reused by the next one remembered.
    connect(&m_history, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) {
                    return;
                }
                for (int row = first; row <= last; ++row) {
                    m_origins.remove(
                        static_cast<const HistoryEntry*>(m_history.index(row, 0, parent).internalPointer()));
                }
            });
}

SettingsSync::~SettingsSync() = default;

void SettingsSync::start(const QString& path, const SettingsValues& file, const SettingsValues& shown,
                         const FileIdentity& identity) {
    m_path = path;
    m_fileAtSync = file;
    m_shownAtSync.host = file.host ? file.host : shown.host;
    m_shownAtSync.type = file.type ? file.type : shown.type;
    for (std::size_t i = 0; i < shown.options.size(); ++i) {
        m_shownAtSync.options[i] = file.options[i] ? file.options[i] : shown.options[i];
    }
    m_identity = identity;
    m_baseHosts = m_hosts;
    trackModelAsBase();
    const QString dir = QFileInfo(m_path).absolutePath();
    if (QFileInfo(dir).isDir()) {
        m_watcher->addPath(dir);
    }
    watchFile();
}

void SettingsSync::watchFile() {
    if (!m_path.isEmpty() && !m_watcher->files().contains(m_path) && QFileInfo::exists(m_path)) {
        m_watcher->addPath(m_path);
    }
}

QList<TrackedEntry> SettingsSync::tracked() const {
    const QList<HistoryEntry> entries = m_history.entries();
    const QList<const HistoryEntry*> addresses = m_history.entryAddresses();
    QList<TrackedEntry> result;
    result.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        result.append({entries[i], m_origins.value(addresses[i], -1)});
    }
    return result;
}

void SettingsSync::trackModelAsBase() {
    m_baseHistory = m_history.entries();
    const QList<const HistoryEntry*> addresses = m_history.entryAddresses();
    m_origins.clear();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        m_origins.insert(addresses[i], i);
    }
}

namespace {

// The entries in the order the history model holds them: groups by target, each in list order.
QList<HistoryEntry> inModelOrder(const QList<TrackedEntry>& tracked) {
    QList<HistoryEntry> entries;
    entries.reserve(tracked.size());
    for (const TrackedEntry& item : tracked) {
        entries.append(item.entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.target < b.target; });
    return entries;
}

}  // namespace

void SettingsSync::applyHistory(const QList<TrackedEntry>& rebased) {
    QList<HistoryEntry> entries;
    entries.reserve(rebased.size());
    for (const TrackedEntry& item : rebased) {
        entries.append(item.entry);
    }
    m_applying = true;
    const QList<const HistoryEntry*> addresses = m_history.setEntries(entries);
    m_applying = false;
    m_origins.clear();
    for (qsizetype i = 0; i < rebased.size(); ++i) {
        if (rebased[i].origin >= 0) {
            m_origins.insert(addresses[i], rebased[i].origin);
        }
    }
}

QStringList SettingsSync::takeIn(const SettingsContent& theirs, const FileIdentity& identity,
                                 bool modelBusy) {
    HostRecords hosts = rebaseHosts(m_baseHosts, theirs.hosts, m_hosts);
    QStringList added;
    for (const auto& [host, record] : hosts) {
        if (m_hosts.count(host) == 0) {
            added << QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()));
        }
    }
    m_hosts = std::move(hosts);
    m_baseHosts = theirs.hosts;
    m_fileAtSync = theirs.values;

    const QList<TrackedEntry> rebased = rebaseHistory(m_baseHistory, theirs.history, tracked());
    if (modelBusy && inModelOrder(rebased) != m_history.entries()) {
        // The base and the identity stay: rebasing onto the file that the save writes from this
        // gives the same history again, and the model takes it then.
        m_deferred = rebased;
        m_settle->start();
        return added;
    }
    m_deferred.reset();
    applyHistory(rebased);
    m_baseHistory = theirs.history;
    m_identity = identity;
    return added;
}

SettingsContent SettingsSync::toWrite(const SettingsValues& shown, const SettingsValues* fileNow) const {
    SettingsContent content;
    content.values = mergeValues(shown, m_shownAtSync, fileNow != nullptr ? *fileNow : m_fileAtSync);
    content.hosts = m_hosts;
    content.history = m_deferred ? inModelOrder(*m_deferred) : m_history.entries();
    return content;
}

void SettingsSync::saved(const SettingsContent& written, const SettingsValues& shown,
                         const FileIdentity& identity) {
    m_fileAtSync = written.values;
    m_shownAtSync = shown;
    m_baseHosts = written.hosts;
    if (m_deferred) {
        m_settle->start();
        return;
    }
    trackModelAsBase();
    m_identity = identity;
}
