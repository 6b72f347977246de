#include "core/ProgramPaths.h"

#include "core/Configuration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velda {

QString ProgramPaths::chooseDataFolder(const QString& programFolder) {
    const QFileInfo beside(programFolder + QStringLiteral("/VELDA.db"));
    if (beside.isFile() && QFileInfo(programFolder).isWritable())
        return QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/VELDA");
}

ProgramPaths ProgramPaths::detect(const Configuration& config) {
    ProgramPaths p;
    p.programFolder = qEnvironmentVariable("VELDA_PROGRAM_DIR");
    if (p.programFolder.isEmpty())
        p.programFolder = QCoreApplication::applicationDirPath();
    p.dataFolder = qEnvironmentVariable("VELDA_DATA_DIR");
    if (p.dataFolder.isEmpty()) {
        p.dataFolder = config.ReadDataFolder();
        if (p.dataFolder.isEmpty()) {
            p.dataFolder = chooseDataFolder(p.programFolder);
            // Not remembered (a read-only configuration): the same choice is made next time, since
            // it depends only on where a library already is.
            config.StoreDataFolder(p.dataFolder);
        }
    }
    QDir().mkpath(p.dataFolder);
    return p;
}

} // namespace velda
