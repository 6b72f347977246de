#include "structure/StructureEditor.h"

#include "core/TextRules.h"
#include "core/UserContext.h"
#include "structure/NodeKey.h"

namespace velda {

namespace {
bool anyEmpty(std::initializer_list<const QString*> texts) {
    for (const QString* t : texts) {
        if (t->isEmpty())
            return true;
    }
    return false;
}

// A refusal when a text would break the key it goes into, or could not be stored as typed; nothing when
// all are clean.
std::optional<Outcome> markerRefusal(std::initializer_list<const QString*> keyTexts,
                                     std::initializer_list<const QString*> codeTexts = {}) {
    for (const QString* t : keyTexts) {
        if (HasUnstorableCharacter(*t))
            return Outcome::refusal(EditorText::UnstorableText);
    }
    for (const QString* t : keyTexts) {
        if (const auto m = KeyMarkerIn(*t))
            return Outcome::refusal(EditorText::MarkerInText.arg(*t, *m));
    }
    for (const QString* t : codeTexts) {
        if (t->contains(QLatin1Char('#')))
            return Outcome::refusal(EditorText::MarkerInText.arg(*t, QStringLiteral("#")));
    }
    return std::nullopt;
}
} // namespace

EditResult StructureEditor::addRoot(const NodeEntry& e) {
    if (e.currentKind != NodeKind::Part)
        return {Outcome::refusal(EditorText::RootKindWrong)};
    if (e.partCode.isEmpty() || e.partName.isEmpty())
        return {Outcome::refusal(EditorText::RootInputWrong)};
    // Product and section come from the code; a code without "-" has neither.
    const int dash = e.partCode.indexOf(QLatin1Char('-'));
    if (dash <= 0 || dash == e.partCode.size() - 1)
        return {Outcome::refusal(EditorText::RootCodeForm)};
    if (auto r = markerRefusal({&e.partCode, &e.partName}))
        return {*r};
    m_tree.clear();
    m_ctx.ProductCode = e.partCode.left(dash);
    m_ctx.AsmCode = e.partCode.mid(dash + 1);
    StructureNode* root =
        m_tree.addRoot(e.partCode, e.partCode, e.partName, EditorRootSection(e.partCode, m_ctx.ProductCode));
    m_unsaved = true;
    return {Outcome::success(), root};
}

EditResult StructureEditor::addChild(StructureNode* selected, const NodeEntry& e) {
    if (!hasRoot())
        return {Outcome::refusal(EditorText::RootFirst)};
    if (!selected)
        return {Outcome::refusal(EditorText::SelectParent)};
    EditResult r = addUnder(selected, nullptr, e, true);
    if (r.node)
        selected->image = NodeImage::AsmOpen;
    return r;
}

EditResult StructureEditor::addBefore(StructureNode* selected, const NodeEntry& e) {
    if (!hasRoot())
        return {Outcome::refusal(EditorText::RootFirst)};
    if (!selected)
        return {Outcome::refusal(EditorText::SelectSibling)};
    if (!selected->parent)
        return {Outcome::refusal(EditorText::NothingBeforeRoot)};
    return addUnder(selected->parent, selected, e, false);
}

EditResult StructureEditor::addUnder(StructureNode* parent, StructureNode* before, const NodeEntry& e,
                                     bool quantityRequired) {
    StructureTree::NewNode n;
    if (e.currentKind == NodeKind::Part) {
        if (e.partCode.isEmpty() || e.partName.isEmpty() || (quantityRequired && e.partNum.isEmpty()))
            return {Outcome::refusal(quantityRequired ? EditorText::PartInputWrong : EditorText::PartInputWrongNoQty)};
        if (auto r = markerRefusal({&e.partCode, &e.partName, &e.partNum, &e.partMemo}))
            return {*r};
        n.text = e.partCode;
        n.kind = e.partKind.isEmpty() ? GuessPartKind(e.partCode) : e.partKind;
        n.quantity = e.partNum;
        n.memo = e.partMemo;
        n.name = e.partName;
        n.image = IsAssemblyCode(n.text) ? NodeImage::AsmClose : NodeImage::Item;
    } else if (e.currentKind == NodeKind::Standard) {
        if (anyEmpty({&e.bjCode, &e.bjSpec, &e.bjName, &e.bjNum, &e.bjNo}))
            return {Outcome::refusal(EditorText::StandardInputWrong)};
        if (auto r = markerRefusal({&e.bjCode, &e.bjSpec, &e.bjName, &e.bjNum, &e.bjMemo},
                                   {&e.bjCode, &e.bjSpec, &e.bjName}))
            return {*r};
        bool ok = false;
        n.itemNumber = e.bjNo.trimmed().toInt(&ok);
        // The stored number is read back from two digits.
        if (!ok || n.itemNumber < 0 || n.itemNumber > 99)
            return {Outcome::refusal(EditorText::ItemNumberWrong)};
        n.text = e.bjCode + QLatin1Char('#') + e.bjSpec + QLatin1Char('#') + e.bjName;
        n.kind = NodeKind::Standard;
        n.quantity = e.bjNum;
        n.memo = e.bjMemo;
        n.name = e.bjName;
    } else if (e.currentKind == NodeKind::Purchased) {
        if (anyEmpty({&e.wgCode, &e.wgSpec, &e.wgName, &e.wgNum}))
            return {Outcome::refusal(EditorText::PurchasedInputWrong)};
        if (auto r = markerRefusal({&e.wgCode, &e.wgSpec, &e.wgName, &e.wgNum, &e.wgMemo},
                                   {&e.wgCode, &e.wgSpec, &e.wgName}))
            return {*r};
        n.text = e.wgCode + QLatin1Char('#') + e.wgSpec + QLatin1Char('#') + e.wgName;
        n.kind = NodeKind::Purchased;
        n.quantity = e.wgNum;
        n.memo = e.wgMemo;
        n.name = e.wgName;
    } else {
        return {Outcome::refusal(EditorText::KindNotChosen)};
    }
    const auto value = QuantityValue(n.quantity);
    if (!value)
        return {Outcome::refusal(EditorText::QuantityNotNumber)};
    n.quantityValue = *value;
    StructureNode* node = m_tree.add(parent, n, before);
    m_unsaved = true;
    return {Outcome::success(), node};
}

Outcome StructureEditor::remove(StructureNode* selected) {
    if (m_tree.empty())
        return Outcome::refusal(EditorText::DeleteEmpty);
    if (!selected)
        return Outcome::refusal(EditorText::SelectToDelete);
    m_tree.remove(selected);
    m_unsaved = true;
    return Outcome::success();
}

} // namespace velda
