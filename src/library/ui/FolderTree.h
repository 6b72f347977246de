#pragma once

#include <QFileSystemModel>
#include <QTreeView>

namespace velda {

// A browsable tree of local folders (no files) for the batch dialogs.
inline QFileSystemModel* MakeFolderTree(QTreeView* view) {
    auto* model = new QFileSystemModel(view);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model->setRootPath(QStringLiteral("/"));
    view->setModel(model);
    for (int c = 1; c < model->columnCount(); ++c)
        view->hideColumn(c);
    view->setCurrentIndex(model->index(QDir::homePath()));
    view->scrollTo(view->currentIndex());
    return model;
}

inline QString SelectedFolder(const QTreeView* view, const QFileSystemModel* model) {
    const QModelIndex i = view->currentIndex();
    return i.isValid() ? model->filePath(i) : QString();
}

inline void SelectFolder(QTreeView* view, QFileSystemModel* model, const QString& path) {
    const QModelIndex i = model->index(path);
    view->setCurrentIndex(i);
    view->scrollTo(i);
}

} // namespace velda
