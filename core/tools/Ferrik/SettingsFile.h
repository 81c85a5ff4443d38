// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The settings file ferrik.xml as data: what it holds, read and written in one piece, and the
// identity of the version that was read, so that a console can tell whether another one has
// replaced the file since. GUI thread only (the history entries are Qt value types).

#include <sys/types.h>

#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <string>

#include "FerrikOptions.h"
#include "HistoryEntry.h"
#include "HostRecord.h"

// The named values below the root; each is missing when the file lacks its key.
struct SettingsValues {
    std::optional<std::string> host;  // UTF-8
    std::optional<int> type;
    std::array<std::optional<int>, kFerrikOptionCount> options;  // in kFerrikOptions' order

    bool operator==(const SettingsValues& other) const = default;
};

struct SettingsContent {
    SettingsValues values;
    HostRecords hosts;
    QList<HistoryEntry> history;  // in the file's order
};

// One version of a file: a replacement (a new inode) or a write in place (size, time) differs.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    long long modifiedNs = -1;

    bool operator==(const FileIdentity& other) const = default;
};

// The identity of the file at `path` now; the default (no file) when there is none.
FileIdentity identityOf(const QString& path);

enum class SettingsRead {
    Read,        // `content` and `identity` are the file's
    Missing,     // there is no file
    Unreadable,  // it is there but cannot be read or parsed; `error` says why
};

// Reads the whole file. Elements that the typed readers reject are skipped, as the console has
// always done; only a file that cannot be opened or is not well-formed counts as unreadable.
// `identity` is that of the very version that was read.
SettingsRead readSettingsFile(const QString& path, SettingsContent& content, FileIdentity& identity,
                              QString& error);

// Replaces the file atomically with `content` (every value must be set). 0, or -1 with `error`
// set; the old file then stays as it was.
int writeSettingsFile(const QString& path, const SettingsContent& content, QString& error);

// Removes the temporary files that saves killed half-way left beside `path` (those of processes
// that no longer run). Call it while holding the settings lock, when no save of ours is running.
void removeLeftoverTemporaries(const QString& path);
