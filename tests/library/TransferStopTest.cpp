#include "LibraryFixture.h"

#include "library/ui/FrmLibDrawing.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace velda;
using namespace velda::test;

// A large drawing moving through the single-drawing dialog: bar and bytes while it moves, 停止 ends
// it with nothing half-stored, and a close request is answered instead of ignored.
class TransferStop : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!env || !ftp)
            return;
        FtpServerOptions options;
        options.bytesPerSecond = 64 * 1024;
        slow = std::make_unique<FtpServer>(options);
        QDir().mkpath(slow->localPath(QStringLiteral("Volume/V3")));
        env->addVolume(QStringLiteral("V3"), slow->address());
    }
    void useSlowVolume() {
        env->session->ctx.VolumeName = QStringLiteral("V3");
        env->session->ctx.VolumeServerIp = slow->address();
    }
    QStringList slowFiles() {
        return QDir(slow->localPath(QStringLiteral("Volume/V3")))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    template <typename T> T* child(QWidget* f, const char* name) { return f->findChild<T*>(QString::fromLatin1(name)); }
    // Presses the action, and 停止 once the transfer runs; true when the stop came mid-transfer.
    bool pressAndStop(FrmLibDrawing& f, const char* action) {
        bool stoppedMidway = false;
        QTimer::singleShot(400, &f, [&] {
            stoppedMidway = child<QProgressBar>(&f, "PrgTransfer")->isVisible() &&
                            child<QPushButton>(&f, "CmdStop")->isEnabled() &&
                            child<QLabel>(&f, "LblTransfer")->text().endsWith(QStringLiteral(" MB"));
            EXPECT_FALSE(f.close()) << "the window stays while its file moves";
            EXPECT_FALSE(f.close());
            child<QPushButton>(&f, "CmdStop")->click();
        });
        child<QPushButton>(&f, action)->click();
        EXPECT_TRUE(child<QProgressBar>(&f, "PrgTransfer")->isHidden());
        EXPECT_TRUE(child<QPushButton>(&f, "CmdStop")->isHidden());
        return stoppedMidway;
    }

    std::unique_ptr<FtpServer> slow;
};

TEST_P(TransferStop, StoppedCheckInKeepsTheOldVersionAndStoppedCheckOutWritesNothing) {
    useSlowVolume();
    Acl::SetPending(env->session->ctx, QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"),
                    QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"));
    ASSERT_TRUE(library().CheckIn(QStringLiteral("S-1"), drawing(QStringLiteral("old.dwg"), "old")).done());
    const QStringList before = slowFiles();
    ASSERT_EQ(before.size(), 1);

    FrmLibDrawing f(*env->session);
    f.show();
    EXPECT_TRUE(child<QProgressBar>(&f, "PrgTransfer")->isHidden()) << "no bar while idle";
    child<QLineEdit>(&f, "TxtCode")->setText(QStringLiteral("S-1"));
    child<QLineEdit>(&f, "TxtName")->setText(drawing(QStringLiteral("new.dwg"), QByteArray(320 * 1024, 'n')));
    env->feedback.clear();
    ASSERT_TRUE(pressAndStop(f, "CmdInLib")) << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(env->feedback.texts(),
              QStringList({QStringLiteral("文件正在传输，传输结束后才能关闭窗口。如需中止，请按“停止”。"),
                           QStringLiteral("入库已停止，库中的图纸没有改变。")}));
    EXPECT_EQ(slowFiles(), before) << "no side file";
    EXPECT_EQ(read(slow->localPath(QStringLiteral("Volume/V3/") + before[0])), QByteArray("old"));
    EXPECT_EQ(rows(QStringLiteral("PDM日志"), QStringLiteral("代号=? and 方式='图纸入库'"), {QStringLiteral("S-1")}),
              1);

    // A stored drawing large enough to take a while, fetched over an older local copy.
    QFile big(slow->localPath(QStringLiteral("Volume/V3/") + before[0]));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(320 * 1024, 'b'));
    big.close();
    const QString target = drawing(QStringLiteral("out/S-1.dwg"), "mine");
    child<QLineEdit>(&f, "TxtName")->setText(target);
    env->feedback.clear();
    ASSERT_TRUE(pressAndStop(f, "CmdOutLib"));
    EXPECT_EQ(env->feedback.texts().value(1), QStringLiteral("出库已停止，没有保存本地文件，图纸状态没有改变。"));
    EXPECT_EQ(read(target), QByteArray("mine"));
    EXPECT_EQ(QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("S-1.dwg")});
    EXPECT_EQ(column(QStringLiteral("S-1"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(checkouts(QStringLiteral("S-1")), 0);
    EXPECT_TRUE(f.close()) << "closes once the transfer is over";
}

INSTANTIATE_TEST_SUITE_P(Db, TransferStop, kBothBackends, BackendName);
