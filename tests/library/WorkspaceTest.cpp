#include "LibraryFixture.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "core/ui/WidgetFeedback.h"
#include "library/Batch.h"
#include "library/WorkingFolder.h"
#include "library/ui/FrmMultiInLib.h"
#include "shell/ui/FrmMain.h"
#include "shell/ui/LibraryWorkspace.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QUrl>

using namespace velda;
using namespace velda::test;

namespace {

class Workspace : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!env || !ftp)
            return;
        // Any server address lets the gates pass; the record of this machine deciphers.
        env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1"));
        env->db().exec(QStringLiteral("delete from PDM系统管理员信息"));
        WriteAdminPassword(env->db(), env->session->machineSerialHex(), ftp->password());
        work = env->dir.path() + QStringLiteral("/工作区");
        WorkingFolder::choose(env->session->config(), QStringLiteral("admin"), work);
    }
    // Drawings checked in by batch, without part or drawing records.
    void checkInByBatch(const QStringList& codes) {
        QStringList files;
        for (const QString& c : codes)
            files << drawing(QStringLiteral("batch/") + c + QStringLiteral(".dwg"), c.toUtf8());
        const BatchResult r = BatchLibrary(*env->session, runner()).CheckIn(files);
        ASSERT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    }
    QTableView* list(FrmMain& main) { return child<QTableView>(*main.workspace(), "LstLibrary"); }
    QStringList shownCodes(FrmMain& main) {
        QStringList codes;
        const LibraryListModel* m = main.workspace()->model();
        for (int r = 0; r < m->rowCount(); ++r)
            codes << m->drawingAt(r)->code;
        return codes;
    }
    void drop(QWidget* target, const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &dropped);
        QTest::qWait(20);
    }
    // As a user does it: the press that selects, then the double-click.
    static void doubleClick(QTableView* view, const QPoint& at) {
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    }
    QString work;
};

TEST_P(Workspace, BatchDrawingsAreFoundByTypingAndOpenOnDoubleClick) {
    checkInByBatch({QStringLiteral("XT-100"), QStringLiteral("XT-101"), QStringLiteral("YZ-7")});
    FrmMain main(*env->session, ProgramForms());
    main.resize(1280, 800);
    main.show();
    QTableView* view = list(main);
    EXPECT_EQ(shownCodes(main), (L({"XT-100", "XT-101", "YZ-7"})));
    QTest::keyClicks(child<QLineEdit>(*main.workspace(), "TxtQuickFilter"), QStringLiteral("xt-10"));
    EXPECT_EQ(shownCodes(main), (L({"XT-100", "XT-101"})));
    EXPECT_EQ(child<QLabel>(*main.workspace(), "LblCount")->text(), QStringLiteral("显示2份，共3份图纸"));

    // Double-click: asked whether to hold it, the user says yes; the copy lands in the working folder
    // and goes to the desktop's program.
    view->selectRow(0);
    env->feedback.questionAnswers = {true};
    const QRect cell = view->visualRect(view->model()->index(0, 0));
    doubleClick(view, cell.center());
    const QString file = work + QStringLiteral("/XT-100.dwg");
    EXPECT_EQ(env->feedback.questions.size(), 1) << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(env->feedback.openedDocuments, QStringList{file});
    EXPECT_EQ(read(file), QByteArray("XT-100"));
    EXPECT_EQ(field(QStringLiteral("PDM出库图纸信息"), QStringLiteral("出库帐号"), QStringLiteral("代号"),
                    QStringLiteral("XT-100")),
              QStringLiteral("admin"));
    EXPECT_EQ(logRows(QStringLiteral("图纸出库")), 1);
    EXPECT_EQ(main.workspace()->selectedCodes(), QStringList{QStringLiteral("XT-100")});
    const LibraryListModel* m = main.workspace()->model();
    EXPECT_EQ(m->data(m->index(0, LibraryListModel::Local)).toString(), QStringLiteral("未修改"));
    EXPECT_EQ(m->data(m->index(0, LibraryListModel::Holder)).toString(), QStringLiteral("admin"));

    // Nothing associated with the type: the user is told and the folder is shown instead.
    env->feedback.documentOpens = false;
    doubleClick(view, cell.center());
    EXPECT_EQ(env->feedback.last().text, WorkspaceText::NoProgram(file));
    EXPECT_EQ(env->feedback.openedDocuments.last(), work);

    // The context menu offers the actions on the selection; 复制代号 copies the codes.
    emit view->customContextMenuRequested(cell.center());
    QMenu* menu = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("MnuLibrary") && w->isVisible())
            menu = qobject_cast<QMenu*>(w);
    ASSERT_TRUE(menu);
    QStringList names;
    for (QAction* a : menu->actions())
        names << a->text();
    EXPECT_EQ(names, (L({"打开", "出库", "入库", "撤销出库", "删除", "复制代号", "使用位置", "历史版本", "刷新"})));
    menu->close();
    view->selectAll();
    main.workspace()->findChild<QAction*>(QStringLiteral("ActCopyCode"))->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("XT-100\nXT-101"));
    // Where the first selected drawing is used opens on its code.
    main.workspace()->findChild<QAction*>(QStringLiteral("ActWhereUsed"))->trigger();
    QWidget* used = main.openForm(QStringLiteral("FrmWhereUsed"));
    ASSERT_TRUE(used);
    EXPECT_EQ(child<QLineEdit>(*used, "TxtCode")->text(), QStringLiteral("XT-100"));
}

TEST_P(Workspace, DropsOpenTheCheckInFilledIn) {
    FrmMain main(*env->session, ProgramForms());
    main.show();
    QWidget* target = list(main)->viewport();
    const QString single = drawing(QStringLiteral("in/DROP-1.dwg"), "d");
    drop(target, {single});
    QWidget* form = main.openForm(QStringLiteral("FrmLibDrawing"));
    ASSERT_TRUE(form);
    EXPECT_EQ(child<QLineEdit>(*form, "TxtCode")->text(), QStringLiteral("DROP-1"));
    EXPECT_EQ(child<QLineEdit>(*form, "TxtName")->text(), single);
    EXPECT_FALSE(env->session->ctx.PendingRead.isEmpty()) << "rights prepared as a file choice prepares them";
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息")), 0) << "nothing until the user confirms";

    env->feedback.clear();
    drop(target, {drawing(QStringLiteral("in/notes.txt"), "n")});
    EXPECT_EQ(env->feedback.texts(), QStringList{WorkspaceText::OnlyDrawings});

    drawing(QStringLiteral("in/sub/DROP-2.dwg"), "e");
    drop(target, {env->dir.path() + QStringLiteral("/local/in")});
    auto* batch = qobject_cast<FrmMultiInLib*>(main.openForm(QStringLiteral("FrmMultiInLib")));
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->selectedFolder(), env->dir.path() + QStringLiteral("/local/in"));
    drop(target, {single, drawing(QStringLiteral("in/DROP-3.dwg"), "f")});
    EXPECT_TRUE(child<QLabel>(*batch, "LblDropped")->isVisibleTo(batch));
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息")), 0);
}

// Another client's new drawing, check-out, check-in and deletion each show in a list longer than a
// page, read in place (no whole read), the user's selection kept.
TEST_P(Workspace, AnotherClientsChangesShowInPlace) {
    checkInByBatch({QStringLiteral("K-1"), QStringLiteral("K-3")});
    QList<CheckInRow> many;
    for (int i = 0; i < 600; ++i)
        many << CheckInRow{QStringLiteral("P-%1").arg(i),
                           {},
                           {},
                           {},
                           {},
                           QStringLiteral("bob"),
                           QStringLiteral("2024/3/5"),
                           QStringLiteral("p%1").arg(i),
                           QStringLiteral("V1")};
    LibraryStore(env->db()).insertCheckIns(many);
    FrmMain main(*env->session, ProgramForms());
    main.show();
    LibraryWorkspace* workspace = main.workspace();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace->isLoading(); }, 10000));
    const LibraryListModel* m = workspace->model();
    list(main)->selectRow(m->rowOf(QStringLiteral("K-3")));

    RecordingFeedback otherFeedback;
    std::unique_ptr<Session> other = env->otherSession(otherFeedback, QStringLiteral("B2C3D4E"));
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"), other.get());
    Acl::SetPending(other->ctx, QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"),
                    QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"));
    FtpClient otherClient;
    DrawingLibrary otherLibrary(*other, [&](const TransferOperation& op) { return WaitForTransfer(otherClient, op); });
    const auto state = [&](const char* code) {
        const int row = m->rowOf(QString::fromLatin1(code));
        return row < 0 ? QStringLiteral("gone") : m->drawingAt(row)->state;
    };
    const auto followed = [&] {
        workspace->CheckForChanges();
        return !workspace->isLoading();
    };
    ASSERT_TRUE(otherLibrary.CheckIn(QStringLiteral("K-2"), drawing(QStringLiteral("k2.dwg"), "k")).done());
    EXPECT_TRUE(followed());
    EXPECT_EQ(state("K-2"), QStringLiteral("正常"));
    EXPECT_EQ(m->totalCount(), 603);
    ASSERT_TRUE(otherLibrary.CheckOut(QStringLiteral("K-1"), env->dir.path() + QStringLiteral("/k1.dwg")).done());
    EXPECT_TRUE(followed());
    EXPECT_EQ(state("K-1"), QStringLiteral("出库"));
    ASSERT_TRUE(otherLibrary.CheckIn(QStringLiteral("K-1"), env->dir.path() + QStringLiteral("/k1.dwg")).done());
    EXPECT_TRUE(followed());
    EXPECT_EQ(state("K-1"), QStringLiteral("正常"));
    EXPECT_EQ(workspace->selectedCodes(), QStringList{QStringLiteral("K-3")});
    ASSERT_TRUE(otherLibrary.Delete(QStringLiteral("K-3")).done());
    EXPECT_TRUE(followed());
    EXPECT_EQ(state("K-3"), QStringLiteral("gone"));
    EXPECT_EQ(m->totalCount(), 602);
    if (GetParam() == Backend::PostgreSQL) {
        // A change no log row tells of (another program's): the server's announcement reads it whole.
        other->db().exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号='P-1'"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return state("P-1") == QStringLiteral("出库"); }, 10000));
    }
}

// A library longer than a page: its first page shows at once, the rest comes in without taking the
// user's filter, selection or sort away; the selected drawing's records show beside the list.
TEST_P(Workspace, ALargeLibraryShowsAPageAtOnceAndTheRestInPlace) {
    QList<CheckInRow> many;
    for (int i = 0; i < 620; ++i) {
        const QString code = QStringLiteral("P-%1").arg(i, 4, 10, QLatin1Char('0'));
        many << CheckInRow{
            code, {}, {}, {}, {}, QStringLiteral("bob"), QStringLiteral("2024/3/5"), code, QStringLiteral("V1")};
    }
    LibraryStore(env->db()).insertCheckIns(many);
    env->db().exec(QStringLiteral("insert into 零件信息 (代号,名称,重量,材料) values ('P-0001','轴','2.5','Q235')"));
    env->db().exec(
        QStringLiteral("insert into 图纸信息 (代号,设计,比例,页数,图样) values ('P-0001','张三','1:2','3','S')"));

    LibraryWorkspace workspace(*env->session, [](const QString&) { return nullptr; });
    workspace.resize(1280, 760);
    workspace.show();
    workspace.Reload();
    LibraryListModel* m = workspace.model();
    ASSERT_TRUE(workspace.isLoading());
    EXPECT_EQ(m->totalCount(), 500);
    EXPECT_EQ(m->drawingAt(499)->code, QStringLiteral("P-0499"));
    EXPECT_EQ(child<QLabel>(workspace, "LblCount")->text(), WorkspaceText::FirstPage(500));

    workspace.view()->sortByColumn(LibraryListModel::Code, Qt::DescendingOrder);
    QTest::keyClicks(child<QLineEdit>(workspace, "TxtQuickFilter"), QStringLiteral("p-00"));
    EXPECT_EQ(m->rowCount(), 100);
    workspace.view()->selectRow(m->rowOf(QStringLiteral("P-0001")));
    const QString records = child<QLabel>(workspace, "LblRecords")->text();
    for (const char* shown :
         {"重量(kg)：|2.5", "材料：|Q235", "设计人员：|张三", "比例：|1:2", "共|3页", "图样标记：|S"}) {
        const QStringList cells = QString::fromUtf8(shown).split(QLatin1Char('|'));
        EXPECT_TRUE(records.contains(QRegularExpression(QRegularExpression::escape(cells[0]) +
                                                        QStringLiteral("</td><td[^>]*>") +
                                                        QRegularExpression::escape(cells[1]))))
            << shown;
    }

    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace.isLoading(); }, 10000));
    EXPECT_EQ(m->totalCount(), 620);
    EXPECT_EQ(m->rowCount(), 100) << "the filter typed meanwhile still holds";
    EXPECT_EQ(m->drawingAt(0)->code, QStringLiteral("P-0099")) << "and the order chosen";
    EXPECT_EQ(workspace.selectedCodes(), QStringList{QStringLiteral("P-0001")});
    EXPECT_EQ(workspace.view()->currentIndex().row(), m->rowOf(QStringLiteral("P-0001")));
    child<QLineEdit>(workspace, "TxtQuickFilter")->clear();
    EXPECT_EQ(m->drawingAt(0)->code, QStringLiteral("P-0619"));
    EXPECT_EQ(child<QLabel>(workspace, "LblCount")->text(), WorkspaceText::Counts(620, 620));
}

INSTANTIATE_TEST_SUITE_P(Db, Workspace, kBothBackends, BackendName);

// The desktop's own association decides the program: a fake one registered for .dwg receives the file.
TEST(DesktopOpen, TheAssociatedProgramReceivesTheFile) {
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/data");
    const QString config = dir.path() + QStringLiteral("/config");
    QDir().mkpath(data + QStringLiteral("/applications"));
    QDir().mkpath(data + QStringLiteral("/mime/packages"));
    QDir().mkpath(config);
    const QString received = dir.path() + QStringLiteral("/received.txt");
    const QString program = dir.path() + QStringLiteral("/fakecad.sh");
    const auto write = [](const QString& path, const QString& text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    };
    write(program, QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n").arg(received));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    write(data + QStringLiteral("/applications/fakecad.desktop"),
          QStringLiteral("[Desktop Entry]\nType=Application\nName=FakeCAD\nExec=%1 %f\nMimeType=image/vnd.dwg;\n")
              .arg(program));
    write(data + QStringLiteral("/mime/packages/fakecad.xml"),
          QStringLiteral("<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/standards/"
                         "shared-mime-info\"><mime-type type=\"image/vnd.dwg\"><glob pattern=\"*.dwg\"/>"
                         "</mime-type></mime-info>\n"));
    write(config + QStringLiteral("/mimeapps.list"),
          QStringLiteral("[Default Applications]\nimage/vnd.dwg=fakecad.desktop\n"));
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("DISPLAY", ":0"); // xdg-open asks the associations only on a desktop
    const QString drawingFile = dir.path() + QStringLiteral("/图 1.dwg");
    write(drawingFile, QStringLiteral("AC1018"));

    EXPECT_EQ(DesktopProgramFor(drawingFile), QStringLiteral("fakecad.desktop"));
    WidgetFeedback feedback;
    EXPECT_TRUE(feedback.openDocument(drawingFile));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(received); }, 10000));
    QFile got(received);
    got.open(QIODevice::ReadOnly);
    EXPECT_EQ(QString::fromUtf8(got.readAll()).trimmed(), drawingFile);

    qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/empty")).toUtf8());
    QFile::remove(data + QStringLiteral("/applications/fakecad.desktop"));
    EXPECT_FALSE(feedback.openDocument(drawingFile)) << "nothing associated: no browser, no pretence";
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
