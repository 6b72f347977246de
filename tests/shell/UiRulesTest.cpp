#include "TestSupport.h"

#include "core/ui/KeyRules.h"
#include "core/ui/Translations.h"
#include "core/ui/WidgetFeedback.h"
#include "shell/ui/FrmSQLServer.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTranslator>

using namespace velda;
using namespace velda::test;

namespace {
// The rule as the program installs it, for the length of one test.
class WithKeyRules {
public:
    WithKeyRules() { qApp->installEventFilter(&m_rule); }
    ~WithKeyRules() { qApp->removeEventFilter(&m_rule); }

private:
    EnterPressesButton m_rule;
};
} // namespace

TEST(KeyRules, EnterPressesTheFocusedButtonOnceAndOnlyWhenItCan) {
    WithKeyRules rules;
    QWidget form;
    auto* layout = new QHBoxLayout(&form);
    auto* box = new QLineEdit(&form);
    auto* button = new QPushButton(QStringLiteral("删除"), &form);
    button->setAutoDefault(false);
    layout->addWidget(box);
    layout->addWidget(button);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    form.show();
    QApplication::setActiveWindow(&form);

    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(clicks, 0) << "a text box keeps its own Enter";

    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks, 2);
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks, 2);
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(button, &held);
    EXPECT_EQ(clicks, 2) << "a held key presses once";
    button->setEnabled(false);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 2);
}

class KeyRulesOnForms : public BothDatabases {};

// The server dialog moves the focus to 设置 on Enter; the second Enter presses it.
TEST_P(KeyRulesOnForms, SecondEnterInTheServerDialogPressesSet) {
    WithKeyRules rules;
    QFile::remove(env->session->config().filePath());
    FrmSQLServer f(*env->session);
    f.show();
    QApplication::setActiveWindow(&f);
    auto* ip = child<QLineEdit>(f, "TxtIP");
    ip->setFocus();
    QTest::keyClicks(ip, env->address);
    QTest::keyClick(ip, Qt::Key_Return);
    auto* ok = child<QPushButton>(f, "CmdOK");
    ASSERT_TRUE(ok->hasFocus());
    QTest::keyClick(ok, Qt::Key_Return);
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(env->session->config().ReadServerAddress(), env->address);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, KeyRulesOnForms, kBothBackends, BackendName);

TEST(MessageBoxes, ANarrowBoxIsWideEnoughForItsTitle) {
    const QString title = QStringLiteral("设置系统SQL Server服务器IP地址");
    auto box = MakeMessageBox(QStringLiteral("好"), Icon::None, title, nullptr);
    box->show();
    QApplication::processEvents();
    EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(title) + 100);
    EXPECT_EQ(box->windowTitle(), title);
    EXPECT_EQ(box->button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    // The program's own title where none is given; the stop icon for a refusal.
    auto stop = MakeMessageBox(QStringLiteral("好"), Icon::Stop, QString(), nullptr);
    EXPECT_EQ(stop->windowTitle(), QGuiApplication::applicationDisplayName());
    EXPECT_EQ(stop->icon(), QMessageBox::Critical);
}

// The window manager shows "反馈信息 — VELDA", not "反馈信息", and draws it bold.
TEST(MessageBoxes, RoomForTheTitleWithTheProgramsNameAppended) {
    const QString before = QGuiApplication::applicationDisplayName();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("VELDA"));
    auto box = MakeMessageBox(QStringLiteral("好"), Icon::None, kTitleFeedback, nullptr);
    box->show();
    QApplication::processEvents();
    QFont bold = box->font();
    bold.setBold(true);
    EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(QStringLiteral("反馈信息 \u2014 VELDA")) + 100);
    // The input box a search asks its code in is as narrow by nature, and gets the same room.
    auto input = MakeInputBox(QStringLiteral("借用件代号"), QStringLiteral("借用件代号"), QString(), nullptr);
    input->show();
    QApplication::processEvents();
    EXPECT_GE(input->width(), QFontMetrics(bold).horizontalAdvance(QStringLiteral("借用件代号 \u2014 VELDA")) + 100);
    EXPECT_EQ(input->okButtonText(), QStringLiteral("确定"));
    QGuiApplication::setApplicationDisplayName(before);
}

// A box belongs to the child window of the command that shows it and stands over its middle, not over
// the middle of a maximised main window.
TEST(MessageBoxes, CentredOnTheChildWindowOfTheCommand) {
    QMainWindow main;
    auto* mdi = new QMdiArea(&main);
    main.setCentralWidget(mdi);
    auto* edit = new QLineEdit;
    QMdiSubWindow* sub = mdi->addSubWindow(edit);
    main.resize(1400, 1000);
    main.show();
    sub->setGeometry(700, 500, 400, 300);
    sub->show();
    QApplication::setActiveWindow(&main);
    edit->setFocus();
    ASSERT_EQ(CommandWindow(), sub);
    auto box = MakeMessageBox(QStringLiteral("好"), Icon::None, kTitleFeedback, CommandWindow());
    box->show();
    QApplication::processEvents();
    EXPECT_EQ(box->parentWidget(), &main);
    const QPoint mid = sub->mapToGlobal(sub->rect().center());
    EXPECT_LE((box->geometry().center() - mid).manhattanLength(), 4);
}

TEST(Translations, QtsOwnTextsSpeakChinese) {
    ASSERT_TRUE(LoadQtChineseTranslations(*qApp)) << "qt6-translations-l10n is part of the set-up";
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    // The file dialog's type column, for a folder and for a drawing's neighbour, a text file.
    QAbstractFileIconProvider types;
    EXPECT_EQ(types.type(QFileInfo(QDir::tempPath())), QStringLiteral("文件夹"));
    QTemporaryFile text(QDir::tempPath() + QStringLiteral("/XXXXXX.txt"));
    ASSERT_TRUE(text.open());
    EXPECT_EQ(types.type(QFileInfo(text.fileName())), QStringLiteral("纯文本文档"));
    QLocale::setDefault(QLocale::system());
    EXPECT_FALSE(LoadQtChineseTranslations(*qApp, QStringLiteral("/no/such/folder")));
    for (QTranslator* t : qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}
