#include "DwgSamples.h"
#include "FtpServer.h"
#include "TestSupport.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "core/ActivityLog.h"
#include "items/ItemRecords.h"
#include "items/ItemSearch.h"
#include "items/ui/DwgView.h"
#include "items/ui/FrmSeekItemInfo.h"
#include "library/DrawingLibrary.h"
#include "shell/ui/FrmMain.h"
#include "transfer/TransferCommand.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMdiArea>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace velda;
using namespace velda::test;

namespace {

QByteArray drawingWithPicture(int width) {
    DwgMaker m;
    m.version = "AC1032";
    m.pageHeader = 32;
    m.images = {{2, dib(24, false, false, width, 2)}};
    return m.make();
}

} // namespace

// Drawings on a real FTP server: volume V1, and the library rows pointing at them.
class ItemSearchBase : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        try {
            ftp = std::make_unique<FtpServer>(serverOptions());
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        env->session->ftpOptions.connectTimeout = std::chrono::milliseconds(3000);
        env->session->ftpOptions.stallTime = std::chrono::seconds(5);
        env->addVolume(QStringLiteral("V1"), ftp->address());
        QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V1")));
        actAs(QStringLiteral("alice"), QStringLiteral("design"));
    }
    void TearDown() override {
        ftp.reset();
        BothDatabases::TearDown();
    }
    virtual FtpServerOptions serverOptions() { return {}; }

    void actAs(const QString& user, const QString& group) {
        env->session->ctx.UserId = user;
        env->session->ctx.LoginGroup = group;
        env->session->ctx.UserGroups = QLatin1Char('/') + group + QLatin1Char('/');
        env->session->ctx.AdminPassword = ftp->password();
    }
    // A drawing in the library under libraryCode, its file on V1.
    void store(const QString& libraryCode, const QString& fileName, const QByteArray& bytes,
               const QString& readers = QStringLiteral("/alice(U)/"), const QString& state = QStringLiteral("正常")) {
        QFile f(ftp->localPath(QStringLiteral("Volume/V1/") + fileName));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        env->db().exec(
            QStringLiteral(
                "insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,目录名称) "
                "values (?,?,'','','','admin','2024/3/5',?,?,'V1')"),
            {libraryCode, readers, fileName, state});
    }
    void checkedOut(const QString& code, const QString& who, const QString& when) {
        env->db().exec(QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
                       {code, who, when});
    }
    void records(const QString& code, const QString& name, bool part = true, bool drawing = true) {
        if (part)
            env->db().exec(QStringLiteral("insert into 零件信息 (代号,名称,类型,材料,重量) values (?,?,?,?,'2.5')"),
                           {code, name, PartKind(code), QStringLiteral("45")});
        if (drawing)
            env->db().exec(QStringLiteral("insert into 图纸信息 (代号,设计,比例,幅面,页数,图样,页码) values "
                                          "(?,'张三','1:2','A3','1','S','1')"),
                           {code});
    }
    int browseRows(const QString& code) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式='浏览图纸信息' and 代号=?"), {code});
    }

    std::unique_ptr<FtpServer> ftp;
};

class ItemDetailData : public ItemSearchBase {};

TEST_P(ItemDetailData, TheCaptionShowsThisItemsLibraryState) {
    store(QStringLiteral("N-1"), QStringLiteral("n1.dwg"), "x");
    store(QStringLiteral("O-1"), QStringLiteral("o1.dwg"), "x", QStringLiteral("/alice(U)/"), QStringLiteral("出库"));
    checkedOut(QStringLiteral("O-1"), QStringLiteral("bob"), QStringLiteral("2024/3/5"));
    store(QStringLiteral("O-2"), QStringLiteral("o2.dwg"), "x", QStringLiteral("/alice(U)/"), QStringLiteral("出库"));
    store(QStringLiteral("S-1"), QStringLiteral("s1.dwg"), "x");
    checkedOut(QStringLiteral("S-1"), QStringLiteral("carol"), QStringLiteral("2023/12/1"));
    store(QStringLiteral("W-1"), QStringLiteral("w1.dwg"), "x", QStringLiteral("/alice(U)/"), QStringLiteral("待审"));

    const std::pair<const char*, QString> cases[] = {
        {"N-1", QStringLiteral("图纸已入库！")},
        {"O-1", QStringLiteral("图纸已被bob于2024/3/5出库！")},
        {"W-1", QStringLiteral("图纸当前状态为“待审”！")}, // not the previous item's text
        {"O-2", QStringLiteral("图纸已出库！")},
        {"S-1", QStringLiteral("图纸已被carol于2023/12/1出库！")}, // the check-out row has the last word
        {"NONE", QStringLiteral("图纸目前尚未入库！")},
    };
    for (const auto& [code, caption] : cases)
        EXPECT_EQ(LoadItemDetail(*env->session, QString::fromLatin1(code), true).caption, caption) << code;
}

TEST_P(ItemDetailData, SlashCodesAreFoundAsTypedAndAsStoredNames) {
    records(QStringLiteral("GB/T-12"), QStringLiteral("垫圈"));
    store(QStringLiteral("GB-T-12"), QStringLiteral("batch.dwg"), "x");  // the batch check-in's code
    store(QStringLiteral("GB/T-13"), QStringLiteral("single.dwg"), "x"); // the single check-in's code
    store(QStringLiteral("GB/T-14"), QStringLiteral("typed.dwg"), "x");
    store(QStringLiteral("GB-T-14"), QStringLiteral("replaced.dwg"), "x");
    checkedOut(QStringLiteral("GB-T-15"), QStringLiteral("bob"), QStringLiteral("2024/1/2"));

    ItemDetail d = LoadItemDetail(*env->session, QStringLiteral("GB/T-12"), true);
    EXPECT_EQ(d.caption, QStringLiteral("图纸已入库！"));
    ASSERT_TRUE(d.records.part && d.records.drawing);
    EXPECT_EQ(d.records.part->name, QStringLiteral("垫圈"));
    ASSERT_TRUE(d.preview);
    EXPECT_EQ(d.preview->remotePath, QStringLiteral("Volume/V1/batch.dwg"));

    d = LoadItemDetail(*env->session, QStringLiteral("GB/T-13"), true);
    EXPECT_EQ(d.caption, QStringLiteral("图纸已入库！"));
    EXPECT_FALSE(d.records.part.has_value());
    ASSERT_TRUE(d.preview);
    EXPECT_EQ(d.preview->remotePath, QStringLiteral("Volume/V1/single.dwg"));

    d = LoadItemDetail(*env->session, QStringLiteral("GB/T-14"), true);
    ASSERT_TRUE(d.preview);
    EXPECT_EQ(d.preview->remotePath, QStringLiteral("Volume/V1/typed.dwg"));

    EXPECT_EQ(LoadItemDetail(*env->session, QStringLiteral("GB/T-15"), true).caption,
              QStringLiteral("图纸已被bob于2024/1/2出库！"));
    EXPECT_EQ(LibraryCodes(QStringLiteral("A/B/C")), (QStringList{QStringLiteral("A/B/C"), QStringLiteral("A-B-C")}));
    EXPECT_EQ(LibraryCodes(QStringLiteral("ABC")), QStringList{QStringLiteral("ABC")});
}

TEST_P(ItemDetailData, OnlyReadersGetTheFileAndEveryViewWritesOneLogRow) {
    store(QStringLiteral("R-1"), QStringLiteral("r1.dwg"), "x", QStringLiteral("/bob(U)/design(G)/"));
    actAs(QStringLiteral("alice"), QStringLiteral("design"));
    ItemDetail d = LoadItemDetail(*env->session, QStringLiteral("R-1"), true);
    ASSERT_TRUE(d.preview);
    EXPECT_EQ(d.preview->url, VolumeUrl(ftp->password(), ftp->address()));
    actAs(QStringLiteral("alice"), QStringLiteral("team")); // the login group decides, not other groups
    d = LoadItemDetail(*env->session, QStringLiteral("R-1"), true);
    EXPECT_FALSE(d.preview);
    EXPECT_EQ(d.caption, QStringLiteral("图纸已入库！"));
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 读=NULL"));
    EXPECT_FALSE(LoadItemDetail(*env->session, QStringLiteral("R-1"), true).preview);

    // Records are read only when a line was chosen; the log row is written either way.
    records(QStringLiteral("R-1"), QStringLiteral("板"));
    EXPECT_FALSE(LoadItemDetail(*env->session, QStringLiteral("R-1"), false).records.part.has_value());
    EXPECT_EQ(browseRows(QStringLiteral("R-1")), 4);
    EXPECT_EQ(browseRows(QStringLiteral("NONE")), 0);
    LoadItemDetail(*env->session, QStringLiteral("NONE"), true);
    EXPECT_EQ(browseRows(QStringLiteral("NONE")), 1);
}

TEST_P(ItemDetailData, TheSearchListsTheCodesInOrderOrSaysWhyNot) {
    records(QStringLiteral("B-2"), QStringLiteral("轴"));
    records(QStringLiteral("A-1"), QStringLiteral("轴套"), true, false);
    records(QStringLiteral("C'3"), QStringLiteral("盖"), false, true);
    const ConditionConfig parts = ConditionConfig::itemSearch(QStringLiteral("ByPart"));
    const ConditionConfig drawings = ConditionConfig::itemSearch(QStringLiteral("ByDrawing"));
    EXPECT_EQ(ItemSearchStatement(parts, QStringLiteral("名称 = '轴' ")),
              QStringLiteral("select 代号 from 零件信息 where 名称 = '轴' order by 代号"));
    // A hand-typed condition ending in a digit must not run into the order.
    EXPECT_EQ(ItemSearchStatement(parts, QStringLiteral("数量 = 1")),
              QStringLiteral("select 代号 from 零件信息 where 数量 = 1 order by 代号"));

    QStringList codes;
    int starts = 0;
    Outcome o = SearchItemCodes(*env->session, parts,
                                ComposeClause(QStringLiteral("名称"), QStringLiteral("包含"), QStringLiteral("轴")),
                                &codes, [&] { ++starts; });
    EXPECT_TRUE(o.done()) << o.text.toStdString();
    EXPECT_EQ(codes, (QStringList{QStringLiteral("A-1"), QStringLiteral("B-2")}));
    EXPECT_EQ(starts, 1);
    o = SearchItemCodes(*env->session, drawings, ComposeClause(QStringLiteral("代号"), QStringLiteral(">"), QString()),
                        &codes);
    EXPECT_EQ(codes, (QStringList{QStringLiteral("B-2"), QStringLiteral("C'3")}));

    // Nothing found, nothing typed, a text that is not a plain condition, a text the database rejects:
    // the list is left alone and the reason comes back.
    codes = QStringList{QStringLiteral("kept")};
    o = SearchItemCodes(*env->session, parts, QStringLiteral("代号 = 'NONE' "), &codes);
    EXPECT_TRUE(o.refused());
    EXPECT_EQ(o.text, QStringLiteral("库中不存在符合查询条件的记录"));
    EXPECT_EQ(o.icon, Icon::Stop);
    o = SearchItemCodes(*env->session, parts, QString(), &codes, [&] { ++starts; });
    EXPECT_EQ(o.text, QStringLiteral("请先输入查询条件！"));
    EXPECT_EQ(o.icon, Icon::None);
    EXPECT_EQ(o.title, QString());
    o = SearchItemCodes(*env->session, parts, QStringLiteral("1=1; delete from 零件信息 "), &codes, [&] { ++starts; });
    EXPECT_TRUE(o.refused());
    EXPECT_TRUE(o.text.startsWith(QStringLiteral("查询条件中含有不允许的内容："))) << o.text.toStdString();
    EXPECT_EQ(starts, 1);
    o = SearchItemCodes(*env->session, parts, QStringLiteral("代号 = "), &codes);
    EXPECT_TRUE(o.failed());
    EXPECT_EQ(o.title, QStringLiteral("反馈信息"));
    EXPECT_FALSE(o.text.isEmpty());
    EXPECT_EQ(codes, QStringList{QStringLiteral("kept")});
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息")), 2);
}

INSTANTIATE_TEST_SUITE_P(Both, ItemDetailData, kBothBackends, BackendName);

class ItemSearchForm : public ItemSearchBase {
protected:
    std::unique_ptr<FrmSeekItemInfo> open(const QString& mode) {
        env->session->ctx.SeekMode = mode;
        auto f = std::make_unique<FrmSeekItemInfo>(*env->session);
        f->show();
        return f;
    }
    void condition(QWidget& f, const QString& text) { child<QLineEdit>(f, "TxtCond")->setText(text); }
    void seek(QWidget& f) { QTest::mouseClick(child<QPushButton>(f, "CmdSeek"), Qt::LeftButton); }
    QStringList lines(QWidget& f) {
        QAbstractItemModel* m = child<QListView>(f, "LstResult")->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, 0).data().toString();
        return out;
    }
    // A click on a line as the user makes it: the line becomes the current one, then the click.
    void clickLine(QWidget& f, int row) {
        auto* list = child<QListView>(f, "LstResult");
        const QRect r = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }
    QString text(QWidget& f, const char* name) { return child<QLineEdit>(f, name)->text(); }
    QString caption(QWidget& f) { return child<QLabel>(f, "LblMsg")->text(); }
    DwgView* picture(QWidget& f) { return child<DwgView>(f, "Dwg"); }
    QStringList previewCopies() {
        return QDir(env->session->paths().dataFolder).entryList({QStringLiteral("*.dwg*")}, QDir::Files);
    }
};

TEST_P(ItemSearchForm, SearchListsTheCodesAndAClickShowsRecordsStateAndPicture) {
    records(QStringLiteral("P-2"), QStringLiteral("轴"));
    records(QStringLiteral("P-1"), QStringLiteral("轴套"), true, false);
    records(QStringLiteral("Q-1"), QStringLiteral("盖"));
    store(QStringLiteral("P-1"), QStringLiteral("20240305P-1.dwg"), drawingWithPicture(8));

    // A copy of a program that is gone is cleared away; one of a running program stays.
    const QString data = env->session->paths().dataFolder;
    QDir().mkpath(data);
    const QString orphan = data + QStringLiteral("/预览-999999999-x.dwg");
    const QString running = data + QStringLiteral("/预览-%1-y.dwg").arg(QCoreApplication::applicationPid());
    for (const QString& path : {orphan, running}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto f = open(QStringLiteral("ByPart"));
    EXPECT_FALSE(QFile::exists(orphan));
    EXPECT_TRUE(QFile::exists(running));
    QFile::remove(running);
    EXPECT_EQ(f->windowTitle(), QStringLiteral("零件信息查询"));
    EXPECT_EQ(child<QComboBox>(*f, "CboAttr")->itemText(1), QStringLiteral("名称"));
    EXPECT_FALSE(picture(*f)->hasPicture());
    condition(*f, QStringLiteral("名称 like  '%轴%' "));
    seek(*f);
    EXPECT_EQ(lines(*f), (QStringList{QStringLiteral("P-1"), QStringLiteral("P-2")}));
    EXPECT_EQ(child<QLabel>(*f, "LblNum")->text(), QStringLiteral("共2条记录"));
    EXPECT_TRUE(env->feedback.boxes.isEmpty());

    clickLine(*f, 0);
    EXPECT_EQ(text(*f, "TxtCode"), QStringLiteral("P-1"));
    EXPECT_EQ(text(*f, "TxtName"), QStringLiteral("轴套"));
    EXPECT_EQ(text(*f, "TxtMat"), QStringLiteral("45"));
    for (const char* fixed : {"TxtName", "TxtZL", "TxtMat"}) {
        const QPalette shown = child<QLineEdit>(*f, fixed)->palette();
        EXPECT_FALSE(child<QLineEdit>(*f, fixed)->isEnabled()) << fixed;
        EXPECT_EQ(shown.color(QPalette::Disabled, QPalette::Text), shown.color(QPalette::Active, QPalette::Text))
            << fixed << " is fixed, yet must stay legible";
    }
    EXPECT_EQ(text(*f, "TxtDesign"), QString()); // no drawing record
    EXPECT_EQ(caption(*f), QStringLiteral("图纸已入库！"));
    ASSERT_TRUE(picture(*f)->hasPicture()) << picture(*f)->reason().toStdString();
    EXPECT_EQ(picture(*f)->image().width(), 8);
    EXPECT_EQ(browseRows(QStringLiteral("P-1")), 1);
    // The copy lives in the user's data folder under this window's own name.
    EXPECT_TRUE(f->previewFile().startsWith(env->session->paths().dataFolder));
    EXPECT_TRUE(QFile::exists(f->previewFile()));
    EXPECT_EQ(previewCopies().size(), 1);

    clickLine(*f, 1);
    EXPECT_EQ(text(*f, "TxtName"), QStringLiteral("轴"));
    EXPECT_EQ(text(*f, "TxtBL"), QStringLiteral("1:2"));
    EXPECT_EQ(caption(*f), QStringLiteral("图纸目前尚未入库！"));
    EXPECT_FALSE(picture(*f)->hasPicture());
    clickLine(*f, 1);
    EXPECT_EQ(browseRows(QStringLiteral("P-2")), 2);
    // The arrow keys move through the lines as clicks do.
    QTest::keyClick(child<QListView>(*f, "LstResult"), Qt::Key_Up);
    EXPECT_EQ(text(*f, "TxtCode"), QStringLiteral("P-1"));
    EXPECT_EQ(browseRows(QStringLiteral("P-1")), 2);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());

    const QString copy = f->previewFile();
    f.reset();
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_TRUE(previewCopies().isEmpty());
}

TEST_P(ItemSearchForm, TheOtherModeSearchesItsTableWithoutReloadingTheAttributes) {
    records(QStringLiteral("M-1"), QStringLiteral("轴"), true, false);
    records(QStringLiteral("M-2"), QStringLiteral("套"), false, true);
    auto f = open(QStringLiteral("ByDrawing"));
    EXPECT_EQ(child<QComboBox>(*f, "CboAttr")->itemText(1), QStringLiteral("设计"));
    condition(*f, QStringLiteral("代号 like  '%M%' "));
    seek(*f);
    EXPECT_EQ(lines(*f), QStringList{QStringLiteral("M-2")});
    env->session->ctx.SeekMode = QStringLiteral("ByPart");
    seek(*f);
    EXPECT_EQ(lines(*f), QStringList{QStringLiteral("M-1")});
    EXPECT_EQ(child<QComboBox>(*f, "CboAttr")->itemText(1), QStringLiteral("设计"));

    condition(*f, QStringLiteral("代号 = 'NONE' "));
    seek(*f);
    EXPECT_TRUE(lines(*f).isEmpty());
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("库中不存在符合查询条件的记录"));
}

TEST_P(ItemSearchForm, APictureFetchedOnceServesAgainWhileItsStoredFileStays) {
    records(QStringLiteral("C-1"), QStringLiteral("轴"));
    records(QStringLiteral("C-2"), QStringLiteral("套"));
    store(QStringLiteral("C-1"), QStringLiteral("c1.dwg"), drawingWithPicture(6));
    store(QStringLiteral("C-2"), QStringLiteral("c2.dwg"), drawingWithPicture(10));
    auto f = open(QStringLiteral("ByPart"));
    condition(*f, QStringLiteral("代号 like  '%C-%' "));
    seek(*f);
    clickLine(*f, 0);
    ASSERT_TRUE(picture(*f)->hasPicture());
    clickLine(*f, 1);
    EXPECT_EQ(picture(*f)->image().width(), 10);

    // Gone from the server: the window still has it, so nothing is fetched and nothing fails.
    QFile::remove(ftp->localPath(QStringLiteral("Volume/V1/c1.dwg")));
    clickLine(*f, 0);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    ASSERT_TRUE(picture(*f)->hasPicture());
    EXPECT_EQ(picture(*f)->image().width(), 6);

    // A check-in cut off after its commit: its log row is in, its file still under the staged name.
    // The click puts the file in place and shows it, not the copy the window kept.
    env->db().exec(QStringLiteral("insert into PDM日志 (ID,代号,时间,方式) values ('bob','C-1','2024/3/6',?)"),
                   {LogWord::CheckIn});
    const qint64 number = env->db().scalar(QStringLiteral("select max(序号) from PDM日志")).toLongLong();
    {
        QFile staged(ftp->localPath(StagedName(QStringLiteral("Volume/V1/c1.dwg"), number)));
        ASSERT_TRUE(staged.open(QIODevice::WriteOnly));
        staged.write(drawingWithPicture(12));
    }
    clickLine(*f, 1);
    clickLine(*f, 0);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    ASSERT_TRUE(picture(*f)->hasPicture());
    EXPECT_EQ(picture(*f)->image().width(), 12);
    EXPECT_TRUE(QFile::exists(ftp->localPath(QStringLiteral("Volume/V1/c1.dwg"))));
    EXPECT_FALSE(QFile::exists(ftp->localPath(StagedName(QStringLiteral("Volume/V1/c1.dwg"), number))));

    // A new stored name is a new drawing: fetched afresh, and its absence is said.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 入库文件名称='c1-new.dwg' where 代号='C-1'"));
    clickLine(*f, 0);
    EXPECT_FALSE(picture(*f)->hasPicture());
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(env->feedback.last().text.startsWith(QStringLiteral("图纸<C-1>的预览文件获取失败：")))
        << env->feedback.last().text.toStdString();
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(caption(*f), QStringLiteral("图纸已入库！"));
    EXPECT_EQ(browseRows(QStringLiteral("C-1")), 4);
    f.reset();
    EXPECT_TRUE(previewCopies().isEmpty());
}

TEST_P(ItemSearchForm, WithoutTheReadRightNothingIsFetchedAndNoCopyIsLeft) {
    records(QStringLiteral("X-1"), QStringLiteral("轴"));
    records(QStringLiteral("X-2"), QStringLiteral("套"));
    store(QStringLiteral("X-1"), QStringLiteral("x1.dwg"), drawingWithPicture(6));
    store(QStringLiteral("X-2"), QStringLiteral("x2.dwg"), drawingWithPicture(6), QStringLiteral("/bob(U)/"));
    auto f = open(QStringLiteral("ByPart"));
    condition(*f, QStringLiteral("代号 like  '%X-%' "));
    seek(*f);
    clickLine(*f, 0);
    ASSERT_TRUE(picture(*f)->hasPicture());
    EXPECT_EQ(previewCopies().size(), 1);
    clickLine(*f, 1);
    EXPECT_EQ(caption(*f), QStringLiteral("图纸已入库！"));
    EXPECT_FALSE(picture(*f)->hasPicture());
    EXPECT_TRUE(previewCopies().isEmpty());
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Both, ItemSearchForm, kBothBackends, BackendName);

// A slow server, so that the user can click another line while the first picture is on its way.
class ItemSearchSlowServer : public ItemSearchForm {
protected:
    FtpServerOptions serverOptions() override {
        FtpServerOptions o;
        o.bytesPerSecond = 256 * 1024;
        return o;
    }
};

TEST_P(ItemSearchSlowServer, TheLaterClickWinsOverARunningFetch) {
    records(QStringLiteral("L-1"), QStringLiteral("大图"));
    records(QStringLiteral("L-2"), QStringLiteral("小图"));
    QByteArray big = drawingWithPicture(12);
    big.append(512 * 1024, '\x42'); // the rest of a large drawing: about two seconds on this server
    store(QStringLiteral("L-1"), QStringLiteral("l1.dwg"), big);
    store(QStringLiteral("L-2"), QStringLiteral("l2.dwg"), drawingWithPicture(5));
    auto f = open(QStringLiteral("ByPart"));
    condition(*f, QStringLiteral("代号 like  '%L-%' "));
    seek(*f);

    const int loginsBefore = ftp->loginCount();
    bool firstReturned = false;
    bool firstWasRunning = false;
    QTimer::singleShot(400, f.get(), [&] {
        firstWasRunning = !firstReturned && text(*f, "TxtCode") == QStringLiteral("L-1");
        clickLine(*f, 1);
    });
    clickLine(*f, 0);
    firstReturned = true;
    // Both views are done; the second one's picture stays.
    EXPECT_EQ(text(*f, "TxtCode"), QStringLiteral("L-2"));
    EXPECT_EQ(text(*f, "TxtName"), QStringLiteral("小图"));
    ASSERT_TRUE(picture(*f)->hasPicture());
    EXPECT_EQ(picture(*f)->image().width(), 5);
    EXPECT_TRUE(firstWasRunning) << "the first fetch was not running when the second click came";
    EXPECT_EQ(ftp->loginCount() - loginsBefore, 1) << "the second fetch waits for the window's connection";
    EXPECT_EQ(previewCopies(), QStringList{QFileInfo(f->previewFile()).fileName()});
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    EXPECT_EQ(browseRows(QStringLiteral("L-1")), 1);
    EXPECT_EQ(browseRows(QStringLiteral("L-2")), 1);
}

INSTANTIATE_TEST_SUITE_P(Both, ItemSearchSlowServer, kBothBackends, BackendName);

// The menu commands open the two windows as the main window prepares them.
class ItemMenu : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->session->onEndProgram = [](int) {};
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
        main = std::make_unique<FrmMain>(*env->session, ProgramForms());
        main->show();
    }
    void TearDown() override {
        main.reset();
        BothDatabases::TearDown();
    }
    std::unique_ptr<FrmMain> main;
};

TEST_P(ItemMenu, RecordCommandsLeaveTheirButtonAndSearchCommandsPassTheirGate) {
    main->RunCommand(QStringLiteral("AddItemInfo"));
    QWidget* records = main->openForm(QStringLiteral("FrmAddDelItemInfo"));
    ASSERT_TRUE(records);
    EXPECT_TRUE(child<QPushButton>(*records, "CmdAct")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*records, "CmdDel")->isEnabled());
    main->RunCommand(QStringLiteral("DelItemInfo"));
    // The open window keeps what its first command set; the user is told to open it again.
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(env->feedback.last().text.contains(QStringLiteral("仍保留打开时所选功能的设置")))
        << env->feedback.last().text.toStdString();
    env->feedback.boxes.clear();
    EXPECT_EQ(main->openForm(QStringLiteral("FrmAddDelItemInfo")), records);
    EXPECT_FALSE(child<QPushButton>(*records, "CmdAct")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*records, "CmdDel")->isEnabled());

    // No administrator record on this machine: the search stays shut.
    main->RunCommand(QStringLiteral("SeekItemInfoByPart"));
    EXPECT_FALSE(main->openForm(QStringLiteral("FrmSeekItemInfo")));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);

    WriteAdminPassword(env->db(), env->session->machineSerialHex(), QStringLiteral("ftppw"));
    main->RunCommand(QStringLiteral("SeekItemInfoByPart"));
    QWidget* seek = main->openForm(QStringLiteral("FrmSeekItemInfo"));
    ASSERT_TRUE(seek);
    // At the size it opens with, the window fits the main window's area, and every control is inside it
    // and none is squeezed below its least.
    QCoreApplication::processEvents();
    EXPECT_TRUE(main->mdiArea()->viewport()->rect().contains(seek->parentWidget()->geometry()))
        << seek->parentWidget()->width() << "x" << seek->parentWidget()->height();
    for (QWidget* w : seek->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(seek) || !(qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
                                       qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractButton*>(w)))
            continue;
        const QRect place(w->mapTo(seek, QPoint(0, 0)), w->size());
        EXPECT_TRUE(seek->rect().contains(place)) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
    }
    EXPECT_EQ(env->session->ctx.SeekMode, QStringLiteral("ByPart"));
    EXPECT_EQ(child<QComboBox>(*seek, "CboAttr")->itemText(1), QStringLiteral("名称"));
    main->RunCommand(QStringLiteral("SeekItemInfoByDrawing"));
    EXPECT_EQ(main->openForm(QStringLiteral("FrmSeekItemInfo")), seek);
    EXPECT_EQ(env->session->ctx.SeekMode, QStringLiteral("ByDrawing"));
    EXPECT_EQ(env->feedback.boxes.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Both, ItemMenu, kBothBackends, BackendName);
