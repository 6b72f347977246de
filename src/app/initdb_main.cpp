// velda-initdb: creates the VELDA tables and reference data in a new SQLite file or in an empty
// PostgreSQL database, and can prepare this user's local set-up.
#include "core/Configuration.h"
#include "core/ProgramPaths.h"
#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QTextStream>

namespace {
int usage(QTextStream& err) {
    err << "用法：\n"
           "  velda-initdb --sqlite 文件            新建本地数据库文件\n"
           "  velda-initdb --pg 主机[:端口] [--database 库名]  在空的PostgreSQL数据库中建表\n"
           "  velda-initdb --local                  首次使用：建立本机数据库并设置为本地模式（None）\n";
    return 2;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    const QDate today = QDate::currentDate();
    try {
        if (args.size() == 2 && args[0] == QLatin1String("--sqlite")) {
            velda::CreateLocalDatabase(QFileInfo(args[1]).absoluteFilePath(), today);
            out << "已建立数据库文件 " << args[1] << "\n";
            return 0;
        }
        if ((args.size() == 2 || args.size() == 4) && args[0] == QLatin1String("--pg")) {
            velda::ConnectionSpec spec = velda::ConnectionSpec::server(args[1]);
            if (args.size() == 4) {
                if (args[2] != QLatin1String("--database"))
                    return usage(err);
                spec.databaseName = args[3];
            }
            velda::Database db;
            db.open(spec);
            velda::InitializeDatabase(db, today);
            out << "已在 " << spec.host << ":" << spec.port << " 的数据库 " << spec.databaseName << " 中建立数据表\n";
            return 0;
        }
        if (args.size() == 1 && args[0] == QLatin1String("--local")) {
            const velda::Configuration config;
            const velda::ProgramPaths paths = velda::ProgramPaths::detect(config);
            if (!QFileInfo::exists(paths.localDatabase())) {
                velda::CreateLocalDatabase(paths.localDatabase(), today);
                out << "已建立本地数据库 " << paths.localDatabase() << "\n";
            }
            if (config.ReadServerAddress().isEmpty()) {
                if (!config.StoreServerAddress(velda::Configuration::kLocalWord))
                    throw velda::Error(QStringLiteral("无法写入配置文件%1").arg(config.filePath()));
                out << "已设置为本地数据库模式（" << config.filePath() << "）\n";
            }
            return 0;
        }
    } catch (const velda::Error& e) {
        err << e.description() << "\n";
        return 1;
    }
    return usage(err);
}
