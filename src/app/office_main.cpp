// velda-office: the parts of setting up a one-machine office that go through the program's own code.
// scripts/office.sh starts the servers; this tool tells it where the data folder is and fills a new
// office's database so that every command works after the first login.
#include "accounts/AdminRecord.h"
#include "accounts/Groups.h"
#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/ProgramPaths.h"
#include "core/Session.h"
#include "store/DatabaseInit.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferRunner.h"
#include "transfer/Volumes.h"

#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

namespace {

const QString kVolumeName = QStringLiteral("本机");
const QString kVolumeRemark = QStringLiteral("本机办公环境的存储目录");

int usage(QTextStream& err) {
    err << "用法：\n"
           "  velda-office data-folder                        显示（并记住）本机的数据文件夹\n"
           "  velda-office server-address                     显示配置中的数据库服务器地址\n"
           "  velda-office select 地址                        把数据库服务器地址写入配置（None：本地数据库）\n"
           "  velda-office seed 数据库主机:端口 FTP主机:端口 FTP密码\n"
           "                                                  建表（空库时）、建立存储目录并绑定admin和user组、\n"
           "                                                  记录本机的FTP帐号密码、把配置指向该数据库\n";
    return 2;
}

bool HasTables(velda::Database& db) {
    try {
        db.scalar(QStringLiteral("select count(*) from PDM组"));
        return true;
    } catch (const velda::Error&) {
        return false;
    }
}

// Each step is skipped when done before, so a later run mends a half-made office and changes nothing
// in a whole one (the volume's address included: drawings stored on it keep their server).
int Seed(const QString& dbAddress, const QString& ftpAddress, const QString& ftpPassword, QTextStream& out) {
    velda::StderrFeedback feedback;
    velda::SystemClock clock;
    const velda::Configuration config;
    velda::Session session(feedback, clock, config, velda::ProgramPaths::detect(config),
                           velda::VolumeSerialHex(velda::ReadMachineSerial()));
    session.connect(dbAddress);
    velda::Database& db = session.db();
    if (!HasTables(db)) {
        velda::InitializeDatabase(db, QDate::currentDate());
        out << "已在 " << dbAddress << " 建立数据表和基础数据\n";
    }

    // The set-up acts as the administrator; its log rows say so.
    session.ctx.UserId = QStringLiteral("admin");
    session.ctx.UserGroups = QStringLiteral("/admin/");
    session.ctx.LoginGroup = QStringLiteral("admin");
    session.ctx.AdminPassword = ftpPassword;

    if (!velda::FindVolume(db, kVolumeName)) {
        velda::FtpClient client(session.ftpOptions);
        const velda::TransferRunner run = [&client](const velda::TransferOperation& operation) {
            return operation(client, {});
        };
        velda::CreateVolume(session, run, velda::Volume{kVolumeName, ftpAddress, kVolumeRemark});
        out << "已在 " << ftpAddress << " 建立存储目录 " << kVolumeName << "\n";
    }
    for (const QString& group : {QStringLiteral("admin"), QStringLiteral("user")}) {
        if (!velda::GroupVolumeName(session, group).isEmpty())
            continue;
        const velda::Outcome bound = velda::ChangeGroupVolume(session, group, kVolumeName);
        if (!bound.done())
            throw velda::Error(bound.text);
        out << "组 " << group << " 的存储目录为 " << kVolumeName << "\n";
    }
    if (velda::ReadAdminPassword(db, session.machineSerialHex()) != ftpPassword) {
        velda::WriteAdminPassword(db, session.machineSerialHex(), ftpPassword);
        out << "已记录本机的FTP帐号密码\n";
    }
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
