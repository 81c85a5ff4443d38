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

}  // namespace

SettingsPaths chooseSettingsPaths(const QString& programDir, const QString& userConfigDir) {
    const QString besideProgram = programDir + QStringLiteral("/ferrik.xml");
    if (isWritableDirectory(programDir)) {
        return {besideProgram, besideProgram};
    }
    QDir().mkpath(userConfigDir);
    const QString perUser = userConfigDir + QStringLiteral("/ferrik.xml");
    return {QFileInfo::exists(perUser) ? perUser : besideProgram, perUser};
}

}  // namespace ferrik
