#include "structure/StructureTree.h"

#include "structure/NodeKey.h"

#include <QSet>

#include <algorithm>

namespace velda {

QString NodeImageKey(NodeImage image) {
    switch (image) {
    case NodeImage::AsmOpen:
        return QStringLiteral("AsmOpen");
    case NodeImage::AsmClose:
        return QStringLiteral("AsmClose");
    case NodeImage::Item:
        break;
    }
    return QStringLiteral("Item");
}

qint64 StructureNode::tag() const { return group ? group->total : 1; }

QString StructureNode::usage() const { return group ? group->usage : QString(); }

QString StructureNode::key() const {
    if (!group)
        return RootNodeKey(lead.chopped(4), name);
    return BuildNodeKey(lead, kind, quantity, memo, group->usage, name);
}

void StructureTree::clear() {
    m_nodes.clear();
    m_byId.clear();
    m_groups.clear();
    m_groupStore.clear();
    m_root = nullptr;
    m_rootSection.clear();
}

std::vector<StructureNode*> StructureTree::withText(const QString& text) const {
    const TextGroup* g = m_groups.value(text, nullptr);
    return g ? g->members : std::vector<StructureNode*>{};
}

StructureNode* StructureTree::addRoot(const QString& text, const QString& keyLead, const QString& name,
                                      const QString& section) {
    auto node = std::make_unique<StructureNode>();
    node->id = m_nextId++;
    node->text = text;
    node->lead = keyLead + QStringLiteral("0000");
    node->kind = NodeKind::Assembly;
    node->quantity = QStringLiteral("1");
    node->memo = QStringLiteral(" ");
    node->name = name;
    node->ownQuantity = 1;
    node->image = NodeImage::AsmClose;
    m_root = node.get();
    m_rootSection = section;
    m_byId.insert(node->id, node.get());
    m_nodes.push_back(std::move(node));
    return m_root;
}

MergeResult StructureTree::merge(const QString& text, qint64 quantity, int itemNumber, const QString& parentText) {
    TextGroup* g = m_groups.value(text, nullptr);
    if (!g || g->members.empty())
        return {};
    // Every node of the text gains the same entry, so they all carry one shared list.
    g->usage += UsageEntry(parentText, QString::number(quantity), itemNumber);
    g->total += quantity;
    return {g->total, g->usage};
}

StructureNode* StructureTree::add(StructureNode* parent, const NewNode& in, StructureNode* before) {
    ++m_counter;
    const MergeResult merged = merge(in.text, in.quantityValue, in.itemNumber, parent->text);
    auto node = std::make_unique<StructureNode>();
    node->id = m_nextId++;
    node->text = in.text;
    node->lead = FormatNodeCounter(m_counter);
    node->kind = in.kind;
    node->quantity = in.quantity;
    node->memo = in.memo;
    node->name = in.name;
    node->itemNumber = in.itemNumber;
    node->ownQuantity = in.quantityValue;
    node->image = in.image;
    node->parent = parent;
    TextGroup*& g = m_groups[in.text];
    if (!g) {
        m_groupStore.push_back(std::make_unique<TextGroup>());
        g = m_groupStore.back().get();
    }
    if (merged.usage.isEmpty()) {
        node->ownEntry = UsageEntry(parent->text, in.quantity, in.itemNumber);
        g->usage = node->ownEntry;
        g->total = in.quantityValue;
    } else {
        node->ownEntry = UsageEntry(parent->text, QString::number(in.quantityValue), in.itemNumber);
    }
    g->members.push_back(node.get());
    node->group = g;
    auto& siblings = parent->children;
    if (before)
        siblings.insert(std::find(siblings.begin(), siblings.end(), before), node.get());
    else
        siblings.push_back(node.get());
    StructureNode* raw = node.get();
    m_byId.insert(raw->id, raw);
    m_nodes.push_back(std::move(node));
    return raw;
}

void StructureTree::remove(StructureNode* node) {
    if (!node)
        return;
    QSet<int> gone;
    QSet<TextGroup*> touched;
    std::vector<StructureNode*> stack{node};
    while (!stack.empty()) {
        StructureNode* n = stack.back();
        stack.pop_back();
        gone.insert(n->id);
        if (n->group)
            touched.insert(n->group);
        for (StructureNode* c : n->children)
            stack.push_back(c);
    }
    if (node->parent) {
        auto& siblings = node->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    }
    for (TextGroup* g : touched) {
        auto& m = g->members;
        m.erase(std::remove_if(m.begin(), m.end(), [&](StructureNode* n) { return gone.contains(n->id); }), m.end());
        recompute(*g);
    }
    for (int id : gone)
        m_byId.remove(id);
    const bool rootGone = node == m_root;
    m_nodes.erase(std::remove_if(m_nodes.begin(), m_nodes.end(),
                                 [&](const std::unique_ptr<StructureNode>& n) { return gone.contains(n->id); }),
                  m_nodes.end());
    if (rootGone) {
        m_root = nullptr;
        m_rootSection.clear();
    }
}

void StructureTree::recompute(TextGroup& g) {
    // As if the removed uses had never been added.
    g.usage.clear();
    g.total = 0;
    for (const StructureNode* n : g.members) {
        g.usage += n->ownEntry;
        g.total += n->ownQuantity;
    }
}

} // namespace velda
