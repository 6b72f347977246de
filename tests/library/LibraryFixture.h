#pragma once

#include "FtpServer.h"
#include "TestSupport.h"

#include "library/Acl.h"
#include "library/DrawingLibrary.h"

#include <QDir>
#include <QFile>

namespace velda::test {

// A library on a real FTP server: volume V1 for group design, V2 for group team, and the users
// admin, alice (read only), bob (read and write) and carol (design and team).
class LibraryTest : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        try {
            ftp = std::make_unique<FtpServer>();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        env->session->ftpOptions.connectTimeout = std::chrono::milliseconds(3000);
        env->session->ftpOptions.stallTime = std::chrono::seconds(5);
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
        client = std::make_unique<FtpClient>(env->session->ftpOptions);
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    }
    void TearDown() override {
        client.reset();
        ftp.reset();
        BothDatabases::TearDown();
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
        return env->db()
            .scalar(QStringLiteral("select %1 from PDM入库图纸信息 where 代号=?").arg(col), {code})
            .toString();
    }
    int checkouts(const QString& code) {
        return env->count(QStringLiteral("select count(*) from PDM出库图纸信息 where 代号=?"), {code});
    }
    int logRows(const QString& word) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式=?"), {word});
    }

    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<FtpClient> client;
};

} // namespace velda::test
