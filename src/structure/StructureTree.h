#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

namespace velda {

enum class NodeImage { AsmOpen, AsmClose, Item };
QString NodeImageKey(NodeImage image);

struct StructureNode;

// Every node with the same text shares one record of all its places of use: the usage entries in the
// order the uses were added, and their total quantity.
struct TextGroup {
    std::vector<StructureNode*> members; // index order
    QString usage;
    qint64 total = 0;
};

struct StructureNode {
    int id = 0;
    QString text;
    QString lead; // the counter text ("0001"), or for a root its section lead and "0000"
    QString kind;
    QString quantity; // as typed or stored
    QString memo;
    QString name;
    int itemNumber = 0; // standard parts only
    QString ownEntry;   // this node's own usage entry as it was formed
    qint64 ownQuantity = 0;
    NodeImage image = NodeImage::Item;
    StructureNode* parent = nullptr;
    std::vector<StructureNode*> children;
    TextGroup* group = nullptr; // nullptr for the root
    bool childrenFetched = false;

    bool isRoot() const { return parent == nullptr; }
    // The node's Tag: a root counts 1, every other node the total of its text over the tree.
    qint64 tag() const;
    QString usage() const;
    QString memoPart() const { return memo + usage(); }
    QString key() const;
};

// The result of the same-text merge for a node about to be added.
struct MergeResult {
    qint64 total = 0; // 0 when no node has the text
    QString usage;    // the usage entries the new node carries; empty when no node has the text
};

// The product tree of the structure window, without any widget: nodes in index (creation) order, their
// keys, Tags and usage entries, and an index by text so that merging stays cheap on large trees.
class StructureTree final {
public:
    explicit StructureTree(long& nodeCounter) : m_counter(nodeCounter) {}
    StructureTree(const StructureTree&) = delete;
    StructureTree& operator=(const StructureTree&) = delete;

    void clear();
    StructureNode* root() const { return m_nodes.empty() ? nullptr : m_root; }
    bool empty() const { return m_nodes.empty(); }
    std::size_t size() const { return m_nodes.size(); }
    // Index order: the order in which nodes were created.
    const std::vector<std::unique_ptr<StructureNode>>& nodes() const { return m_nodes; }
    StructureNode* byId(int id) const { return m_byId.value(id, nullptr); }
    // The nodes that share a text, in index order.
    std::vector<StructureNode*> withText(const QString& text) const;

    // The root: its text, the lead of its key (the section code in the editor, empty when loaded), its
    // name, and the section its children are stored under.
    StructureNode* addRoot(const QString& text, const QString& keyLead, const QString& name, const QString& section);
    QString rootSection() const { return m_rootSection; }

    // The same-text merge: every node with the text takes the new use into its Tag and its usage
    // entries; returns what the new node carries.
    MergeResult merge(const QString& text, qint64 quantity, int itemNumber, const QString& parentText);

    struct NewNode {
        QString text;
        QString kind;
        QString quantity; // text; its whole value is what the totals count
        qint64 quantityValue = 0;
        QString memo;
        QString name;
        int itemNumber = 0;
        NodeImage image = NodeImage::Item;
    };
    // Increments the node counter, merges and adds the node under the parent, before the given sibling
    // or last.
    StructureNode* add(StructureNode* parent, const NewNode& node, StructureNode* before = nullptr);
    // Removes the node with its subtree; the remaining nodes of each removed text count only the uses
    // that are left.
    void remove(StructureNode* node);

private:
    void recompute(TextGroup& group);

    long& m_counter;
    std::vector<std::unique_ptr<StructureNode>> m_nodes;
    QHash<int, StructureNode*> m_byId;
    std::vector<std::unique_ptr<TextGroup>> m_groupStore;
    QHash<QString, TextGroup*> m_groups;
    StructureNode* m_root = nullptr;
    QString m_rootSection;
    int m_nextId = 1;
};

} // namespace velda
