#pragma once

#include "structure/StructureEditor.h"
#include "structure/StructureStore.h"
#include "structure/StructureTree.h"

#include <QHash>
#include <QIcon>
#include <QWidget>

#include <memory>

class QTreeWidgetItem;

namespace Ui {
class FrmView;
}

namespace velda {

class Session;

// The structure window: builds a product structure node by node and checks it in section by section
// ("Add", and "View" on a stored structure), or shows a stored structure whole for its reports ("Print").
class FrmView final : public QWidget {
    Q_OBJECT
public:
    explicit FrmView(Session& session, QWidget* parent = nullptr);
    ~FrmView() override;

    const StructureTree& tree() const { return m_tree; }
    // The tree item of a node, and the node of a tree item.
    QTreeWidgetItem* itemOf(const StructureNode* node) const;
    StructureNode* nodeOf(const QTreeWidgetItem* item) const;
    // The node kind of the tab shown: 零件, 标准件 or 外购件.
    QString CurrentKind() const;
    // The code a node is stored under: what 使用位置 asks about.
    QString storedCodeOf(const StructureNode* node) const;
    // The workbook the last report wrote.
    QString lastReportFile() const { return m_lastReportFile; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void TabStr_Click(int index);
    void TxtPartCode_LostFocus();
    void CmdAddRoot_Click();
    void CmdAddSon_Click();
    void CmdAddPrevious_Click();
    void CmdDelNode_Click();
    void CmdInLib_Click();
    void CmdCancel_Click();
    void MnuWhereUsed_Click();
    void CmdRptNode_Click();
    void GenerateReport(int nodeId);
    void TView_NodeClick(QTreeWidgetItem* item);
    void TView_Expand(QTreeWidgetItem* item);
    void TView_Collapse(QTreeWidgetItem* item);
    void ShowChildList(const StructureNode* node);

    NodeEntry entry() const;
    StructureNode* selectedNode() const;
    void fetchChildren(StructureNode* node);
    QTreeWidgetItem* addItem(StructureNode* node);
    QTreeWidgetItem* makeItem(StructureNode* node);
    QTreeWidgetItem* attach(StructureNode* node, QTreeWidgetItem* item);
    void addSubtreeItems(StructureNode* node);
    void refreshImage(const StructureNode* node);
    void reportCycles();

    Session& m_session;
    std::unique_ptr<Ui::FrmView> m_ui;
    StructureTree m_tree;
    StructureEditor m_editor;
    StructureLoader m_loader;
    QHash<int, QTreeWidgetItem*> m_items;
    QHash<QString, QIcon> m_images; // the image list ImgLst: AsmOpen, AsmClose, Item
    qsizetype m_cyclesShown = 0;
    QString m_lastReportFile;
};

} // namespace velda
