#pragma once

#include "core/Loaded.h"
#include "core/Outcome.h"
#include "structure/StructureTree.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace velda {

class Session;

namespace StructureText {
inline const QString PasswordFirst = QStringLiteral("请先输入入库密码");
inline const QString RootFirst = QStringLiteral("请先添加根节点");
inline const QString CheckedIn = QStringLiteral("产品结构入库已完成");
// %1: the sections that kept their rows, joined by "、".
inline const QString PasswordMismatch = QStringLiteral(
    "产品结构入库已完成，但以下结合部已由他人以不同的入库密码入库，未作改动（其下属结合部也未改动）：%1");
// The same for sections this account checked in before under another password; %1 as above.
inline const QString OwnPasswordMismatch = QStringLiteral(
    "产品结构入库已完成，但以下结合部此前已由您以不同的入库密码入库，未作改动（其下属结合部也未改动）：%1");
// Appended to PasswordMismatch when sections of both kinds were left alone; %1 as above.
inline const QString AlsoOwnPasswordMismatch =
    QStringLiteral("\r\n以下结合部此前已由您以不同的入库密码入库，也未作改动：%1");
// Nothing was written at all: every section met was stored under another password. %1 as above.
inline const QString NothingCheckedIn = QStringLiteral(
    "产品结构未入库：入库密码与以下结合部此前入库所用的密码不同，这些结合部及其下属结合部均未作改动：%1");
inline const QString NoSection = QStringLiteral("库中不存在结合部%1的结构信息，无法装载");
// %1: the sections that contain themselves.
inline const QString Cycle = QStringLiteral("产品结构中存在循环引用：结合部%1包含其自身，该节点只显示一次，不再展开");
inline const QString ChooseFirst = QStringLiteral("请先选择产品代号和结合部代号");
inline const QString PartMissing =
    QStringLiteral("库中不存在该代号的零件，请先通过“零件信息管理/添加信息”添加相应信息");
inline const QString Unstorable = QStringLiteral("产品结构中有含控制字符或无效字符的节点信息或入库密码，无法入库");
inline const QString Loading = QStringLiteral("结构装载中，请稍后...");
} // namespace StructureText

// The section code a node's children are stored under and loaded from.
QString SectionCodeOf(const StructureTree& tree, const StructureNode* node, const QString& productCode);

// Writes every section of the tree in one transaction: each node with children gets its header and its
// rows; a section checked in before under another password keeps its header and rows, and so do the
// sections below it. When no section at all could be written, that is a refusal.
Outcome CheckInStructure(Session& session, const StructureTree& tree, const QString& password);

// The name of a part record: the code as typed when it holds a "-", otherwise product "-" code; nothing
// when there is no such record.
Loaded<std::optional<QString>> LookUpPartName(Session& session, const QString& typedCode, const QString& productCode);

// One stored child of a section with its part data, as the child list shows it.
struct ChildRow {
    QString storedCode;
    QString kind;
    int itemNumber = 0;
    QString quantity;
    QString memo;
    QString name, partType, material, weight; // from the part record; empty without one
    bool hasPartRecord = false;
};
std::vector<ChildRow> StoredChildren(Session& session, const QString& sectionCode, const QString& productCode,
                                     bool partData = true);

// The child list of a node: item text, name, kind, material, weight, quantity, memo.
struct ChildListRow {
    QString code, name, kind, material, weight, quantity, memo;
};
Loaded<std::vector<ChildListRow>> ChildList(Session& session, const QString& sectionCode, const QString& productCode);

enum class LoadMode { View, Print };

// Builds the tree of a stored structure under the session's product code: the root and its children at once, deeper assemblies when
// their node is fetched (all of them at once in Print mode).
class StructureLoader final {
public:
    StructureLoader(Session& session, StructureTree& tree, LoadMode mode);

    // Loads the section product "-" assembly; a failure when it cannot (no such section, the database).
    Outcome loadStored(const QString& productCode, const QString& asmCode);
    // Fetches a node's stored children once; returns the nodes added. In Print mode every assembly
    // below is fetched too.
    std::vector<StructureNode*> fetchChildren(StructureNode* node);
    // Whether a node may have stored children: an assembly code, or a section stored under its code.
    bool mayHaveChildren(const StructureNode* node);
    // Sections met again below themselves while loading, each once.
    const QStringList& cycles() const { return m_cycles; }
    void setMode(LoadMode mode) { m_mode = mode; }
    // Sections stored meanwhile (a check-in of this window) are seen again.
    void forgetStoredSections() { m_sections.reset(); }

private:
    StructureNode* addRow(StructureNode* parent, const ChildRow& row);
    std::vector<StructureNode*> fetchOne(StructureNode* node);
    bool isCycle(const StructureNode* node, const QString& section);
    const QSet<QString>& storedSections();

    Session& m_session;
    StructureTree& m_tree;
    LoadMode m_mode;
    std::optional<QSet<QString>> m_sections;
    QStringList m_cycles;
};

// The picker's lists: the products with stored sections, and the sections of one product (the text
// after the product code and its "-").
Loaded<QStringList> StoredProducts(Session& session);
Loaded<QStringList> StoredSections(Session& session, const QString& productCode);
// Records the choice and writes the log row; a refusal when nothing was chosen.
Outcome ChooseStructure(Session& session, const QString& productCode, const QString& asmCode);

} // namespace velda
