#include "VolumeFixture.h"

#include "transfer/ui/FrmAddVolume.h"
#include "transfer/ui/FrmDelVolume.h"

#include <QListWidget>
#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

class VolumeOrder : public VolumeFixture {};

// Names that sort otherwise than they were added: both volume dialogs list them as the table
// holds them, which is also the order the group dialog offers them in.
TEST_P(VolumeOrder, BothDialogsListTheVolumesInTableOrder) {
    const QStringList added{QStringLiteral("Z9"), QStringLiteral("A1"), QStringLiteral("M5"), QStringLiteral("B2")};
    for (const QString& name : added)
        env->addVolume(name, ftp->address());
    QStringList tableOrder;
    QSqlQuery q = env->db().exec(QStringLiteral("select * from PDM存储目录"));
    while (q.next())
        tableOrder << q.value(QStringLiteral("目录名称")).toString();
    ASSERT_EQ(tableOrder, added);
    EXPECT_EQ(VolumeNames(env->db()), added);
    for (QWidget* form :
         std::initializer_list<QWidget*>{new FrmDelVolume(*env->session), new FrmAddVolume(*env->session)}) {
        std::unique_ptr<QWidget> owned(form);
        auto* list = child<QListWidget>(*form, "LstVolume");
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        EXPECT_EQ(shown, added) << form->metaObject()->className();
    }
}

INSTANTIATE_TEST_SUITE_P(Db, VolumeOrder, kBothBackends, BackendName);
