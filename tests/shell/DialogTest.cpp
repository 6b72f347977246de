#include "FtpServer.h"
#include "TestSupport.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "shell/ui/FrmLogin.h"
#include "shell/ui/FrmMain.h"
#include "shell/ui/FrmSQLServer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

using namespace velda;
using namespace velda::test;

class LoginDialog : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->session->onEndProgram = [this](int code) { ended.push_back(code); };
        env->addUser(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("/user/"));
    }
    std::unique_ptr<FrmLogin> open() {
        auto f = std::make_unique<FrmLogin>(*env->session);
        f->show();
        QApplication::setActiveWindow(f.get());
        f->Form_Load();
        return f;
    }
    void fill(FrmLogin& f, const QString& user, const QString& pwd, const QString& group) {
        child<QLineEdit>(f, "TxtUser")->setText(user);
        child<QLineEdit>(f, "TxtPwd")->setText(pwd);
        child<QComboBox>(f, "CboGrp")->setCurrentText(group);
    }
    std::vector<int> ended;
};

TEST_P(LoginDialog, StartUpListsTheGroupsAndEnterMovesTheFocus) {
    auto f = open();
    auto* groups = child<QComboBox>(*f, "CboGrp");
    ASSERT_GE(groups->count(), 2);
    EXPECT_EQ(groups->currentIndex(), -1) << "no group offered to an account typed for the first time";
    EXPECT_TRUE(groups->currentText().isEmpty());
    EXPECT_EQ(f->windowTitle(), QStringLiteral("用户登录"));
    auto* user = child<QLineEdit>(*f, "TxtUser");
    auto* pwd = child<QLineEdit>(*f, "TxtPwd");
    EXPECT_EQ(pwd->echoMode(), QLineEdit::Password);
    user->setFocus();
    QTest::keyClick(user, Qt::Key_Return);
    EXPECT_TRUE(pwd->hasFocus());
    QTest::keyClick(pwd, Qt::Key_Return);
    EXPECT_TRUE(groups->hasFocus() || groups->lineEdit()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(pwd->hasFocus());
    EXPECT_TRUE(f->isVisible()) << "Enter must not press 登录";
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    fill(*f, QStringLiteral("alice"), QStringLiteral("pw"), QString());
    QTest::mouseClick(child<QPushButton>(*f, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请选择登录的组！"));
    EXPECT_EQ(logRows(QStringLiteral("登录失败")), 0);
}

TEST_P(LoginDialog, WrongPasswordOrForeignGroupIsRefusedAndThePasswordEmptied) {
    auto f = open();
    for (const auto& [pwd, group] : {std::pair{QStringLiteral("bad"), QStringLiteral("user")},
                                     std::pair{QStringLiteral("pw"), QStringLiteral("admin")}}) {
        env->feedback.clear();
        fill(*f, QStringLiteral("alice"), pwd, group);
        QTest::mouseClick(child<QPushButton>(*f, "CmdAct"), Qt::LeftButton);
        ASSERT_EQ(env->feedback.boxes.size(), 1);
        EXPECT_EQ(env->feedback.last().text, QStringLiteral("密码有误，请重新输入！"));
        EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
        EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
        EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwd")->text().isEmpty());
        EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwd")->hasFocus());
        EXPECT_TRUE(f->isVisible());
    }
    EXPECT_EQ(logRows(QStringLiteral("用户登录")), 0);
}

TEST_P(LoginDialog, SuccessfulLoginClosesAndLogs) {
    auto f = open();
    QSignalSpy spy(f.get(), &FrmLogin::loggedIn);
    fill(*f, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin"));
    QTest::mouseClick(child<QPushButton>(*f, "CmdAct"), Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(env->session->ctx.UserId, QStringLiteral("admin"));
    EXPECT_EQ(logRows(QStringLiteral("用户登录")), 1);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

TEST_P(LoginDialog, LeavingTheAccountSelectsItsLastGroup) {
    {
        auto first = open();
        fill(*first, QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("user"));
        QTest::mouseClick(child<QPushButton>(*first, "CmdAct"), Qt::LeftButton);
    }
    env->session->ctx.ReLogin = true;
    auto f = open();
    auto* groups = child<QComboBox>(*f, "CboGrp");
    ASSERT_NE(groups->findText(QStringLiteral("user")), 0);
    auto* user = child<QLineEdit>(*f, "TxtUser");
    user->setFocus();
    QTest::keyClicks(user, QStringLiteral("alice"));
    QTest::keyClick(user, Qt::Key_Return);
    EXPECT_EQ(groups->currentText(), QStringLiteral("user"));
    user->clear();
    user->setFocus();
    QTest::keyClicks(user, QStringLiteral("admin"));
    QTest::keyClick(user, Qt::Key_Return);
    EXPECT_EQ(groups->currentIndex(), -1);
}

TEST_P(LoginDialog, CancelEndsTheFirstLoginButNotAReLogin) {
    {
        auto f = open();
        QTest::mouseClick(child<QPushButton>(*f, "CmdCancel"), Qt::LeftButton);
        EXPECT_EQ(ended, std::vector<int>{0});
        EXPECT_FALSE(env->session->hasConnection());
    }
    ended.clear();
    env->session->connect(env->address);
    env->actAs(QStringLiteral("alice"), QStringLiteral("/user/"), QStringLiteral("user"));
    env->session->ctx.ReLogin = true;
    auto f = open();
    fill(*f, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin"));
    QTest::keyClick(f.get(), Qt::Key_Escape);
    EXPECT_TRUE(ended.empty());
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(env->session->ctx.UserId, QStringLiteral("alice"));
    EXPECT_TRUE(env->session->hasConnection());
}

TEST_P(LoginDialog, ReLoginWritesASecondLoginRowAndNoLogout) {
    auto first = open();
    fill(*first, QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("user"));
    QTest::mouseClick(child<QPushButton>(*first, "CmdAct"), Qt::LeftButton);
    env->session->ctx.ReLogin = true;
    auto second = open();
    fill(*second, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("user"));
    QTest::mouseClick(child<QPushButton>(*second, "CmdAct"), Qt::LeftButton);
    EXPECT_EQ(logRows(QStringLiteral("用户登录")), 2);
    EXPECT_EQ(logRows(QStringLiteral("用户注销")), 0);
    EXPECT_EQ(env->session->ctx.UserId, QStringLiteral("admin"));
}

TEST_P(LoginDialog, StartUpWithoutGroupsShowsTheErrorAndLoginFailsCleanly) {
    env->db().exec(QStringLiteral("delete from PDM组"));
    auto f = open();
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(child<QComboBox>(*f, "CboGrp")->count(), 0);
}

TEST_P(LoginDialog, NoStoredAddressAsksForItFirst) {
    const QString address = env->address;
    QFile::remove(env->session->config().filePath());
    bool asked = false;
    QTimer::singleShot(0, [&] {
        auto* server = qobject_cast<FrmSQLServer*>(QApplication::activeModalWidget());
        ASSERT_TRUE(server);
        asked = true;
        EXPECT_EQ(server->windowTitle(), QStringLiteral("设置系统SQL Server服务器IP地址"));
        child<QLineEdit>(*server, "TxtIP")->setText(QStringLiteral("  ") + address + QStringLiteral(" "));
        QTest::mouseClick(child<QPushButton>(*server, "CmdOK"), Qt::LeftButton);
    });
    auto f = open();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(env->session->config().ReadServerAddress(), address);
    EXPECT_GE(child<QComboBox>(*f, "CboGrp")->count(), 2);
    EXPECT_TRUE(ended.empty());
}

INSTANTIATE_TEST_SUITE_P(Db, LoginDialog, kBothBackends, BackendName);

class ServerDialog : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (env)
            env->session->onEndProgram = [this](int code) { ended.push_back(code); };
    }
    std::vector<int> ended;
};

TEST_P(ServerDialog, EmptyIsRefusedAndBlanksAreNeitherConnectedNorStored) {
    const QString before = env->session->config().ReadServerAddress();
    FrmSQLServer f(*env->session);
    f.show();
    QApplication::setActiveWindow(&f);
    QTest::mouseClick(child<QPushButton>(f, "CmdOK"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("SQL Server服务器IP地址（形如：192.168.1.1）不能为空！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_TRUE(child<QLineEdit>(f, "TxtIP")->hasFocus());
    EXPECT_TRUE(ended.empty());

    QTest::keyClicks(child<QLineEdit>(f, "TxtIP"), QStringLiteral("   "));
    QTest::keyClick(child<QLineEdit>(f, "TxtIP"), Qt::Key_Return);
    EXPECT_TRUE(child<QPushButton>(f, "CmdOK")->hasFocus());
    QTest::mouseClick(child<QPushButton>(f, "CmdOK"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    // The user corrects it in place: the program goes on, and nothing unusable was stored.
    EXPECT_TRUE(ended.empty());
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(env->session->config().ReadServerAddress(), before);
}

TEST_P(ServerDialog, UnreachableServerIsReportedAndLeftForCorrection) {
    QFile::remove(env->session->config().filePath());
    FrmSQLServer f(*env->session);
    f.show();
    QApplication::setActiveWindow(&f);
    auto* ip = child<QLineEdit>(f, "TxtIP");
    ip->setText(QStringLiteral("127.0.0.1:1"));
    QTest::mouseClick(child<QPushButton>(f, "CmdOK"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(env->feedback.last().text.startsWith(QStringLiteral("无法连接数据库服务器127.0.0.1:1上的数据库")))
        << env->feedback.last().text.toStdString();
    EXPECT_TRUE(ended.empty());
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(ip->text(), QStringLiteral("127.0.0.1:1"));
    EXPECT_TRUE(env->session->config().ReadServerAddress().isEmpty()) << "a failed address is not kept";

    ip->setText(env->address);
    QTest::mouseClick(child<QPushButton>(f, "CmdOK"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(env->session->config().ReadServerAddress(), env->address);
    EXPECT_EQ(env->session->ctx.ServerAddress, env->address);
    EXPECT_TRUE(env->session->hasConnection());
}

INSTANTIATE_TEST_SUITE_P(Db, ServerDialog, kBothBackends, BackendName);

class MainWindow : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->session->onEndProgram = [this](int code) { ended.push_back(code); };
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
        main = std::make_unique<FrmMain>(*env->session, ProgramForms());
        main->show();
    }
    void TearDown() override {
        main.reset();
        BothDatabases::TearDown();
    }
    std::unique_ptr<FrmMain> main;
    std::vector<int> ended;
};

namespace {
void flatten(QMenu* menu, int depth, QStringList& out) {
    for (QAction* a : menu->actions()) {
        const QString pad(depth * 2, QLatin1Char(' '));
        if (a->isSeparator()) {
            out << pad + QStringLiteral("-");
        } else {
            out << pad + a->objectName() + QLatin1Char(' ') + a->text();
            if (a->menu())
                flatten(a->menu(), depth + 1, out);
        }
    }
}
} // namespace

// The change of account's login belongs to the main window, so it stays in front of it, without
// blocking it.
TEST_P(MainWindow, TheChangeOfAccountLoginStaysInFrontOfTheMainWindow) {
    QPointer<FrmLogin> login = FrmLogin::open(*env->session, main.get());
    EXPECT_EQ(login->parentWidget(), main.get());
    EXPECT_TRUE(login->isWindow());
    EXPECT_EQ(login->windowModality(), Qt::NonModal);
    login->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(login.isNull());
}

// The login volume, and whether its server answers, found out without holding up the window.
TEST_P(MainWindow, StatusSaysTheVolumeAndWhetherItsServerAnswers) {
    FtpServer ftp;
    UserContext& ctx = env->session->ctx;
    ctx.VolumeName = QStringLiteral("V1");
    ctx.VolumeServerIp = QStringLiteral("127.0.0.1:%1").arg(UnusedLoopbackPort());
    main->RefreshStatus();
    const QLabel* volume = main->findChild<QLabel*>(QStringLiteral("StatusVolume"));
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->text(), QStringLiteral("存储目录：V1（FTP检查中）"));
    QTRY_COMPARE_WITH_TIMEOUT(volume->text(), QStringLiteral("存储目录：V1（FTP无法连接）"), 10000);

    ctx.VolumeName = QStringLiteral("V2");
    ctx.VolumeServerIp = ftp.address();
    main->RefreshStatus();
    QTRY_COMPARE_WITH_TIMEOUT(volume->text(), QStringLiteral("存储目录：V2（FTP可连接）"), 10000);
}

TEST_P(MainWindow, MenuHasEveryItemInOrder) {
    EXPECT_EQ(main->windowTitle(), QStringLiteral("VELDA主界面"));
    QStringList got;
    for (QAction* top : main->menuBar()->actions()) {
        got << top->objectName() + QLatin1Char(' ') + top->text();
        flatten(top->menu(), 1, got);
    }
    const QStringList want =
        QStringLiteral(
            "Item 零件管理|  Drawing 图库管理|    MultiInlib 批量入库|    InLibDrawing 图纸入库|    MultiOutLib "
            "批量出库|"
            "      OutLibByDrawing 依据图纸信息|      OutLibByPart 依据零件信息|    OutLibDrawing 图纸出库|"
            "    DelLibDrawing 图纸删除|    HeldDrawings 出库图纸一览|    DrawingHistory 图纸历史版本|"
            "    DeletedDrawings 已删除图纸|  ItemInfo 零件信息管理|    AddItemInfo "
            "添加信息|    SeekItemInfo 查找信息|"
            "      SeekItemInfoByDrawing 依据图纸信息|      SeekItemInfoByPart 依据零件信息|    DelItemInfo 删除信息|"
            "    ImportItemInfo 导入信息|"
            "  ItemNonLocal 借用信息管理|    AddNonLocalItem 添加借用信息|    SeekItemNonLocal 查找借用信息|"
            "    DelNonLocalItem 删除借用信息|  -|  ExitSys 退出系统|Product 产品管理|  Archives 产品档案|"
            "    AddArchives 添加档案|    SeekArchives 查询档案|    DelArchives 删除档案|  PSE 产品结构|"
            "    AddPSE 添加产品结构|    ReadPSEFromLib 显示产品结构|    RptPSE 输出产品结构|System 系统管理|"
            "  AdminAcount 记录管理员信息|  ChangerUserID 变更登录帐号|  User 用户管理|    AddUser 添加用户|"
            "    DelUser 删除用户|    EditUser 编辑用户|  Group 组管理|    AddGroup 添加组|    DelGroup 删除组|"
            "    GrpVolume 更改组存储目录|    GrpMember 组成员|  Volume 存储目录管理|    AddVolume 添加存储目录|    "
            "DelVolume 删除存储目录|"
            "    VolumeCheck 存储目录检查|"
            "  Log 日志管理|Help 帮助|  OnlineHelp 在线帮助|  -|  AboutVELDA 关于VELDA")
            .split(QLatin1Char('|'));
    EXPECT_EQ(got, want);
    // Twips give the starting size: 12780 x 9200 at 15 twips a pixel.
    EXPECT_EQ(main->size(), QSize(852, 613));
    // On the first run it stands in the middle of the screen, not where the window manager drops it.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((main->geometry().center() - screen.center()).manhattanLength(), 10);
}

TEST_P(MainWindow, ClosingWritesTheLogoutRowAndEndsTheProgram) {
    main->findChild<QAction*>(QStringLiteral("ExitSys"))->trigger();
    EXPECT_FALSE(env->session->hasConnection());
    env->session->connect(env->address);
    EXPECT_EQ(logRows(QStringLiteral("用户注销")), 1);
    EXPECT_EQ(ended, std::vector<int>{0});
}

TEST_P(MainWindow, CloseBoxWritesTheSameRow) {
    main->close();
    env->session->connect(env->address);
    EXPECT_EQ(
        env->count(QStringLiteral("select count(*) from PDM日志 where 方式='用户注销' and ID='admin' and 代号=''")), 1);
    EXPECT_EQ(ended.size(), 1u);
}

TEST_P(MainWindow, DialogsOpenOnceAtTheCornerAndComeForward) {
    env->session->config().StoreServerAddress(QStringLiteral("10.0.0.9"));
    main->RunCommand(QStringLiteral("AdminAcount"));
    QWidget* pwd = main->openForm(QStringLiteral("FrmPwd"));
    ASSERT_TRUE(pwd);
    main->RunCommand(QStringLiteral("AboutVELDA"));
    main->RunCommand(QStringLiteral("AdminAcount"));
    EXPECT_EQ(main->openForm(QStringLiteral("FrmPwd")), pwd);
    EXPECT_EQ(main->mdiArea()->subWindowList().size(), 2);
    EXPECT_EQ(main->mdiArea()->activeSubWindow()->widget(), pwd);
    EXPECT_EQ(pwd->parentWidget()->pos(), QPoint(0, 0));
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    // The administrator gate is applied before the dialog opens.
    env->session->ctx.UserGroups = QStringLiteral("/user/");
    qobject_cast<QMdiSubWindow*>(pwd->parentWidget())->close();
    QApplication::processEvents();
    main->RunCommand(QStringLiteral("AdminAcount"));
    EXPECT_FALSE(main->openForm(QStringLiteral("FrmPwd")));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作"));
}

TEST_P(MainWindow, HelpAboutBorrowedCodeAndChangeOfAccount) {
    // The manual opens in the program's own help window, not in a desktop viewer.
    const QString manual = env->session->paths().helpFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(manual).absolutePath()));
    {
        QFile f(manual);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html><body><h1>VELDA使用说明</h1></body></html>");
    }
    main->RunCommand(QStringLiteral("OnlineHelp"));
    EXPECT_TRUE(env->feedback.openedDocuments.isEmpty());
    EXPECT_TRUE(env->feedback.boxes.empty());
    auto* help = main->findChild<QWidget*>(QStringLiteral("FrmHelp"));
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    auto* text = help->findChild<QTextBrowser*>(QStringLiteral("TxtManual"));
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("VELDA使用说明")));
    help->close();
    // Without the manual the user is told where it was looked for.
    QFile::remove(manual);
    main->RunCommand(QStringLiteral("OnlineHelp"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("无法打开帮助文件") + manual);
    EXPECT_FALSE(help->isVisible());
    env->feedback.clear();

    main->RunCommand(QStringLiteral("AboutVELDA"));
    QWidget* about = main->openForm(QStringLiteral("FrmAbout"));
    ASSERT_TRUE(about);
    EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("LblVersion"))->text(), QStringLiteral("VELDA V2.0"));

    env->feedback.inputAnswers = {QStringLiteral("ab1")};
    main->RunCommand(QStringLiteral("SeekItemNonLocal"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("借用件代号输入有误！"));

    QSignalSpy relogin(main.get(), &FrmMain::reLoginRequested);
    main->RunCommand(QStringLiteral("ChangerUserID"));
    EXPECT_EQ(relogin.count(), 1);
    EXPECT_TRUE(env->session->ctx.ReLogin);
}

// The item search's detail opens 使用位置 by name through the main window, handing it the code shown;
// asked again for another code, the one window answers that.
TEST_P(MainWindow, TheItemDetailOpensWhereUsedForItsCode) {
    main->ShowForm(QStringLiteral("FrmSeekItemInfo"));
    QWidget* seek = main->openForm(QStringLiteral("FrmSeekItemInfo"));
    ASSERT_TRUE(seek);
    auto* action = seek->findChild<QAction*>(QStringLiteral("MnuWhereUsed"));
    ASSERT_TRUE(action);
    for (const QString& code : {QStringLiteral("GB-01"), QStringLiteral("GB-02")}) {
        seek->findChild<QLineEdit*>(QStringLiteral("TxtCode"))->setText(code);
        action->trigger();
        QWidget* whereUsed = main->openForm(QStringLiteral("FrmWhereUsed"));
        ASSERT_TRUE(whereUsed);
        EXPECT_EQ(whereUsed->findChild<QLineEdit*>(QStringLiteral("TxtCode"))->text(), code);
    }
    EXPECT_EQ(main->mdiArea()->subWindowList().size(), 2);
}

TEST_P(MainWindow, EachAccountFindsItsWindowsAsItLeftThem) {
    const auto aboutFrame = [this] {
        main->RunCommand(QStringLiteral("AboutVELDA"));
        QWidget* about = main->openForm(QStringLiteral("FrmAbout"));
        return about ? qobject_cast<QMdiSubWindow*>(about->parentWidget()) : nullptr;
    };
    const QSize mainStart = main->size();
    QMdiSubWindow* sub = aboutFrame();
    ASSERT_TRUE(sub);
    const QSize formStart = sub->size();
    const QRect moved(30, 20, formStart.width() + 60, formStart.height() + 40);
    sub->setGeometry(moved);
    sub->close();
    QApplication::processEvents();
    sub = aboutFrame();
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->geometry(), moved);
    main->resize(mainStart + QSize(100, 50));
    main->close();
    env->session->connect(env->address);
    main = std::make_unique<FrmMain>(*env->session, ProgramForms());
    EXPECT_EQ(main->size(), mainStart + QSize(100, 50));

    // Another account on the same machine starts from the first sizes.
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    main = std::make_unique<FrmMain>(*env->session, ProgramForms());
    main->show();
    EXPECT_EQ(main->size(), mainStart);
    sub = aboutFrame();
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->geometry(), QRect(QPoint(0, 0), formStart));
}

INSTANTIATE_TEST_SUITE_P(Db, MainWindow, kBothBackends, BackendName);
