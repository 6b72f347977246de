#include "core/ProgramPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velda {

ProgramPaths ProgramPaths::detect() {
    ProgramPaths p;
    p.programFolder = qEnvironmentVariable("VELDA_PROGRAM_DIR");
    if (p.programFolder.isEmpty())
        p.programFolder = QCoreApplication::applicationDirPath();
    p.dataFolder = qEnvironmentVariable("VELDA_DATA_DIR");
    if (p.dataFolder.isEmpty()) {
        const QFileInfo program(p.programFolder);
        if (program.isDir() && program.isWritable()) {
            p.dataFolder = p.programFolder;
        } else {
            p.dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/VELDA");
        }
    }
    QDir().mkpath(p.dataFolder);
    return p;
}

} // namespace velda
