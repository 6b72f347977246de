#pragma once

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>

namespace velda {

// Local folders only; the tree's header names the chosen folder, so the user sees the whole path of
// the target however deep it sits in the tree.
class FolderModel final : public QFileSystemModel {
public:
    using QFileSystemModel::QFileSystemModel;

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override {
        if (section == 0 && orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::ToolTipRole))
            return m_chosen.isEmpty() ? QStringLiteral("（尚未选择文件夹）") : QDir::toNativeSeparators(m_chosen);
        return QFileSystemModel::headerData(section, orientation, role);
    }

    void setChosen(const QString& path) {
        if (path == m_chosen)
            return;
        m_chosen = path;
        emit headerDataChanged(Qt::Horizontal, 0, 0);
    }

private:
    QString m_chosen;
};

// Where each account's batch dialogs open next time (see Configuration's account values).
inline const QString kLastBatchFolder = QStringLiteral("批量文件夹");

inline void SelectFolder(QTreeView* view, QFileSystemModel* model, const QString& path) {
    const QModelIndex i = model->index(path);
    view->setCurrentIndex(i);
    // Opens the folders above it; the tree fills in asynchronously, so it scrolls again once they
    // are read (MakeFolderTree).
    view->scrollTo(i, QAbstractItemView::PositionAtCenter);
    if (auto* folders = dynamic_cast<FolderModel*>(model))
        folders->setChosen(i.isValid() ? model->filePath(i) : QString());
}

// A browsable tree of local folders for the batch dialogs, opened at the start folder (the last one
// this account used, when the dialog knows it) or else at the user's home folder. Nothing is chosen
// until the user chooses: a batch never acts on a folder picked for him.
inline QFileSystemModel* MakeFolderTree(QTreeView* view, const QString& startFolder = QString()) {
    auto* model = new FolderModel(view);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model->setRootPath(QStringLiteral("/"));
    view->setModel(model);
    for (int c = 1; c < model->columnCount(); ++c)
        view->hideColumn(c);
    view->setHeaderHidden(false);
    view->header()->setStretchLastSection(true);
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, model,
                     [model](const QModelIndex& current) {
                         model->setChosen(current.isValid() ? model->filePath(current) : QString());
                     });
    const QString start = QDir::cleanPath(
        QFileInfo(!startFolder.isEmpty() && QFileInfo(startFolder).isDir() ? startFolder : QDir::homePath())
            .absoluteFilePath());
    // Keep the chosen folder, or until then the start folder, in sight while the folders above it are
    // read in; scrolling to it opens them.
    QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view, model, start] {
        const QModelIndex at = view->currentIndex().isValid() ? view->currentIndex() : model->index(start);
        view->scrollTo(at, QAbstractItemView::PositionAtCenter);
    });
    view->scrollTo(model->index(start), QAbstractItemView::PositionAtCenter);
    return model;
}

inline QString SelectedFolder(const QTreeView* view, const QFileSystemModel* model) {
    const QModelIndex i = view->currentIndex();
    return i.isValid() ? model->filePath(i) : QString();
}

} // namespace velda
