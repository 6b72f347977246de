#pragma once

#include "core/Outcome.h"
#include "structure/StructureTree.h"

#include <QString>

namespace velda {

struct UserContext;

// What the node-entry panels hold when a node command runs.
struct NodeEntry {
    QString currentKind; // the shown tab's kind: 零件, 标准件, 外购件; empty when none is
    QString partCode, partName, partKind, partNum, partMemo;
    QString bjCode, bjSpec, bjName, bjNum, bjNo, bjMemo;
    QString wgCode, wgSpec, wgName, wgNum, wgMemo;
};

struct EditResult {
    Outcome outcome;
    StructureNode* node = nullptr; // the node added
};

// The structure window's node commands on the tree, without any widget.
class StructureEditor final {
public:
    StructureEditor(UserContext& ctx, StructureTree& tree) : m_ctx(ctx), m_tree(tree) {}

    // True once the tree has (or was loaded with) its root; the add-root command then no longer acts.
    bool hasRoot() const { return m_tree.root() != nullptr; }

    EditResult addRoot(const NodeEntry& entry);
    EditResult addChild(StructureNode* selected, const NodeEntry& entry);
    EditResult addBefore(StructureNode* selected, const NodeEntry& entry);
    Outcome remove(StructureNode* selected);

    // Whether the tree holds edits that no check-in has stored yet; an empty tree has nothing to lose.
    bool hasUnsavedNodes() const { return m_unsaved && !m_tree.empty(); }
    // After a check-in every section of the tree is stored as it stands.
    void markCheckedIn() { m_unsaved = false; }

private:
    EditResult addUnder(StructureNode* parent, StructureNode* before, const NodeEntry& entry, bool quantityRequired);

    UserContext& m_ctx;
    StructureTree& m_tree;
    bool m_unsaved = false;
};

namespace EditorText {
inline const QString RootKindWrong = QStringLiteral("根结点类型选择有误");
inline const QString RootInputWrong = QStringLiteral("节点代号/名称输入有误");
inline const QString RootCodeForm = QStringLiteral("根节点代号应为“产品代号-结合部代号”的形式，例如P1-03");
inline const QString RootFirst = QStringLiteral("请先添加根节点");
inline const QString PartInputWrong = QStringLiteral("零件代号/名称/数量输入有误");
inline const QString PartInputWrongNoQty = QStringLiteral("零件代号/名称输入有误");
inline const QString StandardInputWrong = QStringLiteral("标准件代号/规格/名称/数量/序号输入有误");
inline const QString PurchasedInputWrong = QStringLiteral("外购件代号/规格/名称/数量输入有误");
inline const QString QuantityNotNumber = QStringLiteral("数量输入有误，请输入数字");
inline const QString ItemNumberWrong = QStringLiteral("序号输入有误，请输入0到99之间的整数");
inline const QString KindNotChosen = QStringLiteral("请先选择节点类型（零件、标准件或外购件）");
inline const QString SelectParent = QStringLiteral("请先选择要添加子节点的节点");
inline const QString SelectSibling = QStringLiteral("请先选择要在其前面插入节点的节点");
inline const QString NothingBeforeRoot = QStringLiteral("根节点前不能插入节点");
inline const QString DeleteEmpty = QStringLiteral("不能删除空节点");
inline const QString SelectToDelete = QStringLiteral("请先选择要删除的节点");
// %1: the offending text, %2: the marker.
inline const QString MarkerInText = QStringLiteral("“%1”中含有“%2”，节点信息中不能含有“/A”“/N”“/C”“/M”“/K”，"
                                                   "标准件和外购件的代号、规格、名称中不能含有“#”");
inline const QString UnstorableText = QStringLiteral("节点信息中不能含有控制字符或无效字符");
inline const QString DiscardUnsaved = QStringLiteral("产品结构尚未入库，确定放弃吗？");
} // namespace EditorText

} // namespace velda
