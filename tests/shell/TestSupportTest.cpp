#include "TestSupport.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest-spi.h>

using namespace velda::test;

namespace {
QWidget* g_form = nullptr;

void FindMissing() {
    try {
        child<QPushButton>(*g_form, "CmdMissing");
    } catch (const MissingControl&) {
        return; // the test would stop here
    }
    ADD_FAILURE() << "child() went on after a missing control";
}
} // namespace

TEST(ChildControl, AMissingControlFailsTheTestAndStopsIt) {
    QWidget form;
    auto* button = new QPushButton(&form);
    button->setObjectName(QStringLiteral("CmdAct"));
    g_form = &form;
    EXPECT_EQ(child<QPushButton>(form, "CmdAct"), button);
    EXPECT_NONFATAL_FAILURE(FindMissing(), "no control CmdMissing");
    // The right name with the wrong kind is missing too.
    ::testing::TestPartResultArray failures;
    {
        ::testing::ScopedFakeTestPartResultReporter quiet(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        EXPECT_EQ(child<QWidget>(form, "CmdAct"), button);
        EXPECT_THROW(child<QLineEdit>(form, "CmdAct"), MissingControl);
    }
    EXPECT_EQ(failures.size(), 1);
    g_form = nullptr;
}
