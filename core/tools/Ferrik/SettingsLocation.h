#pragma once
// Where the console keeps its settings file, ferrik.xml. Chosen once at start.

#include <QString>

namespace ferrik {

struct SettingsPaths {
    QString load;  // the file read at start
    QString save;  // the file every save writes
};

// `programDir` is the executable's directory, `userConfigDir` the per-user configuration
// directory. When a file can be created in programDir, both paths are programDir/ferrik.xml.
// Otherwise saves go to userConfigDir/ferrik.xml (the directory is created), and the start reads
// that file when it exists, else programDir/ferrik.xml as the starting point. Writability is
// tried with a real temporary file, so read-only mounts and privileges count.
SettingsPaths chooseSettingsPaths(const QString& programDir, const QString& userConfigDir);

}  // namespace ferrik
