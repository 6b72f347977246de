#pragma once

#include "FtpFixture.h"

#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"

#include <QDir>
#include <QFile>

namespace velda::test {

// A library on a real FTP server: volume V1 for group design, V2 for group team, and the users
// admin, alice (read only), bob (read and write) and carol (design and team).
class LibraryTest : public BothDatabasesWithFtp {
protected:
    void SetUp() override {
        BothDatabasesWithFtp::SetUp();
        if (!env || !ftp)
            return;
        env->addVolume(QStringLiteral("V1"), ftp->address());
        env->addVolume(QStringLiteral("V2"), ftp->address());
        env->addGroup(QStringLiteral("design"), QStringLiteral("V1"));
        env->addGroup(QStringLiteral("team"), QStringLiteral("V2"));
        env->db().exec(QStringLiteral("update PDM组 set 目录名称='V1' where 组名='admin'"));
        env->addUser(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("/design/"));
        env->addUser(QStringLiteral("bob"), QStringLiteral("pw"), QStringLiteral("/design/"));
        env->addUser(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("/design/team/"));
        QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V1")));
        QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V2")));
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    }
    void loginAs(const QString& user, const QString& group, Session* s = nullptr) {
        Session& session = s ? *s : *env->session;
        session.ctx.UserId = user;
        session.ctx.LoginGroup = group;
        session.ctx.UserGroups = QLatin1Char('/') + group + QLatin1Char('/');
        session.ctx.VolumeName = group == QLatin1String("team") ? QStringLiteral("V2") : QStringLiteral("V1");
        session.ctx.VolumeServerIp = ftp->address();
        session.ctx.AdminPassword = ftp->password();
    }

    TransferRunner runner() {
        return [this](const TransferOperation& op) { return WaitForTransfer(*client, op); };
    }
    DrawingLibrary library() { return DrawingLibrary(*env->session, runner()); }

    // A local drawing with the given content.
    QString drawing(const QString& name, const QByteArray& content) {
        const QString path = env->dir.path() + QStringLiteral("/local/") + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray stored(const QString& remote) { return read(ftp->localPath(remote)); }
    QStringList volumeFiles(const QString& volume) {
        return QDir(ftp->localPath(QStringLiteral("Volume/") + volume))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    // Admin checks a drawing in with explicit rights: alice reads, bob reads and writes.
    Outcome checkInAsAdmin(const QString& code, const QByteArray& content) {
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
        Acl::SetPending(env->session->ctx, QStringLiteral("/admin(U)/alice(U)/bob(U)/"),
                        QStringLiteral("/admin(U)/bob(U)/"), QStringLiteral("/admin(U)/bob(U)/"),
                        QStringLiteral("/admin(U)/"));
        return library().CheckIn(code, drawing(code + QStringLiteral(".dwg"), content));
    }
    QString column(const QString& code, const QString& col) {
        return field(QStringLiteral("PDM入库图纸信息"), col, QStringLiteral("代号"), code);
    }
    int checkouts(const QString& code) {
        return rows(QStringLiteral("PDM出库图纸信息"), QStringLiteral("代号=?"), {code});
    }
};

} // namespace velda::test
