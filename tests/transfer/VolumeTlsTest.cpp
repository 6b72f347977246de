#include "FtpFixture.h"

#include "transfer/FtpDriver.h"
#include "transfer/TransferPool.h"
#include "transfer/Volumes.h"
#include "transfer/ui/FrmAddVolume.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace velda::test {

class VolumeTls : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        ASSERT_TRUE(certs.isValid());
        first = MakeTestCertificate(certs.path(), QStringLiteral("first"));
        FtpServerOptions o;
        o.tlsCertificate = first.certificate;
        o.tlsKey = first.key;
        o.tlsRequired = true;
        ftp = std::make_unique<FtpServer>(o);
        env->session->ftpOptions.connectTimeout = std::chrono::seconds(3);
        env->session->ftpOptions.stallTime = std::chrono::seconds(5);
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
        env->session->ctx.AdminPassword = ftp->password();
        local = env->dir.filePath(QStringLiteral("a.dwg"));
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("drawing");
    }
    static QString PinOf(const QString& certificate) {
        QFile f(certificate);
        return f.open(QIODevice::ReadOnly) ? PublicKeyPin(f.readAll()) : QString();
    }
    QString storedPin() { return ReadVolumeTls(env->db(), QStringLiteral("V1")).pin; }
    TransferResult put(const QString& name) {
        FtpClient client(env->session->ftpOptions);
        return client.Put(ftp->volumeUrl(), local, QStringLiteral("Volume/V1/") + name);
    }

    QTemporaryDir certs;
    TestCertificate first;
    std::unique_ptr<FtpServer> ftp;
    QString local;
};

// A new volume prefers TLS and pins the key its first connection saw; a run that finds no key pinned
// records the first one from the transfer's thread; a changed key is refused until accepted.
TEST_P(VolumeTls, PinsTheFirstKeyRefusesAChangedOneAndTakesAnAcceptedOne) {
    InstallVolumeTls(*env->session); // as the login does
    FtpClient client(env->session->ftpOptions);
    const TransferRunner run([&](const TransferOperation& op) { return WaitForTransfer(client, op); });
    ASSERT_EQ(Shown(CreateVolume(*env->session, run, Volume{QStringLiteral("V1"), ftp->address(), {}})),
              QStringLiteral("done: 添加完毕"));
    EXPECT_EQ(ReadVolumeTls(env->db(), QStringLiteral("V1")).mode, FtpTlsMode::Prefer);
    EXPECT_EQ(storedPin(), PinOf(first.certificate));

    env->db().exec(QStringLiteral("update 存储目录加密 set 公钥指纹=''"));
    InstallVolumeTls(*env->session);
    ASSERT_TRUE(put(QStringLiteral("a.dwg")).ok);
    EXPECT_EQ(storedPin(), PinOf(first.certificate));

    const auto second = MakeTestCertificate(certs.path(), QStringLiteral("second"));
    ftp->useCertificate(second);
    InstallVolumeTls(*env->session);
    const TransferResult refused = put(QStringLiteral("b.dwg"));
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.message.contains(PinOf(second.certificate))) << refused.message.toStdString();
    EXPECT_EQ(storedPin(), PinOf(first.certificate));

    QString failure;
    const QString shown =
        ProbeServerKey(env->session->ftpOptions, ftp->address(), env->session->ctx.AdminPassword, &failure);
    ASSERT_EQ(shown, PinOf(second.certificate)) << failure.toStdString();
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_TRUE(AcceptVolumeKey(*env->session, QStringLiteral("V1"), shown).refused());
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    EXPECT_EQ(Shown(AcceptVolumeKey(*env->session, QStringLiteral("V1"), shown)),
              QStringLiteral("done: 已接受存储目录<V1>的新公钥"));
    EXPECT_TRUE(put(QStringLiteral("b.dwg")).ok);

    EXPECT_EQ(Shown(SetVolumeTls(*env->session, QStringLiteral("V1"), FtpTlsMode::Off)),
              QStringLiteral("done: 加密方式已保存"));
    EXPECT_TRUE(storedPin().isEmpty());
}

// Volumes on one server keep their own settings, over one client's connections: one without TLS
// sends in clear, one that requires it does not, and a stale key pinned for a third refuses only it.
TEST_P(VolumeTls, VolumesOnOneServerKeepTheirOwnModeAndKey) {
    FtpServerOptions o; // plain or TLS, as the client asks
    o.tlsCertificate = first.certificate;
    o.tlsKey = first.key;
    ftp = std::make_unique<FtpServer>(o);
    env->session->ctx.AdminPassword = ftp->password();
    const QString stale = PinOf(MakeTestCertificate(certs.path(), QStringLiteral("other")).certificate);
    for (const auto& [name, mode] :
         {std::pair{QStringLiteral("Sure"), FtpTlsMode::Require}, std::pair{QStringLiteral("Plain"), FtpTlsMode::Off},
          std::pair{QStringLiteral("Stale"), FtpTlsMode::Prefer}}) {
        env->addVolume(name, ftp->address());
        QDir().mkpath(ftp->localPath(QStringLiteral("Volume/") + name));
        ASSERT_TRUE(SetVolumeTls(*env->session, name, mode).done());
    }
    env->db().exec(QStringLiteral("update 存储目录加密 set 公钥指纹=? where 目录名称='Stale'"), {stale});
    InstallVolumeTls(*env->session);

    FtpClient client(env->session->ftpOptions);
    const auto put = [&](const QString& volume) {
        return client.Put(ftp->volumeUrl(), local, QStringLiteral("Volume/%1/a.dwg").arg(volume));
    };
    for (int round = 0; round < 2; ++round) { // the second round on the kept connections
        EXPECT_TRUE(put(QStringLiteral("Sure")).ok);
        EXPECT_TRUE(put(QStringLiteral("Plain")).ok);
        const TransferResult refused = put(QStringLiteral("Stale"));
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(refused.message.contains(stale) && refused.message.contains(PinOf(first.certificate)))
            << refused.message.toStdString();
    }
    const QString clear = ftp->clearCommands().join(u'|');
    EXPECT_TRUE(clear.contains(QStringLiteral("STOR Volume/Plain/"))) << clear.toStdString();
    EXPECT_FALSE(clear.contains(QStringLiteral("Volume/Sure"))) << clear.toStdString();
    EXPECT_FALSE(QFileInfo::exists(ftp->localPath(QStringLiteral("Volume/Stale/a.dwg"))));
    EXPECT_EQ(ftp->loginCount(), 2) << "a connection a volume, kept once its first key is pinned";
    EXPECT_EQ(ReadVolumeTls(env->db(), QStringLiteral("Sure")).pin, PinOf(first.certificate));
    EXPECT_EQ(ReadVolumeTls(env->db(), QStringLiteral("Stale")).pin, stale);
}

// The dialog makes a volume with the encryption chosen, shows its key, and accepts a new key only
// after the administrator said yes to the question naming both keys.
TEST_P(VolumeTls, TheVolumeDialogSetsShowsAndAcceptsTheKey) {
    InstallVolumeTls(*env->session);
    FrmAddVolume form(*env->session);
    form.show();
    auto* tls = child<QComboBox>(form, "CboTls");
    EXPECT_EQ(tls->currentText(), QStringLiteral("优先加密"));
    tls->setCurrentIndex(tls->findText(QStringLiteral("必须加密")));
    child<QLineEdit>(form, "TxtIP")->setText(ftp->address());
    child<QLineEdit>(form, "TxtPath")->setText(QStringLiteral("V1"));
    QTest::mouseClick(child<QPushButton>(form, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.last().text, QStringLiteral("添加完毕"));
    EXPECT_EQ(ReadVolumeTls(env->db(), QStringLiteral("V1")).mode, FtpTlsMode::Require);
    auto* list = child<QListWidget>(form, "LstVolume");
    list->setCurrentRow(list->count() - 1);
    EXPECT_TRUE(child<QLabel>(form, "LblTls")->text().contains(PinOf(first.certificate)));

    const auto second = MakeTestCertificate(certs.path(), QStringLiteral("second"));
    ftp->useCertificate(second);
    env->feedback.questionAnswers = {false, true};
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(child<QPushButton>(form, "CmdAcceptKey"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.questions.size(), 2);
    EXPECT_TRUE(env->feedback.questions[0].text.contains(PinOf(second.certificate)));
    EXPECT_TRUE(env->feedback.questions[0].text.contains(PinOf(first.certificate)));
    EXPECT_EQ(storedPin(), PinOf(second.certificate));
    EXPECT_TRUE(child<QLabel>(form, "LblTls")->text().contains(PinOf(second.certificate)));
}

INSTANTIATE_TEST_SUITE_P(Db, VolumeTls, kBothBackends, BackendName);

} // namespace velda::test
