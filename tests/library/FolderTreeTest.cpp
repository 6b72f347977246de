#include "TestSupport.h"

#include "library/ui/FolderTree.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

using namespace velda;

namespace {
QString HeaderText(const QTreeView& view) {
    return view.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
}
} // namespace

TEST(FolderTree, OpensAtHomeWithNothingChosen) {
    QTreeView view;
    QFileSystemModel* model = MakeFolderTree(&view);
    view.show();
    const QString home = QDir::cleanPath(QDir::homePath());
    EXPECT_EQ(SelectedFolder(&view, model), QString());
    EXPECT_FALSE(view.isHeaderHidden());
    EXPECT_EQ(HeaderText(view), QStringLiteral("（尚未选择文件夹）"));
    // The folders above it are opened, so the start is in sight.
    for (QModelIndex up = model->index(home).parent(); up.isValid(); up = up.parent())
        EXPECT_TRUE(view.isExpanded(up)) << model->filePath(up).toStdString();
}

TEST(FolderTree, OpensAtTheGivenFolderAndFollowsTheChoice) {
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + QStringLiteral("/a/b"));
    const QString start = QDir::cleanPath(dir.path() + QStringLiteral("/a"));
    QTreeView view;
    QFileSystemModel* model = MakeFolderTree(&view, start);
    EXPECT_EQ(SelectedFolder(&view, model), QString());
    SelectFolder(&view, model, start);
    EXPECT_EQ(HeaderText(view), QDir::toNativeSeparators(start));

    const QString deeper = start + QStringLiteral("/b");
    SelectFolder(&view, model, deeper);
    EXPECT_EQ(HeaderText(view), QDir::toNativeSeparators(deeper));
    // Moving the selection in the tree, as a click does, names the new folder.
    view.setCurrentIndex(model->index(start));
    EXPECT_EQ(HeaderText(view), QDir::toNativeSeparators(start));
}
