// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "SettingsLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace ferrik {

namespace {

bool isWritableDirectory(const QString& dir) {
    if (!QFileInfo(dir).isDir()) {
        return false;
    }
    QTemporaryFile probe(dir + QStringLiteral("/.ferrik-probe-XXXXXX"));
    return probe.open();
}

bool isInside(const QString& dir, const QString& prefix) {
    return dir == prefix || dir.startsWith(prefix + QLatin1Char('/'));
}

}  // namespace

QStringList systemPrefixes() {
    QStringList prefixes = {
        QStringLiteral("/usr"),       QStringLiteral("/opt"),       QStringLiteral("/bin"),
        QStringLiteral("/sbin"),      QStringLiteral("/lib"),       QStringLiteral("/lib32"),
        QStringLiteral("/lib64"),     QStringLiteral("/libx32"),    QStringLiteral("/snap"),
        QStringLiteral("/nix/store"), QStringLiteral("/gnu/store"), QStringLiteral("/app"),
    };
    const QString installed = QDir::cleanPath(QStringLiteral(FERRIK_INSTALL_PREFIX));
    // A prefix of / would make every directory a system one.
    if (installed != QLatin1String("/") && QDir::isAbsolutePath(installed) && !prefixes.contains(installed)) {
        prefixes << installed;
    }
    return prefixes;
}

bool isInSystemPrefix(const QString& dir, const QStringList& prefixes) {
    const QString given = QDir::cleanPath(QDir(dir).absolutePath());
    const QString resolved = QFileInfo(given).canonicalFilePath();
    for (const QString& prefix : prefixes) {
        const QString clean = QDir::cleanPath(prefix);
        if (isInside(given, clean) || (!resolved.isEmpty() && isInside(resolved, clean))) {
            return true;
        }
    }
    return false;
}

SettingsPaths chooseSettingsPaths(const QString& programDir, const QString& userConfigDir,
                                  const QStringList& prefixes) {
    const QString besideProgram = programDir + QStringLiteral("/ferrik.xml");
    if (!isInSystemPrefix(programDir, prefixes) && isWritableDirectory(programDir)) {
        return {besideProgram, besideProgram};
    }
    QDir().mkpath(userConfigDir);
    const QString perUser = userConfigDir + QStringLiteral("/ferrik.xml");
    return {QFileInfo::exists(perUser) ? perUser : besideProgram, perUser};
}

}  // namespace ferrik
