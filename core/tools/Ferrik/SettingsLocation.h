// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where the console keeps its settings file, ferrik.xml. Chosen once at start.

#include <QString>
#include <QStringList>

namespace ferrik {

struct SettingsPaths {
    QString load;  // the file read at start
    QString save;  // the file every save writes
};

// The directories that packages install programs into: /usr (with /usr/local), /opt, the
// top-level /bin, /sbin and /lib*, the stores of snap, Nix, Guix and Flatpak, and the prefix this
// build installs to.
QStringList systemPrefixes();

// Whether `dir`, as given or with its links resolved, is one of `prefixes` or inside one.
bool isInSystemPrefix(const QString& dir, const QStringList& prefixes);

// `programDir` is the executable's directory, `userConfigDir` the per-user configuration
// directory. A program that does not live in a system directory (a build tree, an unpacked
// copy) keeps its file beside it when a file can be created there: both paths are then
// programDir/ferrik.xml. Otherwise saves go to userConfigDir/ferrik.xml (the directory is
// created), and the start reads that file when it exists, else programDir/ferrik.xml as the
// starting point. An installed program thus never writes into its system directory, not even
// when run by root, for whom that directory is writable. Writability is tried with a real
// temporary file, so read-only mounts and privileges count.
SettingsPaths chooseSettingsPaths(const QString& programDir, const QString& userConfigDir,
                                  const QStringList& prefixes = systemPrefixes());

}  // namespace ferrik
