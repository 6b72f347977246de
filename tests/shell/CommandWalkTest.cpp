#include "TestSupport.h"

#include "app/Forms.h"
#include "core/ui/FormRegistry.h"
#include "shell/CommandTable.h"
#include "shell/ui/FrmMain.h"

#include <QApplication>

#include <memory>
#include <set>

using namespace velda;
using namespace velda::test;

namespace {

// Commands that open no form of the registry: the main window acts itself.
const std::set<QString> kSpecialActions = {QStringLiteral("Exit"), QStringLiteral("Help"), QStringLiteral("FrmLogin")};

// Forms of subsystems still being built. The table names them already; each leaves this list in the
// change that registers it, and the walk then checks its controls like every other form's.
const std::set<QString> kFormsStillToCome = {};

} // namespace

TEST(CommandWalk, EveryMenuLineWithoutChildrenIsACommandAndEveryCommandIsOnTheMenu) {
    const std::vector<MenuEntry>& menu = MenuLayout();
    std::set<QString> leaves;
    for (size_t i = 0; i < menu.size(); ++i) {
        const bool hasChildren = i + 1 < menu.size() && menu[i + 1].depth > menu[i].depth;
        if (menu[i].isSeparator() || hasChildren)
            continue;
        leaves.insert(menu[i].name);
        EXPECT_TRUE(FindCommand(menu[i].name)) << "menu line without a command: " << menu[i].name.toStdString();
    }
    for (const Command& command : Commands())
        EXPECT_TRUE(leaves.count(command.item)) << "command not on the menu: " << command.item.toStdString();
}

TEST(CommandWalk, EveryDialogIsRegisteredOrASpecialActionOrStillToCome) {
    const FormRegistry& forms = ProgramForms();
    for (const Command& command : Commands()) {
        const QString& dialog = command.dialog;
        const bool registered = forms.find(dialog) != nullptr;
        if (kSpecialActions.count(dialog)) {
            EXPECT_FALSE(registered) << dialog.toStdString() << " is both a form and a special action";
            EXPECT_TRUE(command.disable.isEmpty()) << command.item.toStdString();
        } else if (kFormsStillToCome.count(dialog)) {
            EXPECT_FALSE(registered) << dialog.toStdString()
                                     << " is registered now: take it off the list of forms still to come";
        } else {
            EXPECT_TRUE(registered) << command.item.toStdString() << " opens " << dialog.toStdString()
                                    << ", which no subsystem registers";
        }
    }
}

class CommandWalkForms : public BothDatabases {};

// Each form is built as the main window builds it, after the command's effect set the mode words, and
// every control the command disables must be found in it: a misspelt name would otherwise leave a
// button enabled that the function must not offer.
TEST_P(CommandWalkForms, EveryControlACommandDisablesExistsInItsForm) {
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    const FormRegistry& forms = ProgramForms();
    int built = 0;
    for (const Command& command : Commands()) {
        const FormRegistry::Factory* factory = forms.find(command.dialog);
        if (!factory)
            continue; // reported by the walk above
        ApplyEffect(*env->session, command);
        std::unique_ptr<QWidget> form((*factory)(*env->session));
        ASSERT_TRUE(form) << command.dialog.toStdString();
        ++built;
        for (const QString& control : command.disable) {
            auto* widget = form->findChild<QWidget*>(control);
            EXPECT_TRUE(widget) << command.item.toStdString() << ": " << command.dialog.toStdString() << " has no "
                                << control.toStdString();
        }
        env->session->ctx.ReLogin = false;
    }
    EXPECT_GT(built, 0);
    EXPECT_TRUE(env->feedback.boxes.isEmpty())
        << "a form showed a message while being built: " << env->feedback.texts().join(QLatin1Char('|')).toStdString();
}

// The main window applies the table: the controls a command names are disabled in the form it opens.
TEST_P(CommandWalkForms, TheMainWindowDisablesTheNamedControls) {
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    FrmMain main(*env->session, ProgramForms());
    main.RunCommand(QStringLiteral("DelGroup"));
    QWidget* group = main.openForm(QStringLiteral("FrmGroup"));
    ASSERT_TRUE(group);
    for (const QString& control : FindCommand(QStringLiteral("DelGroup"))->disable) {
        auto* widget = group->findChild<QWidget*>(control);
        ASSERT_TRUE(widget) << control.toStdString();
        EXPECT_FALSE(widget->isEnabled()) << control.toStdString();
    }
    EXPECT_TRUE(group->findChild<QWidget*>(QStringLiteral("CmdDel"))->isEnabled());
}

// A form the program does not have yet, or a command name nobody knows, says so in a box instead of
// doing nothing.
TEST_P(CommandWalkForms, AnUnknownCommandOrFormIsReportedNotIgnored) {
    const FormRegistry none;
    FrmMain main(*env->session, none);
    main.RunCommand(QStringLiteral("AboutVELDA"));
    EXPECT_FALSE(main.openForm(QStringLiteral("FrmAbout")));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("此功能尚未开通，敬请期待！"));
    env->feedback.clear();
    main.RunCommand(QStringLiteral("NoSuchCommand"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("此功能尚未开通，敬请期待！"));
}

INSTANTIATE_TEST_SUITE_P(Db, CommandWalkForms, kBothBackends, BackendName);
