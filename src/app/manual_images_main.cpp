// velda-manual-images FOLDER: draws every form of the program, filled with a small sample, into
// FOLDER/<form name>.png for the manual, so its pictures always show the forms as they are now.
// Run offscreen (QT_QPA_PLATFORM=offscreen); scripts/manual-images.sh does.
#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/Session.h"
#include "core/ui/FormRegistry.h"
#include "library/LibraryStore.h"
#include "library/ui/FolderTree.h"
#include "shell/ui/FrmLogin.h"
#include "shell/ui/FrmMain.h"
#include "shell/ui/LibraryWorkspace.h"
#include "store/DatabaseInit.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <tuple>

namespace {

// The sample the pictures show: a design group with two members, a volume, a few part records.
void FillSample(velda::Database& db) {
    db.exec(QStringLiteral(
        "insert into PDM存储目录 (目录名称, 服务器IP, 备注) values ('本机', '127.0.0.1:2121', '样例存储目录')"));
    db.exec(QStringLiteral("update PDM组 set 目录名称='本机'"));
    db.exec(QStringLiteral("insert into PDM组 (组名, 目录名称, 备注) values ('设计一室', '本机', '样例组')"));
    for (const auto& [id, groups] : {std::pair{QStringLiteral("zhangsan"), QStringLiteral("/user/设计一室/")},
                                     std::pair{QStringLiteral("lisi"), QStringLiteral("/设计一室/")}})
        db.exec(QStringLiteral("insert into PDM用户 (ID, 密码, 所属组, 备注, 创建日期) values (?, 'sample', ?, "
                               "'样例用户', '2024/3/5')"),
                {id, groups});
    const QStringList parts{QStringLiteral("样例-001|主轴"), QStringLiteral("样例-002|齿轮"),
                            QStringLiteral("样例-003|端盖")};
    for (const QString& part : parts)
        db.exec(QStringLiteral("insert into 零件信息 (代号, 名称) values (?, ?)"),
                {part.section(QLatin1Char('|'), 0, 0), part.section(QLatin1Char('|'), 1, 1)});
    // Two drawings in the library, both checked out, so the list of holds has something to show.
    const QDate today = QDate::currentDate();
    for (const auto& [code, holder, daysAgo] : {std::tuple{QStringLiteral("样例-001"), QStringLiteral("zhangsan"), 9},
                                                std::tuple{QStringLiteral("样例-002"), QStringLiteral("lisi"), 1}}) {
        const QString date = velda::ShortDateText(today.addDays(-daysAgo));
        const QString only = QStringLiteral("/%1(U)/").arg(holder);
        velda::LibraryStore store(db);
        store.insertCheckIn({code, QStringLiteral("/user(G)/"), only, only, only, holder, QStringLiteral("2024/2/20"),
                             QStringLiteral("20240220") + code + QStringLiteral(".dwg"), QStringLiteral("本机")});
        store.markCheckedOut(code, holder, date);
    }
    // More drawings in the library, not held, and for each its check-in's log row and version with
    // the file's size: the main window's list and its details then show what an office sees.
    const QStringList more{QStringLiteral("样例-003|zhangsan|2024/2/21"), QStringLiteral("样例-004|lisi|2024/3/1"),
                           QStringLiteral("GB/T 5783-2000 M8x20|zhangsan|2024/3/4")};
    for (const QString& drawing : more) {
        const QString code = drawing.section(QLatin1Char('|'), 0, 0);
        const QString account = drawing.section(QLatin1Char('|'), 1, 1);
        const QString only = QStringLiteral("/%1(U)/").arg(account);
        velda::LibraryStore(db).insertCheckIn(
            {code, QStringLiteral("/user(G)/"), only, only, only, account, drawing.section(QLatin1Char('|'), 2, 2),
             QStringLiteral("20240220") + code + QStringLiteral(".dwg"), QStringLiteral("本机")});
    }
    db.exec(QStringLiteral("insert into 零件信息 (代号, 名称, 重量, 材料) values ('GB/T 5783-2000 M8x20', "
                           "'六角头螺栓', '0.012', 'Q235')"));
    db.exec(QStringLiteral("update 零件信息 set 重量='3.6', 材料='45' where 代号='样例-001'"));
    db.exec(QStringLiteral("insert into 图纸信息 (代号, 设计, 校对, 主管设计, 审定, 标准审查, 工艺审查, 日期, 比例, "
                           "编码, 幅面, 页数, 图样, 页码) values ('样例-001', '张三', '李四', '王五', '赵六', "
                           "'钱七', '孙八', '2024/02/20', '1:2', 'ZJ-01', 'A3', '2', 'S', '1')"));
    qint64 size = 48213;
    for (const QString& code : {QStringLiteral("样例-001"), QStringLiteral("样例-002"), QStringLiteral("样例-003"),
                                QStringLiteral("样例-004"), QStringLiteral("GB/T 5783-2000 M8x20")}) {
        db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values ('zhangsan', ?, "
                               "'2024年02月20日09时07分03秒', '图纸入库')"),
                {code});
        const qint64 number = velda::LibraryStore(db).lastLogNumber();
        db.exec(QStringLiteral("insert into 图纸版本 (代号, 版本号, 入库帐号, 入库时间, 文件大小, 目录名称, "
                               "入库文件名称) values (?, ?, 'zhangsan', '2024/2/20', ?, '本机', ?)"),
                {code, number, size, QStringLiteral("20240220") + code + QStringLiteral(".dwg")});
        size = size * 7 / 5;
    }
}

// Folder trees show the demo root in place of the machine's "/": the pictures then show the same
// neutral folders (home/用户/图纸) wherever they are drawn, never the drawing machine's own.
// Serves the events due meanwhile (layouts, the folder model's answers) until a timer ends the wait.
void ServeEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void ShowDemoFolders(QWidget* form, const QString& demoRoot) {
    bool any = false;
    for (QTreeView* view : form->findChildren<QTreeView*>())
        if (auto* model = qobject_cast<QFileSystemModel*>(view->model())) {
            view->setRootIndex(model->index(demoRoot));
            // The drawings folder chosen, as a user would before pressing 入库 or 出库; the header
            // names it as it would stand on the user's own machine.
            const QString drawings = QStringLiteral("/home/用户/图纸");
            view->setCurrentIndex(model->index(demoRoot + drawings));
            view->expand(view->currentIndex());
            if (auto* folders = dynamic_cast<velda::FolderModel*>(model))
                folders->setChosen(drawings);
            any = true;
        }
    if (!any)
        return;
    // The model reads folders on a thread of its own; give it time to fill the tree.
    ServeEventsFor(800);
}

bool Save(QWidget* widget, const QString& file, QTextStream& out) {
    ServeEventsFor(0);
    if (!widget->grab().save(file))
        return false;
    out << file << "\n";
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    // The batch dialogs open at the home folder: a made-up one, with a drawings folder in it.
    const QTemporaryDir demoRoot;
    const QString demoHome = demoRoot.path() + QStringLiteral("/home/用户");
    for (const char* sub : {"/图纸/零件图", "/图纸/部件图", "/文档"})
        QDir().mkpath(demoHome + QString::fromUtf8(sub));
    qputenv("HOME", demoHome.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velda.svg")));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        err << "用法：velda-manual-images 图片文件夹\n";
        return 2;
    }
    const QString folder = QDir(args[1]).absolutePath();
    QDir().mkpath(folder);
    QTemporaryDir work;
    velda::StderrFeedback feedback;
    velda::SystemClock clock;
    const velda::Configuration config(work.path() + QStringLiteral("/velda.ini"));
    config.StoreServerAddress(velda::Configuration::kLocalWord);
    velda::ProgramPaths paths;
    paths.programFolder = QApplication::applicationDirPath();
    paths.dataFolder = work.path();
    int failures = 0;
    try {
        velda::CreateLocalDatabase(paths.localDatabase(), QDate(2024, 3, 5));
        velda::Session session(feedback, clock, config, paths, velda::VolumeSerialHex(velda::ReadMachineSerial()));
        session.connect(velda::Configuration::kLocalWord);
        session.ctx.ServerAddress = velda::Configuration::kLocalWord;
        FillSample(session.db());
        {
            velda::FrmLogin login(session);
            login.show();
            login.Form_Load();
            failures += !Save(&login, folder + QStringLiteral("/FrmLogin.png"), out);
        }
        session.ctx.UserId = QStringLiteral("admin");
        session.ctx.UserGroups = QStringLiteral("/admin/");
        session.ctx.LoginGroup = QStringLiteral("admin");
        session.ctx.VolumeName = QStringLiteral("本机");
        velda::FrmMain main(session, velda::ProgramForms());
        main.RefreshStatus();
        main.show();
        failures += !Save(&main, folder + QStringLiteral("/FrmMain.png"), out);
        // The library workspace at the two screen sizes an office has most, a drawing chosen so that
        // its details show.
        main.workspace()->view()->selectRow(main.workspace()->model()->rowOf(QStringLiteral("样例-001")));
        for (const QSize size : {QSize(1280, 800), QSize(1920, 1080)}) {
            main.resize(size);
            ServeEventsFor(0);
            failures += !Save(&main, folder + QStringLiteral("/FrmMain-%1.png").arg(size.width()), out);
        }
        for (const QString& name : velda::ProgramForms().names()) {
            if (name == QLatin1String("FrmLogin"))
                continue;
            main.ShowForm(name);
            QWidget* form = main.openForm(name);
            if (!form) {
                err << name << "：窗口未能打开\n";
                ++failures;
                continue;
            }
            ShowDemoFolders(form, demoRoot.path());
            QWidget* frame = form->parentWidget() ? form->parentWidget() : form;
            failures += !Save(frame, folder + QStringLiteral("/%1.png").arg(name), out);
            if (auto* sub = qobject_cast<QMdiSubWindow*>(frame))
                sub->close();
            ServeEventsFor(0);
        }
    } catch (const velda::Error& e) {
        err << e.description() << "\n";
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
