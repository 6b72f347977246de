#include "items/ui/FrmSeekItemNonLocal.h"

#include "core/Session.h"
#include "core/Twips.h"
#include "core/ui/Forms.h"
#include "ui_FrmSeekItemNonLocal.h"

#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>
#include <QTimer>

namespace velda {

namespace {
const QString kClosed = QStringLiteral("AsmClose");
const QString kOpen = QStringLiteral("AsmOpen");
const QString kItem = QStringLiteral("Item");
} // namespace

FrmSeekItemNonLocal::FrmSeekItemNonLocal(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmSeekItemNonLocal>()), m_records(session) {
    m_ui->setupUi(this);
    m_images.insert(kClosed, style()->standardIcon(QStyle::SP_DirClosedIcon));
    m_images.insert(kOpen, style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_images.insert(kItem, style()->standardIcon(QStyle::SP_FileIcon));
    SizeFormInTwips(this, 12580, 8300);
    connect(m_ui->TView, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) { TView_NodeClick(node); });
    connect(m_ui->TView, &QTreeWidget::itemCollapsed, this, &FrmSeekItemNonLocal::TView_Collapse);
    connect(m_ui->TView, &QTreeWidget::itemExpanded, this, &FrmSeekItemNonLocal::TView_Expand);
    Form_Load();
}

FrmSeekItemNonLocal::~FrmSeekItemNonLocal() = default;

void FrmSeekItemNonLocal::setImage(QTreeWidgetItem* node, const QString& image) {
    node->setData(0, ImageRole, image);
    node->setIcon(0, m_images.value(image));
    // A node with borrowers offers to open even before its children are loaded.
    node->setChildIndicatorPolicy(image == kItem ? QTreeWidgetItem::DontShowIndicatorWhenChildless
                                                 : QTreeWidgetItem::ShowIndicator);
}

bool FrmSeekItemNonLocal::addChildren(QTreeWidgetItem* node, bool& found) {
    found = false;
    QStringList sections;
    Outcome outcome = m_records.Borrowers(node->text(0), sections);
    for (const QString& section : sections) {
        if (!outcome.done())
            break;
        ++m_nodeCounter;
        auto* child = new QTreeWidgetItem(node, QStringList(section));
        child->setData(0, KeyRole, QStringLiteral("Key") + QString::number(m_nodeCounter));
        bool has = false;
        outcome = m_records.HasBorrowers(section, has);
        setImage(child, has ? kClosed : kItem);
        found = true;
    }
    if (!outcome.done()) {
        ShowOutcome(m_session.feedback(), outcome);
        return false;
    }
    return true;
}

void FrmSeekItemNonLocal::Form_Load() {
    m_nodeCounter = 0;
    const QString code = m_session.ctx.BorrowedCode;
    auto* root = new QTreeWidgetItem(m_ui->TView, QStringList(code));
    root->setData(0, KeyRole, code);
    bool found = false;
    m_loading = true;
    const bool ok = addChildren(root, found);
    root->setExpanded(true);
    m_loading = false;
    setImage(root, kOpen);
    m_ui->TView->setCurrentItem(root);
    if (!ok)
        return;
    const Outcome logged = m_records.LogBrowse(code);
    if (!logged.done()) {
        ShowOutcome(m_session.feedback(), logged);
        return;
    }
    fillList(root);
}

void FrmSeekItemNonLocal::TView_NodeClick(QTreeWidgetItem* node) {
    if (!node)
        return;
    if (node->childCount() == 0) {
        bool found = false;
        m_loading = true;
        const bool ok = addChildren(node, found);
        node->setExpanded(true);
        m_loading = false;
        if (found)
            setImage(node, kOpen);
        else if (ok)
            node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        if (!ok)
            return;
    }
    fillList(node);
}

void FrmSeekItemNonLocal::TView_Expand(QTreeWidgetItem* node) {
    // Opening a node by its indicator loads it as a click does.
    if (m_loading || node->childCount() > 0)
        return;
    m_ui->TView->setCurrentItem(node);
    TView_NodeClick(node);
}

void FrmSeekItemNonLocal::TView_Collapse(QTreeWidgetItem* node) {
    // Collapsing forgets the level: a later click loads it again under new keys.
    while (node->childCount() > 0)
        delete node->takeChild(0);
    setImage(node, kClosed);
}

void FrmSeekItemNonLocal::fillList(QTreeWidgetItem* node) {
    m_ui->LstView->clear();
    QList<Borrower> borrowers;
    const Outcome outcome = m_records.SortedBorrowers(node->text(0), borrowers);
    if (!outcome.done()) {
        ShowOutcome(m_session.feedback(), outcome);
        return;
    }
    for (const Borrower& b : borrowers)
        new QTreeWidgetItem(m_ui->LstView, {b.section, b.date});
}

void FrmSeekItemNonLocal::layoutControls() {
    const double dpi = logicalDpiX();
    const int w = PixelsToTwips(width(), dpi);
    const int h = PixelsToTwips(height(), dpi);
    const int treeWidth = std::max(0, (w - 360) * 2 / 5);
    const int listWidth = std::max(0, (w - 360) * 3 / 5);
    const int tall = std::max(0, h - 360);
    m_ui->TView->setGeometry(TwipsToPixels(150, dpi), TwipsToPixels(180, dpi), TwipsToPixels(treeWidth, dpi),
                             TwipsToPixels(tall, dpi));
    m_ui->LstView->setGeometry(TwipsToPixels(treeWidth + 210, dpi), TwipsToPixels(180, dpi),
                               TwipsToPixels(listWidth, dpi), TwipsToPixels(tall, dpi));
    const int half = m_ui->LstView->width() / 2;
    m_ui->LstView->header()->resizeSection(0, half);
    m_ui->LstView->header()->resizeSection(1, half);
}

void FrmSeekItemNonLocal::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void FrmSeekItemNonLocal::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_sizedToMain)
        return;
    m_sizedToMain = true;
    // Once the main window has framed and placed the form: the window fills the main window but for
    // a margin, as the main window keeps it when it is resized.
    QTimer::singleShot(0, this, &FrmSeekItemNonLocal::sizeToMainWindow);
}

void FrmSeekItemNonLocal::sizeToMainWindow() {
    auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    QWidget* main = frame && frame->mdiArea() ? frame->mdiArea()->window() : nullptr;
    if (!main)
        return;
    const double dpi = logicalDpiX();
    const int mainWidth = PixelsToTwips(main->width(), dpi);
    const int mainHeight = PixelsToTwips(main->height(), dpi);
    frame->move(0, 0);
    if (mainWidth > 200)
        frame->resize(TwipsToPixels(mainWidth - 200, dpi), frame->height());
    if (mainHeight > 900)
        frame->resize(frame->width(), TwipsToPixels(mainHeight - 900, dpi));
}

} // namespace velda
