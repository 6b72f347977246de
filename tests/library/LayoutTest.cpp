#include "TestSupport.h"

#include "accounts/ui/FrmACS.h"
#include "core/Twips.h"
#include "library/ui/FrmMultiOutLib.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeView>

using namespace velda;
using namespace velda::test;

namespace {
// With VELDA_SCREENSHOTS set to a folder, each form is also saved there as a picture to look at.
void Keep(QWidget& form, const QString& name) {
    const QString folder = qEnvironmentVariable("VELDA_SCREENSHOTS");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        form.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
}
} // namespace

class LibraryLayouts : public BothDatabases {};

TEST_P(LibraryLayouts, BatchCheckOutGivesTheValueBoxRoomToType) {
    env->session->ctx.SeekMode = QStringLiteral("ByPart");
    FrmMultiOutLib f(*env->session);
    f.show();
    QApplication::processEvents();
    Keep(f, QStringLiteral("FrmMultiOutLib"));
    const double dpi = f.logicalDpiX();
    EXPECT_EQ(f.size(), QSize(TwipsToPixels(10455, dpi), TwipsToPixels(5310, dpi))) << "opens at its own size";
    // Room for a drawing code of a dozen characters and more.
    auto* value = child<QLineEdit>(f, "TxtAttr");
    EXPECT_GE(value->width(), value->fontMetrics().horizontalAdvance(QStringLiteral("GB/T 5782-2000")));
    EXPECT_GE(child<QTreeView>(f, "FolderView")->width(), 180);
    EXPECT_LE(child<QTreeView>(f, "FolderView")->geometry().right(), f.width()) << "inside the form";
}

TEST_P(LibraryLayouts, RightsEditorFitsInsideTheMainWindow) {
    auto* f = new FrmACS(*env->session);
    f->Form_Load();
    f->show();
    QApplication::processEvents();
    Keep(*f, QStringLiteral("FrmACS"));
    const double dpi = f->logicalDpiX();
    EXPECT_EQ(f->size(), QSize(TwipsToPixels(11085, dpi), TwipsToPixels(8280, dpi)));
    EXPECT_LT(f->width(), TwipsToPixels(12780, dpi)) << "narrower than the main window";
    for (const char* list : {"LstUser", "LstGrp", "LstRead", "LstWrite", "LstDel", "LstChg"})
        EXPECT_GE(child<QListWidget>(*f, list)->width(), 96) << list;
    f->close();
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryLayouts, kBothBackends, BackendName);
