#include "app/OfficeSeed.h"

#include "accounts/AdminRecord.h"
#include "accounts/Groups.h"
#include "core/Session.h"
#include "store/DatabaseInit.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferRunner.h"
#include "transfer/Volumes.h"

#include <QDate>
#include <QTextStream>

namespace velda {

namespace {

const QString kVolumeRemark = QStringLiteral("本机办公环境的存储目录");

bool HasTables(Database& db) {
    try {
        db.scalar(QStringLiteral("select count(*) from PDM组"));
        return true;
    } catch (const Error&) {
        return false;
    }
}

void Require(const Outcome& outcome) {
    if (!outcome.done())
        throw Error(outcome.text);
}

} // namespace

void SeedOffice(Session& session, const QString& ftpAddress, const QString& ftpPassword, QTextStream& out) {
    Database& db = session.db();
    if (!HasTables(db)) {
        InitializeDatabase(db, session.clock().today());
        out << "已建立数据表和基础数据\n";
    }

    // The set-up acts as the administrator; its log rows say so.
    session.ctx.UserId = QStringLiteral("admin");
    session.ctx.UserGroups = QStringLiteral("/admin/");
    session.ctx.LoginGroup = QStringLiteral("admin");
    session.ctx.AdminPassword = ftpPassword;

    if (!FindVolume(db, kOfficeVolumeName)) {
        FtpClient client(session.ftpOptions);
        const TransferRunner run = [&client](const TransferOperation& operation) { return operation(client, {}); };
        Require(CreateVolume(session, run, Volume{kOfficeVolumeName, ftpAddress, kVolumeRemark}));
        out << "已在 " << ftpAddress << " 建立存储目录 " << kOfficeVolumeName << "\n";
    }
    for (const QString& group : {QStringLiteral("admin"), QStringLiteral("user")}) {
        if (!GroupVolumeName(session, group).isEmpty())
            continue;
        Require(ChangeGroupVolume(session, group, kOfficeVolumeName));
        out << "组 " << group << " 的存储目录为 " << kOfficeVolumeName << "\n";
    }
    if (ReadAdminPassword(db, session.machineSerialHex()) != ftpPassword) {
        WriteAdminPassword(db, session.machineSerialHex(), ftpPassword);
        out << "已记录本机的FTP帐号密码\n";
    }
}

} // namespace velda
