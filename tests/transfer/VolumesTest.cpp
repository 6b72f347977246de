#include "VolumeFixture.h"

#include "transfer/TransferCommand.h"

#include <QFile>
#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {
// What the dialog would show for an operation that did not succeed; empty when it did.
QString ErrorOf(const Outcome& outcome) { return outcome.done() ? QString() : outcome.text; }
} // namespace

class VolumeLogic : public VolumeFixture {
protected:
    Outcome create(const QString& ip, const QString& name, const QString& remark = {}) {
        return CreateVolume(*env->session, runner(), Volume{name, ip, remark});
    }
    QString createError(const QString& ip, const QString& name) { return ErrorOf(create(ip, name)); }
    QString removeError(const QString& name) { return ErrorOf(RemoveVolume(*env->session, runner(), name)); }
};

TEST_P(VolumeLogic, CreatesTheFolderThenTheRowEvenWithoutTheTopFolder) {
    ASSERT_FALSE(QFileInfo::exists(ftp->localPath(QStringLiteral("Volume"))));
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V1"), QStringLiteral("一号库")).done());

    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].first, QStringLiteral("ftp://velda:") + ftp->password() + QStringLiteral("@") + ftp->address());
    EXPECT_EQ(sent[0].second, QStringLiteral("mkdir volume/V1/"));
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    const auto row = FindVolume(env->db(), QStringLiteral("V1"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->serverIp, ftp->address());
    EXPECT_EQ(row->remark, QStringLiteral("一号库"));

    // A second volume on the same server lands beside the first.
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V2")).done());
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V2")));
    QStringList names = VolumeNames(env->db());
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("V1"), QStringLiteral("V2")}));
}

TEST_P(VolumeLogic, KeepsTheValuesAsTypedAndTakesAnExistingFolderAsDone) {
    // Blanks and a quote are data: sent and stored as they are.
    const QString name = QStringLiteral("O'Neil 库 ");
    EXPECT_TRUE(create(ftp->address(), name, QStringLiteral(" 备注 ' ")).done());
    EXPECT_TRUE(folderOn(*ftp, name));
    const auto row = FindVolume(env->db(), name);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->remark, QStringLiteral(" 备注 ' "));
    EXPECT_EQ(volumeRows(QStringLiteral("O'Neil 库")), 0);

    // Left behind by an earlier attempt whose row could not be written.
    ASSERT_TRUE(QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V3"))));
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V3")).done());
    EXPECT_EQ(volumeRows(QStringLiteral("V3")), 1);
}

TEST_P(VolumeLogic, RefusesBadInputAndTakenNamesBeforeSendingAnything) {
    env->addVolume(QStringLiteral("V1"), ftp->address());
    const QString empty = QStringLiteral("服务器IP地址及新建目录名称不能为空");
    const QString escapes = QStringLiteral("存储目录名称不能含有“/”或“\\”，也不能是“.”或“..”！");
    EXPECT_EQ(createError(QString(), QStringLiteral("V2")), empty);
    EXPECT_EQ(createError(ftp->address(), QString()), empty);
    EXPECT_EQ(createError(ftp->address(), QStringLiteral("  　")), empty);
    EXPECT_EQ(createError(QStringLiteral("  "), QStringLiteral("V2")), empty);
    for (const QString& bad : {QStringLiteral("a/b"), QStringLiteral("..\\x"), QStringLiteral("."),
                               QStringLiteral(".."), QStringLiteral("../V1")})
        EXPECT_EQ(createError(ftp->address(), bad), escapes) << bad.toStdString();
    EXPECT_EQ(createError(ftp->address(), QStringLiteral("a\tb")), QStringLiteral("存储目录名称不能含有控制字符！"));
    EXPECT_EQ(createError(ftp->address(), QStringLiteral("V1")),
              QStringLiteral("存储目录<V1>已经存在，不能重复添加！"));

    EXPECT_TRUE(sent.isEmpty());
    EXPECT_EQ(ftp->connectionCount(), 0);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM存储目录")), 1);
    // ".." inside a name is harmless: it is one segment.
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("a..b")).done());
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("a..b")));
}

TEST_P(VolumeLogic, AFolderTheServerDidNotMakeGetsNoRow) {
    // Wrong password: the server refuses the login.
    env->session->ctx.AdminPassword = QStringLiteral("wrong");
    QString why = createError(ftp->address(), QStringLiteral("V1"));
    EXPECT_TRUE(why.startsWith(QStringLiteral("在服务器%1上创建存储目录<V1>失败：").arg(ftp->address())))
        << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("拒绝登录"))) << why.toStdString();
    EXPECT_FALSE(why.contains(QStringLiteral("wrong")));
    EXPECT_FALSE(folderOn(*ftp, QStringLiteral("V1")));

    // The server is down.
    env->session->ctx.AdminPassword = ftp->password();
    ftp->stop();
    why = createError(ftp->address(), QStringLiteral("V1"));
    EXPECT_TRUE(why.startsWith(QStringLiteral("在服务器%1上创建存储目录<V1>失败：").arg(ftp->address())))
        << why.toStdString();
    EXPECT_FALSE(why.contains(ftp->password()));

    // The server answers but refuses the folder.
    FtpServerOptions readOnly;
    readOnly.readOnlyFolders = {QStringLiteral("Volume")};
    FtpServer locked(readOnly);
    env->session->ctx.AdminPassword = locked.password();
    why = createError(locked.address(), QStringLiteral("V1"));
    EXPECT_TRUE(why.startsWith(QStringLiteral("在服务器%1上创建存储目录<V1>失败：").arg(locked.address())))
        << why.toStdString();
    EXPECT_FALSE(folderOn(locked, QStringLiteral("V1")));

    EXPECT_EQ(sent.size(), 3);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM存储目录")), 0);
}

TEST_P(VolumeLogic, ANameRecordedWhileTheFolderWasMadeIsRefusedByTheKey) {
    const TransferRunner base = runner();
    const TransferRunner racing = [&](const TransferOperation& op) {
        TransferResult result = base(op);
        env->db().exec(QStringLiteral("insert into PDM存储目录 (目录名称, 服务器IP, 备注) values (?, ?, ?)"),
                       {QStringLiteral("V1"), QStringLiteral("elsewhere"), QStringLiteral("他人")});
        return result;
    };
    const QString why =
        ErrorOf(CreateVolume(*env->session, racing, Volume{QStringLiteral("V1"), ftp->address(), QString()}));
    EXPECT_EQ(why, QStringLiteral("存储目录<V1>已经存在，不能重复添加！"));
    EXPECT_EQ(FindVolume(env->db(), QStringLiteral("V1"))->serverIp, QStringLiteral("elsewhere"));
    // The folder now serves the other record, so it stays.
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
}

TEST_P(VolumeLogic, RemovalSendsRmdirToTheStoredServerThenDropsTheRow) {
    FtpServer other;
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V1")).done());
    EXPECT_TRUE(create(other.address(), QStringLiteral("V2")).done());
    sent.clear();

    EXPECT_EQ(Shown(RemoveVolume(*env->session, runner(), QStringLiteral("V2"))), QStringLiteral("done: 删除完毕"));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].first, VolumeUrl(ftp->password(), other.address()));
    EXPECT_EQ(sent[0].second, QStringLiteral("rmdir volume/V2/"));
    EXPECT_FALSE(folderOn(other, QStringLiteral("V2")));
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    EXPECT_EQ(volumeRows(QStringLiteral("V2")), 0);
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 1);

    // A folder that is already gone counts as removed.
    env->addVolume(QStringLiteral("V9"), ftp->address());
    EXPECT_TRUE(RemoveVolume(*env->session, runner(), QStringLiteral("V9")).done());
    EXPECT_EQ(volumeRows(QStringLiteral("V9")), 0);
}

TEST_P(VolumeLogic, AVolumeStillInUseOrUnknownIsNotTouched) {
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V1")).done());
    env->addVolume(QStringLiteral("V1x"), ftp->address());
    env->addGroup(QStringLiteral("设计一室"), QStringLiteral("V1"));
    env->addGroup(QStringLiteral("设计二室"), QStringLiteral("V1x"));
    sent.clear();

    EXPECT_EQ(removeError(QStringLiteral("V1")), QStringLiteral("存储目录<V1>仍被1个组使用，不能删除！"));
    addDrawing(QStringLiteral("A-1"), QStringLiteral("V1"));
    addDrawing(QStringLiteral("A-2"), QStringLiteral("V1"));
    addDrawing(QStringLiteral("B-1"), QStringLiteral("V1x"));
    EXPECT_EQ(removeError(QStringLiteral("V1")), QStringLiteral("存储目录<V1>仍被1个组和2份图纸使用，不能删除！"));
    env->db().exec(QStringLiteral("delete from PDM组 where 组名=?"), {QStringLiteral("设计一室")});
    EXPECT_EQ(removeError(QStringLiteral("V1")), QStringLiteral("存储目录<V1>仍被2份图纸使用，不能删除！"));
    EXPECT_EQ(removeError(QStringLiteral("V7")), QStringLiteral("存储目录<V7>不存在，可能已被删除！"));

    EXPECT_TRUE(sent.isEmpty());
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 1);
    const VolumeUse use = CountVolumeUse(env->db(), QStringLiteral("V1x"));
    EXPECT_EQ(use.groups, 1);
    EXPECT_EQ(use.drawings, 1);
}

TEST_P(VolumeLogic, AFolderTheServerKeptKeepsItsRow) {
    EXPECT_TRUE(create(ftp->address(), QStringLiteral("V1")).done());
    // A file nobody recorded: the server refuses to remove a folder that is not empty.
    QFile stray(ftp->localPath(QStringLiteral("Volume/V1/stray.dwg")));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    QString why = removeError(QStringLiteral("V1"));
    EXPECT_TRUE(why.startsWith(QStringLiteral("从服务器%1上删除存储目录<V1>失败：").arg(ftp->address())))
        << why.toStdString();
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    ASSERT_TRUE(QFile::remove(stray.fileName()));

    env->session->ctx.AdminPassword = QStringLiteral("wrong");
    why = removeError(QStringLiteral("V1"));
    EXPECT_TRUE(why.contains(QStringLiteral("拒绝登录"))) << why.toStdString();

    env->session->ctx.AdminPassword = ftp->password();
    ftp->stop();
    why = removeError(QStringLiteral("V1"));
    EXPECT_TRUE(why.startsWith(QStringLiteral("从服务器%1上删除存储目录<V1>失败：").arg(ftp->address())))
        << why.toStdString();
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 1);

    // Once the server is back the removal goes through.
    ftp->start();
    client->Disconnect();
    EXPECT_EQ(removeError(QStringLiteral("V1")), QString());
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, VolumeLogic, kBothBackends, BackendName);
