// velda-office: the parts of setting up a one-machine office that go through the program's own code.
// scripts/office.sh starts the servers; this tool tells it where the data folder is and fills a new
// office's database so that every command works after the first login.
#include "accounts/AdminRecord.h"
#include "app/OfficeSeed.h"
#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/ProgramPaths.h"
#include "core/Session.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace {

int usage(QTextStream& err) {
    err << "用法：\n"
           "  velda-office data-folder                        显示（并记住）本机的数据文件夹\n"
           "  velda-office server-address                     显示配置中的数据库服务器地址\n"
           "  velda-office select 地址                        把数据库服务器地址写入配置（None：本地数据库）\n"
           "  velda-office seed 数据库主机:端口 FTP主机:端口 FTP密码文件\n"
           "                                                  建表（空库时）、建立存储目录并绑定admin和user组、\n"
           "                                                  记录本机的FTP帐号密码、把配置指向该数据库\n";
    return 2;
}

// The FTP password comes from a file readable by its owner only, never from the command line, where
// every user of the machine could read it.
QString ReadPasswordFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw velda::Error(QStringLiteral("无法读取FTP密码文件%1").arg(path));
    const QString password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    if (password.isEmpty())
        throw velda::Error(QStringLiteral("FTP密码文件%1是空的").arg(path));
    return password;
}

int Seed(const QString& dbAddress, const QString& ftpAddress, const QString& passwordFile, QTextStream& out) {
    const QString ftpPassword = ReadPasswordFile(passwordFile);
    velda::StderrFeedback feedback;
    velda::SystemClock clock;
    const velda::Configuration config;
    velda::Session session(feedback, clock, config, velda::ProgramPaths::detect(config),
                           velda::VolumeSerialHex(velda::ReadMachineSerial()));
    session.connect(dbAddress);
    velda::SeedOffice(session, ftpAddress, ftpPassword, out);
    if (config.ReadServerAddress() != dbAddress) {
        if (!config.StoreServerAddress(dbAddress))
            throw velda::Error(QStringLiteral("无法写入配置文件%1").arg(config.filePath()));
        out << "配置已指向数据库服务器 " << dbAddress << "（" << config.filePath() << "）\n";
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 1 && args[0] == QLatin1String("data-folder")) {
            const velda::Configuration config;
            out << velda::ProgramPaths::detect(config).dataFolder << "\n";
            return 0;
        }
        if (args.size() == 1 && args[0] == QLatin1String("server-address")) {
            out << velda::Configuration().ReadServerAddress() << "\n";
            return 0;
        }
        if (args.size() == 2 && args[0] == QLatin1String("select")) {
            const velda::Configuration config;
            if (!config.StoreServerAddress(args[1]))
                throw velda::Error(QStringLiteral("无法写入配置文件%1").arg(config.filePath()));
            return 0;
        }
        if (args.size() == 4 && args[0] == QLatin1String("seed"))
            return Seed(args[1], args[2], args[3], out);
    } catch (const velda::Error& e) {
        out.flush();
        err << e.description() << "\n";
        return 1;
    }
    return usage(err);
}
