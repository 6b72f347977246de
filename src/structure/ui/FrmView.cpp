#include "structure/ui/FrmView.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "structure/NodeKey.h"
#include "structure/ReportModel.h"
#include "structure/ReportWorkbook.h"
#include "structure/ui/FrmRptPSE.h"
#include "structure/ui/ReportOutput.h"
#include "structure/ui/ReportPainter.h"
#include "structure/WhereUsed.h"
#include "structure/ui/FrmWhereUsed.h"
#include "ui_FrmView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidgetItem>

namespace velda {

namespace {
constexpr int kNodeId = Qt::UserRole;
constexpr int kChildListRows = 8;
const QString kAdd = QStringLiteral("Add");
const QString kPrint = QStringLiteral("Print");
// The tabs in their order on the bar.
const QStringList& TabKinds() {
    static const QStringList kinds{NodeKind::Part, NodeKind::Standard, NodeKind::Purchased};
    return kinds;
}
} // namespace

FrmView::FrmView(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmView>()), m_tree(session.ctx.NodeCounter),
      m_editor(session.ctx, m_tree),
      m_loader(session, m_tree, session.ctx.ProductMode == kPrint ? LoadMode::Print : LoadMode::View) {
    m_ui->setupUi(this);
    for (const QString& kind : TabKinds())
        m_ui->TabStr->addTab(kind);
    // The tabs came after the layout measured an empty bar.
    m_ui->TabStr->setMinimumHeight(m_ui->TabStr->sizeHint().height());
    QStyle* style = QApplication::style();
    m_images.insert(QStringLiteral("AsmOpen"), style->standardIcon(QStyle::SP_DirOpenIcon));
    m_images.insert(QStringLiteral("AsmClose"), style->standardIcon(QStyle::SP_DirClosedIcon));
    m_images.insert(QStringLiteral("Item"), style->standardIcon(QStyle::SP_FileIcon));
    // The child list keeps room for eight rows, however much the entry panels take, and grows with the
    // window as much as the tree does.
    {
        QTreeWidget* list = m_ui->LstView;
        auto* probe = new QTreeWidgetItem(list, QStringList{list->headerItem()->text(0)});
        const int row = list->sizeHintForRow(0);
        delete probe;
        list->setMinimumHeight(list->header()->sizeHint().height() + kChildListRows * row +
                               list->horizontalScrollBar()->sizeHint().height() + 2 * list->frameWidth());
    }
    m_ui->Splitter->setStretchFactor(0, 1);
    m_ui->Splitter->setStretchFactor(1, 1);
    m_ui->Splitter->setCollapsible(1, false);

    // The selected tab changes by mouse and by keyboard alike.
    connect(m_ui->TabStr, &QTabBar::currentChanged, this, &FrmView::TabStr_Click);
    connect(m_ui->TxtPartCode, &QLineEdit::editingFinished, this, &FrmView::TxtPartCode_LostFocus);
    connect(m_ui->CmdAddRoot, &QPushButton::clicked, this, &FrmView::CmdAddRoot_Click);
    connect(m_ui->CmdAddSon, &QPushButton::clicked, this, &FrmView::CmdAddSon_Click);
    connect(m_ui->CmdAddPrevious, &QPushButton::clicked, this, &FrmView::CmdAddPrevious_Click);
    connect(m_ui->CmdDelNode, &QPushButton::clicked, this, &FrmView::CmdDelNode_Click);
    connect(m_ui->CmdInLib, &QPushButton::clicked, this, &FrmView::CmdInLib_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmView::CmdCancel_Click);
    connect(m_ui->CmdRptNode, &QPushButton::clicked, this, &FrmView::CmdRptNode_Click);
    connect(m_ui->TView, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { TView_NodeClick(item); });
    connect(m_ui->TView, &QTreeWidget::itemExpanded, this, &FrmView::TView_Expand);
    // The node menu: where the selected node's part is used.
    auto* whereUsed = new QAction(WhereUsedText::Title, this);
    whereUsed->setObjectName(QStringLiteral("MnuWhereUsed"));
    m_ui->TView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_ui->TView->addAction(whereUsed);
    connect(whereUsed, &QAction::triggered, this, &FrmView::MnuWhereUsed_Click);
    connect(m_ui->TView, &QTreeWidget::itemCollapsed, this, &FrmView::TView_Collapse);
    Form_Load();
    SizeFormInTwips(this, 11160, 8430);
}

FrmView::~FrmView() = default;

void FrmView::Form_Load() {
    // The status bar shows only while a report is made.
    m_ui->StatusBar->hide();
    // The three entry panels share one place; only the selected tab's is shown.
    TabStr_Click(m_ui->TabStr->currentIndex());
    m_session.ctx.NodeCounter = 0;
    // Every kind can be chosen in every mode; the code's guess selects one when a code is typed.
    m_ui->CboPartKind->addItems(NodeKind::All());
    m_ui->CboPartKind->setCurrentIndex(0);
    const QString mode = m_session.ctx.ProductMode;
    if (mode == kAdd) {
        m_ui->TxtPartNum->setText(QStringLiteral("1"));
        m_ui->TxtBJNum->setText(QStringLiteral("1"));
        m_ui->TxtWGNum->setText(QStringLiteral("1"));
        m_ui->CmdRptNode->setEnabled(false);
        return;
    }
    m_ui->CmdAddRoot->setEnabled(false);
    if (mode == kPrint) {
        for (QWidget* w : std::initializer_list<QWidget*>{m_ui->TabStr, m_ui->CmdInLib, m_ui->CmdAddSon,
                                                          m_ui->CmdAddPrevious, m_ui->CmdDelNode})
            w->setEnabled(false);
    } else {
        m_ui->CmdRptNode->setEnabled(false);
    }
    ShowOutcome(m_session.feedback(), m_loader.loadStored(m_session.ctx.ProductCode, m_session.ctx.AsmCode));
    if (StructureNode* root = m_tree.root()) {
        addSubtreeItems(root);
        m_ui->TView->setCurrentItem(itemOf(root));
        ShowChildList(root);
    }
    reportCycles();
}

void FrmView::TabStr_Click(int index) {
    if (index >= 0 && index < TabKinds().size())
        m_ui->PanelStack->setCurrentIndex(index);
}

QString FrmView::CurrentKind() const {
    // The kind is the tab the window shows, from the start: a separate record of it would lag
    // behind the bar until a tab was clicked.
    const int index = m_ui->TabStr->currentIndex();
    return index >= 0 && index < TabKinds().size() ? TabKinds().at(index) : QString();
}

void FrmView::TxtPartCode_LostFocus() {
    const QString code = m_ui->TxtPartCode->text();
    if (code.isEmpty())
        return;
    m_ui->CboPartKind->setCurrentText(GuessPartKind(code));
    const Loaded<std::optional<QString>> name = LookUpPartName(m_session, code, m_session.ctx.ProductCode);
    if (!ShowOutcome(m_session.feedback(), name.outcome))
        return;
    if (name.value)
        m_ui->TxtPartName->setText(*name.value);
    else
        m_session.feedback().stop(StructureText::PartMissing);
}

NodeEntry FrmView::entry() const {
    NodeEntry e;
    e.currentKind = CurrentKind();
    e.partCode = m_ui->TxtPartCode->text();
    e.partName = m_ui->TxtPartName->text();
    e.partKind = m_ui->CboPartKind->currentText();
    e.partNum = m_ui->TxtPartNum->text();
    e.partMemo = m_ui->TxtPartMemo->text();
    e.bjCode = m_ui->TxtBJCode->text();
    e.bjSpec = m_ui->TxtBJKind->text();
    e.bjName = m_ui->TxtBJName->text();
    e.bjNum = m_ui->TxtBJNum->text();
    e.bjNo = m_ui->TxtBJNo->text();
    e.bjMemo = m_ui->TxtBJMemo->text();
    e.wgCode = m_ui->TxtWGCode->text();
    e.wgSpec = m_ui->TxtWGKind->text();
    e.wgName = m_ui->TxtWGName->text();
    e.wgNum = m_ui->TxtWGNum->text();
    e.wgMemo = m_ui->TxtWGMemo->text();
    return e;
}

StructureNode* FrmView::selectedNode() const {
    const auto selected = m_ui->TView->selectedItems();
    return selected.isEmpty() ? nullptr : nodeOf(selected.first());
}

QTreeWidgetItem* FrmView::itemOf(const StructureNode* node) const {
    return node ? m_items.value(node->id, nullptr) : nullptr;
}

StructureNode* FrmView::nodeOf(const QTreeWidgetItem* item) const {
    return item ? m_tree.byId(item->data(0, kNodeId).toInt()) : nullptr;
}

void FrmView::refreshImage(const StructureNode* node) {
    QTreeWidgetItem* item = itemOf(node);
    if (!item)
        return;
    item->setIcon(0, m_images.value(NodeImageKey(node->image)));
    // A closed assembly offers its expander before its children are fetched.
    item->setChildIndicatorPolicy(node->image == NodeImage::AsmClose && node->children.empty() && !node->childrenFetched
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* FrmView::addItem(StructureNode* node) { return attach(node, makeItem(node)); }

QTreeWidgetItem* FrmView::makeItem(StructureNode* node) {
    // The label is for reading only: the node's text and key stay as stored, and the tooltip shows the
    // text as it is kept.
    auto* item = new QTreeWidgetItem(QStringList{NodeLabel(node->text, node->name)});
    item->setToolTip(0, node->text);
    item->setData(0, kNodeId, node->id);
    m_items.insert(node->id, item);
    refreshImage(node);
    return item;
}

QTreeWidgetItem* FrmView::attach(StructureNode* node, QTreeWidgetItem* item) {
    if (node->parent) {
        QTreeWidgetItem* parentItem = itemOf(node->parent);
        const auto& siblings = node->parent->children;
        const int index = static_cast<int>(std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
        parentItem->insertChild(index, item);
    } else {
        m_ui->TView->addTopLevelItem(item);
    }
    return item;
}

void FrmView::addSubtreeItems(StructureNode* node) {
    // Items are put together away from the view and handed to it in one piece: a whole product
    // costs the view one insertion instead of one per node.
    std::vector<std::pair<StructureNode*, QTreeWidgetItem*>> stack{{node, makeItem(node)}};
    QTreeWidgetItem* top = stack.back().second;
    std::vector<StructureNode*> open;
    while (!stack.empty()) {
        auto [n, item] = stack.back();
        stack.pop_back();
        if (n->image == NodeImage::AsmOpen && !n->children.empty())
            open.push_back(n);
        QList<QTreeWidgetItem*> kids;
        kids.reserve(static_cast<qsizetype>(n->children.size()));
        for (StructureNode* c : n->children) {
            kids << makeItem(c);
            stack.emplace_back(c, kids.back());
        }
        item->addChildren(kids);
    }
    attach(node, top);
    for (StructureNode* n : open)
        itemOf(n)->setExpanded(true);
}

void FrmView::CmdAddRoot_Click() {
    EditResult r = m_editor.addRoot(entry());
    if (!ShowOutcome(m_session.feedback(), r.outcome))
        return;
    m_ui->TView->clear();
    m_items.clear();
    QTreeWidgetItem* item = addItem(r.node);
    m_ui->CmdAddRoot->setEnabled(false);
    m_ui->TView->setCurrentItem(item);
}

void FrmView::CmdAddSon_Click() {
    StructureNode* parent = selectedNode();
    EditResult r = m_editor.addChild(parent, entry());
    if (!ShowOutcome(m_session.feedback(), r.outcome))
        return;
    addItem(r.node);
    refreshImage(parent);
    itemOf(parent)->setExpanded(true);
}

void FrmView::CmdAddPrevious_Click() {
    EditResult r = m_editor.addBefore(selectedNode(), entry());
    if (!ShowOutcome(m_session.feedback(), r.outcome))
        return;
    addItem(r.node);
}

void FrmView::CmdDelNode_Click() {
    StructureNode* node = selectedNode();
    QTreeWidgetItem* item = itemOf(node);
    std::vector<int> ids;
    if (node) {
        std::vector<const StructureNode*> stack{node};
        while (!stack.empty()) {
            const StructureNode* n = stack.back();
            stack.pop_back();
            ids.push_back(n->id);
            stack.insert(stack.end(), n->children.begin(), n->children.end());
        }
    }
    if (!ShowOutcome(m_session.feedback(), m_editor.remove(node)))
        return;
    for (int id : ids)
        m_items.remove(id);
    delete item;
    // With the root gone a new one may be made.
    if (!m_editor.hasRoot() && m_session.ctx.ProductMode != kPrint)
        m_ui->CmdAddRoot->setEnabled(true);
}

void FrmView::CmdInLib_Click() {
    if (ShowOutcome(m_session.feedback(), CheckInStructure(m_session, m_tree, m_ui->TxtPwd->text())))
        m_editor.markCheckedIn();
    m_loader.forgetStoredSections();
}

void FrmView::CmdCancel_Click() { CloseForm(this); }

QString FrmView::storedCodeOf(const StructureNode* node) const {
    return NodeKind::IsCatalogue(node->kind) ? node->text : SectionCodeOf(m_tree, node, m_session.ctx.ProductCode);
}

void FrmView::MnuWhereUsed_Click() {
    const StructureNode* node = selectedNode();
    if (!node) {
        m_session.feedback().stop(QStringLiteral("请先选择要查询的节点"));
        return;
    }
    const QString code = storedCodeOf(node);
    // The main window holds the one 使用位置 window; without one it stands on its own.
    if (!ShowOtherFormWithCode(this, QStringLiteral("FrmWhereUsed"), code)) {
        auto* window = new FrmWhereUsed(m_session);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        window->ShowCode(code);
    }
}

void FrmView::closeEvent(QCloseEvent* event) {
    // A tree lives only in this window: closing it, by 取消 or by the frame, loses whatever no check-in
    // has stored.
    if (m_editor.hasUnsavedNodes() && !m_session.feedback().question(EditorText::DiscardUnsaved, kTitleFeedback)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void FrmView::CmdRptNode_Click() {
    StructureNode* node = selectedNode();
    if (!node) {
        m_session.feedback().stop(QStringLiteral("请先选择要输出的节点"));
        return;
    }
    auto* dialog = new FrmRptPSE(m_session, SectionCodeOf(m_tree, node, m_session.ctx.ProductCode), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const int id = node->id;
    connect(dialog, &QDialog::finished, this, [this, id] {
        if (m_session.ctx.ReportAction != QLatin1String("Cancel"))
            GenerateReport(id);
    });
    dialog->open();
}

void FrmView::GenerateReport(int nodeId) {
    StructureNode* node = m_tree.byId(nodeId);
    if (!node)
        return;
    Feedback& feedback = m_session.feedback();
    const QString kind = m_session.ctx.ReportKind;
    QStatusBar* status = m_ui->StatusBar;
    status->show();
    status->showMessage(ReportText::Making);
    status->repaint();
    try {
        ReportBuilder builder(m_session, m_tree, m_loader, [status](const QString& text) {
            // Painted at once: the report is built on this thread, which serves no events meanwhile.
            status->showMessage(text);
            status->repaint();
        });
        m_loader.setMode(LoadMode::Print);
        const ReportDocument doc = builder.build(kind, node, m_session.ctx.ReportWithSubs);
        // Sub-structures loaded for the report join the tree on screen.
        for (const auto& n : m_tree.nodes()) {
            if (!itemOf(n.get()) && n->parent && itemOf(n->parent))
                addSubtreeItems(n.get());
        }
        if (doc.pages.empty()) {
            feedback.info(ReportText::Nothing);
        } else {
            m_lastReportFile = ReportFilePath(m_session.paths().dataFolder, doc.sectionCode, kind);
            WriteReportWorkbook(doc, m_lastReportFile);
            if (m_session.ctx.ReportAction == QLatin1String("Preview")) {
                OfferReportFolder(m_session, m_lastReportFile);
                auto* preview = new QPrintPreviewDialog(this);
                preview->setAttribute(Qt::WA_DeleteOnClose);
                preview->setWindowTitle(LayoutFor(kind).sheet);
                connect(preview, &QPrintPreviewDialog::paintRequested, preview,
                        [doc](QPrinter* printer) { PaintReport(doc, *printer); });
                preview->open();
            } else {
                QPrinter printer(QPrinter::HighResolution);
                bool ready = !QPrinterInfo::availablePrinters().isEmpty();
                // Without a printer the pages go to a PDF file of the user's choice.
                if (!ready) {
                    const QString pdf = ChooseReportPdf(m_session);
                    if (!pdf.isEmpty()) {
                        printer.setOutputFormat(QPrinter::PdfFormat);
                        printer.setOutputFileName(pdf);
                        ready = true;
                    }
                }
                if (ready)
                    PaintReport(doc, printer);
                OfferReportFolder(m_session, m_lastReportFile);
            }
        }
        AppendLogRow(m_session, doc.sectionCode, LogWord::ReportOutput(kind));
    } catch (const Error& e) {
        feedback.message(ReportText::ErrorPrefix + e.description(), Icon::None, kTitleFeedback);
    }
    status->clearMessage();
    status->hide();
}

void FrmView::fetchChildren(StructureNode* node) {
    const std::size_t before = m_tree.size();
    m_loader.setMode(m_session.ctx.ProductMode == kPrint ? LoadMode::Print : LoadMode::View);
    m_loader.fetchChildren(node);
    if (m_tree.size() != before) {
        for (StructureNode* c : node->children) {
            if (!itemOf(c))
                addSubtreeItems(c);
        }
        itemOf(node)->setExpanded(true);
    }
    refreshImage(node);
    reportCycles();
}

void FrmView::TView_NodeClick(QTreeWidgetItem* item) {
    StructureNode* node = nodeOf(item);
    if (!node)
        return;
    // The children come from the structure's loader, which the reports share and which throws.
    const Outcome fetched = Guarded([&] {
        fetchChildren(node);
        return Outcome::success();
    });
    if (ShowOutcome(m_session.feedback(), fetched))
        ShowChildList(node);
}

void FrmView::TView_Expand(QTreeWidgetItem* item) {
    StructureNode* node = nodeOf(item);
    if (!node)
        return;
    if (node->children.empty()) {
        ShowOutcome(m_session.feedback(), Guarded([&] {
                        fetchChildren(node);
                        return Outcome::success();
                    }));
    }
    if (!node->children.empty()) {
        node->image = NodeImage::AsmOpen;
        refreshImage(node);
    }
}

void FrmView::TView_Collapse(QTreeWidgetItem* item) {
    if (StructureNode* node = nodeOf(item)) {
        node->image = NodeImage::AsmClose;
        refreshImage(node);
    }
}

void FrmView::ShowChildList(const StructureNode* node) {
    m_ui->LstView->clear();
    const QString product = m_session.ctx.ProductCode;
    const Loaded<std::vector<ChildListRow>> rows = ChildList(m_session, SectionCodeOf(m_tree, node, product), product);
    ShowOutcome(m_session.feedback(), rows.outcome);
    for (const ChildListRow& row : rows.value) {
        new QTreeWidgetItem(
            m_ui->LstView, QStringList{row.code, row.name, row.kind, row.material, row.weight, row.quantity, row.memo});
    }
}

void FrmView::reportCycles() {
    const QStringList& cycles = m_loader.cycles();
    if (cycles.size() <= m_cyclesShown)
        return;
    const QStringList fresh = cycles.mid(m_cyclesShown);
    m_cyclesShown = cycles.size();
    m_session.feedback().stop(StructureText::Cycle.arg(fresh.join(QStringLiteral("、"))));
}

} // namespace velda
