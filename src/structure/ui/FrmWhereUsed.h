#pragma once

#include "structure/WhereUsed.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace velda {

class Session;

// 使用位置: where a code is used, as a tree from the part up to its products, with the products' totals
// and the borrowed uses; exported to a workbook on request.
class FrmWhereUsed final : public QWidget {
    Q_OBJECT
public:
    explicit FrmWhereUsed(Session& session, QWidget* parent = nullptr);

    // Shows where the code is used (the way other windows hand this one a code).
    Q_INVOKABLE void ShowCode(const QString& code);
    const WhereUsed& answer() const { return m_answer; }
    QString lastExportFile() const { return m_lastExport; }

private:
    void CmdSeek_Click();
    void CmdExport_Click();
    void TreeUse_Expand(QTreeWidgetItem* item);
    void addUses(QTreeWidgetItem* parent, const QString& childSection, qint64 pathCount);
    void addImpactSetting(QVBoxLayout* layout);

    Session& m_session;
    QLineEdit* m_code = nullptr;
    QPushButton* m_seek = nullptr;
    QPushButton* m_export = nullptr;
    QTreeWidget* m_tree = nullptr;
    QTreeWidget* m_products = nullptr;
    QLabel* m_message = nullptr;
    WhereUsed m_answer;
    QString m_lastExport;
};

} // namespace velda
