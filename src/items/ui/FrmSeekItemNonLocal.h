#pragma once

#include "items/Borrowed.h"

#include <QIcon>
#include <QMap>
#include <QWidget>

#include <memory>

class QTreeWidgetItem;

namespace Ui {
class FrmSeekItemNonLocal;
}

namespace velda {

class Session;

// The sections that borrow one item, as a tree loaded level by level, and the borrowers of the
// node clicked last as a list.
class FrmSeekItemNonLocal final : public QWidget {
    Q_OBJECT
public:
    // Each node carries its key and the name of its image.
    static constexpr int KeyRole = Qt::UserRole;
    static constexpr int ImageRole = Qt::UserRole + 1;

    explicit FrmSeekItemNonLocal(Session& session, QWidget* parent = nullptr);
    ~FrmSeekItemNonLocal() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void TView_NodeClick(QTreeWidgetItem* node);
    void TView_Collapse(QTreeWidgetItem* node);
    void TView_Expand(QTreeWidgetItem* node);
    // Adds a child per borrower; false when the database failed (already reported).
    bool addChildren(QTreeWidgetItem* node, bool& found);
    void fillList(QTreeWidgetItem* node);
    void setImage(QTreeWidgetItem* node, const QString& image);
    void layoutControls();
    void sizeToMainWindow();

    Session& m_session;
    std::unique_ptr<Ui::FrmSeekItemNonLocal> m_ui;
    BorrowedParts m_records;
    long m_nodeCounter = 0;
    QMap<QString, QIcon> m_images; // "AsmClose", "AsmOpen", "Item"
    bool m_sizedToMain = false;
    bool m_loading = false;
};

} // namespace velda
