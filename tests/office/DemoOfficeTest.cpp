// The sample that scripts/run.sh --demo puts into a new office: made through the program's operations on
// a real database and a real FTP server, and never twice.
#include "FtpFixture.h"
#include "Printers.h"

#include "app/DemoOffice.h"
#include "app/OfficeSeed.h"
#include "core/ActivityLog.h"
#include "items/DwgPreview.h"
#include "items/ItemRecords.h"
#include "structure/StructureStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QTextStream>

using namespace velda;
using namespace velda::test;

namespace {

const QStringList kTables = {QStringLiteral("PDM用户"),
                             QStringLiteral("PDM组"),
                             QStringLiteral("零件信息"),
                             QStringLiteral("图纸信息"),
                             QStringLiteral("PDM入库图纸信息"),
                             QStringLiteral("PDM出库图纸信息"),
                             QStringLiteral("产品结构入库人员信息表"),
                             QStringLiteral("产品结构"),
                             QStringLiteral("借用件"),
                             QStringLiteral("产品档案库"),
                             QStringLiteral("PDM存储目录")};

} // namespace

class DemoFill : public BothDatabasesWithFtp {
protected:
    void SetUp() override {
        BothDatabasesWithFtp::SetUp();
        if (!env || !ftp)
            return;
        // The office as office.sh seeds it: the volume on the FTP server, bound to admin and user, and
        // this machine's FTP record.
        QString said;
        QTextStream out(&said);
        SeedOffice(*env->session, ftp->address(), ftp->password(), out);
        env->session->ctx = UserContext();
    }

    Outcome fill(QString* said = nullptr) {
        QString text;
        QTextStream out(&text);
        const Outcome o = FillDemoOffice(*env->session, env->dir.path(), out);
        out.flush();
        if (said)
            *said = text;
        return o;
    }

    // Every table's row count and the files on the volume: what a refused fill must leave as it was.
    QStringList snapshot() {
        QStringList counts;
        for (const QString& t : kTables)
            counts << t + QLatin1Char('=') + QString::number(rows(t));
        counts << QDir(ftp->localPath(QStringLiteral("Volume/") + kOfficeVolumeName)).entryList(QDir::Files);
        return counts;
    }
};

TEST_P(DemoFill, AFreshOfficeGetsTheWholeSampleThroughTheOperations) {
    QString said;
    const Outcome o = fill(&said);
    ASSERT_TRUE(o.done()) << Shown(o).toStdString() << "\n" << said.toStdString();

    EXPECT_EQ(rows(QStringLiteral("PDM用户")), 1 + DemoSize::Users);
    EXPECT_EQ(rows(QStringLiteral("PDM组")), 2 + DemoSize::Groups);
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("li")), QStringLiteral("/设计组/工艺组/"));
    EXPECT_EQ(
        field(QStringLiteral("PDM组"), QStringLiteral("目录名称"), QStringLiteral("组名"), QStringLiteral("设计组")),
        kOfficeVolumeName);
    EXPECT_EQ(rows(QStringLiteral("零件信息"), QStringLiteral("代号 like 'DEMO%'")), DemoSize::Codes);
    EXPECT_EQ(rows(QStringLiteral("零件信息")), DemoSize::Codes);
    EXPECT_EQ(rows(QStringLiteral("图纸信息")), DemoSize::Codes);
    // Records and check-ins were made by the users themselves, each logged as the dialogs log it.
    EXPECT_EQ(logRows(LogWord::AddItemInfo), DemoSize::Codes);
    EXPECT_EQ(logRows(LogWord::CheckIn), DemoSize::Drawings);
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息"), QStringLiteral("入库帐号 in ('zhang', 'li')")),
              DemoSize::Drawings);

    // Every library row's file is on the volume and carries a picture the preview reader decodes.
    QSqlQuery q = env->db().exec(QStringLiteral("select 代号, 目录名称, 入库文件名称 from PDM入库图纸信息"));
    int checked = 0;
    while (q.next()) {
        const QString code = q.value(0).toString();
        QFile file(ftp->localPath(QStringLiteral("Volume/") + q.value(1).toString() + QLatin1Char('/') +
                                  q.value(2).toString()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << code.toStdString();
        const DwgPreviewResult preview = ReadDwgPreview(file);
        ASSERT_TRUE(preview.found()) << code.toStdString() << ": " << preview.reason().toStdString();
        const QImage picture = QImage::fromData(preview.picture.data);
        EXPECT_EQ(picture.size(), QSize(180, 135)) << code.toStdString();
        // Not a blank picture: the sketch's white outline is there.
        EXPECT_NE(picture.pixel(3, 3) & 0xFFFFFFu, 0u) << code.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, DemoSize::Drawings);
    EXPECT_TRUE(QFile::exists(env->dir.path() + QStringLiteral("/样例图纸/DEMO1-101.dwg")));

    // One structure, two sections, loadable as the picker offers it.
    EXPECT_EQ(StoredProducts(*env->session).value, QStringList{QStringLiteral("DEMO1")});
    EXPECT_EQ(rows(QStringLiteral("产品结构入库人员信息表")), DemoSize::Sections);
    EXPECT_EQ(StoredSections(*env->session, QStringLiteral("DEMO1")).value,
              (QStringList{QStringLiteral("200"), QStringLiteral("DEMO1-01")}));
    EXPECT_EQ(rows(QStringLiteral("产品结构"), QStringLiteral("结合部代号='DEMO1-200'")), 6);

    EXPECT_EQ(rows(QStringLiteral("借用件"), QStringLiteral("入库帐号='wang'")), DemoSize::Borrows);
    EXPECT_EQ(rows(QStringLiteral("产品档案库")), DemoSize::Archives);
    EXPECT_EQ(rows(QStringLiteral("PDM出库图纸信息"), QStringLiteral("出库帐号='li'")), DemoSize::Holds);

    // A second fill is refused and changes nothing.
    const QStringList before = snapshot();
    const Outcome again = fill();
    EXPECT_TRUE(again.refused()) << Shown(again).toStdString();
    EXPECT_TRUE(
        again.text.startsWith(QStringLiteral("本机办公环境中已有其他用户、其他组、零件信息或图纸信息、入库图纸、"
                                             "产品结构、借用件记录、产品档案，")))
        << again.text.toStdString();
    EXPECT_EQ(snapshot(), before);
}

TEST_P(DemoFill, AnOfficeHoldingOneRecordOfItsOwnIsLeftAlone) {
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    ItemEntry own;
    own.code = QStringLiteral("A-1");
    own.part.name = QStringLiteral("轴");
    own.drawing.scale = kDefaultScale;
    ASSERT_TRUE(AddItemRecords(*env->session, own).done());
    const QStringList before = snapshot();
    const int logBefore = rows(QStringLiteral("PDM日志"));

    const Outcome o = fill();
    EXPECT_EQ(Shown(o), QStringLiteral("refused: ") + DemoText::NotFresh.arg(QStringLiteral("零件信息或图纸信息")));
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(rows(QStringLiteral("PDM日志")), logBefore);
}

TEST_P(DemoFill, AnAdministratorPasswordChangedMeansNotAFreshOffice) {
    env->db().exec(QStringLiteral("update PDM用户 set 密码='other' where ID='admin'"));
    const QStringList before = snapshot();
    const Outcome o = fill();
    EXPECT_TRUE(o.refused()) << Shown(o).toStdString();
    EXPECT_TRUE(o.text.startsWith(QStringLiteral("无法以admin/admin登录admin组"))) << o.text.toStdString();
    EXPECT_EQ(snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Both, DemoFill, kBothBackends, BackendName);
