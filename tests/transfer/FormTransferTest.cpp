#include "TestSupport.h"

#include "core/ui/Forms.h"
#include "transfer/ui/FormTransfer.h"

#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <thread>

using namespace velda;
using namespace velda::test;

namespace {
// A form with three action buttons, the way the dialogs hand them to their transfer.
struct Form {
    Form() {
        auto* layout = new QVBoxLayout(&widget);
        for (const char* name : {"CmdAct", "CmdOutLib", "CmdCancel"}) {
            auto* b = new QPushButton(QString::fromLatin1(name), &widget);
            b->setObjectName(QString::fromLatin1(name));
            layout->addWidget(b);
            buttons << b;
        }
        widget.show();
    }
    QWidget widget;
    QList<QWidget*> buttons;
};

// A transfer that keeps the worker busy long enough for the event loop to run a timer meanwhile.
TransferResult SlowTransfer(FtpClient&, const TransferProgress&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    TransferResult r;
    r.ok = true;
    return r;
}
} // namespace

TEST(FormTransfer, GivesBackOnlyTheControlsItDisabled) {
    Form form;
    form.buttons[2]->setEnabled(false); // disabled before the transfer, by the dialog itself
    FormTransfer transfer(&form.widget, form.buttons);
    bool sawAllDisabled = false;
    QTimer::singleShot(50, [&] {
        sawAllDisabled =
            !form.buttons[0]->isEnabled() && !form.buttons[1]->isEnabled() && !form.buttons[2]->isEnabled();
        // A menu command prepares the open dialog for another function meanwhile.
        DisableControls(&form.widget, {QStringLiteral("CmdOutLib")});
    });
    EXPECT_TRUE(transfer.run(SlowTransfer).ok);
    EXPECT_TRUE(sawAllDisabled) << "the actions are disabled while the transfer runs";
    EXPECT_TRUE(form.buttons[0]->isEnabled());
    EXPECT_FALSE(form.buttons[1]->isEnabled()) << "the command's preparation is kept";
    EXPECT_FALSE(form.buttons[2]->isEnabled()) << "what was disabled before stays so";
}

TEST(FormTransfer, ABatchGivesThemBackOnceAtItsEnd) {
    Form form;
    FormTransfer transfer(&form.widget, form.buttons);
    transfer.beginBatch();
    EXPECT_TRUE(transfer.run(SlowTransfer).ok);
    EXPECT_FALSE(form.buttons[0]->isEnabled()) << "still inside the batch";
    DisableControls(&form.widget, {QStringLiteral("CmdAct")});
    transfer.endBatch();
    EXPECT_FALSE(form.buttons[0]->isEnabled());
    EXPECT_TRUE(form.buttons[1]->isEnabled());
    EXPECT_TRUE(form.buttons[2]->isEnabled());
}
