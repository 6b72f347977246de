#pragma once

#include <QString>

namespace velda {

class Configuration;

// Where the program reads its own files and writes the ones it makes.
struct ProgramPaths {
    QString programFolder; // read-only resources: the help manual, the blank drawing
    QString dataFolder;    // writable: the local database, preview copies, report output

    // The executable's folder (or VELDA_PROGRAM_DIR) and the data folder. VELDA_DATA_DIR overrides
    // the data folder for one run; otherwise the folder remembered in the configuration is used,
    // and when none is remembered yet one is chosen and remembered, so that later runs find the
    // same library whatever happened to the program folder meanwhile.
    static ProgramPaths detect(const Configuration& config);
    // The first choice: the program folder when it already holds a library database (an office
    // that always kept it there), else the user's data folder.
    static QString chooseDataFolder(const QString& programFolder);

    QString localDatabase() const { return dataFolder + QStringLiteral("/VELDA.db"); }
    QString helpFile() const { return programFolder + QStringLiteral("/帮助/velda.html"); }
};

} // namespace velda
