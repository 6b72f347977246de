#pragma once

#include <QString>

namespace velda {

// Where the program reads its own files and writes the ones it makes.
struct ProgramPaths {
    QString programFolder; // read-only resources: the help manual, the blank drawing
    QString dataFolder;    // writable: the local database, preview copies, report output

    // The executable's folder, or VELDA_PROGRAM_DIR; data beside it when writable, else the user's
    // data folder (VELDA_DATA_DIR overrides).
    static ProgramPaths detect();

    QString localDatabase() const { return dataFolder + QStringLiteral("/VELDA.db"); }
    QString helpFile() const { return programFolder + QStringLiteral("/帮助/velda.html"); }
};

} // namespace velda
