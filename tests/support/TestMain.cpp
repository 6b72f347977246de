// Shared main of the test programs: an offscreen application, GoogleTest, and the database
// server of the run stopped before the application goes.
#include "PgCluster.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("VELDA"));
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    velda::test::PgCluster::shutdownAll();
    return rc;
}
