#include "structure/ui/FrmWhereUsed.h"

#include "core/Session.h"
#include "core/Loaded.h"
#include "core/OfficeSettings.h"
#include "core/Outcome.h"
#include "core/ui/Forms.h"
#include "library/ChangeImpact.h"

#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velda {

namespace {
constexpr int kSectionRole = Qt::UserRole;
constexpr int kPathCountRole = Qt::UserRole + 1;
const QString kFilter = QStringLiteral("Excel 工作簿 (*.xlsx)");

// A code as part of a file name: the characters a file name cannot hold become "-".
QString FileNameOf(QString code) {
    for (const QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':'), QLatin1Char('*'), QLatin1Char('?'),
                          QLatin1Char('"'), QLatin1Char('<'), QLatin1Char('>'), QLatin1Char('|')})
        code.replace(c, QLatin1Char('-'));
    return code;
}
} // namespace

// The office's switch for the question before a used part changes sits beside the answer it gives;
// only an administrator sees it, since it holds for every client.
void FrmWhereUsed::addImpactSetting(QVBoxLayout* layout) {
    if (!m_session.ctx.isAdministrator())
        return;
    auto* ask = new QCheckBox(ImpactText::SettingLabel, this);
    ask->setObjectName(QStringLiteral("ChkAskBeforeChange"));
    const Loaded<bool> asking = Load([&] { return OfficeSettings(m_session.db()).flag(ImpactText::Setting, true); });
    ask->setChecked(asking.value);
    ask->setEnabled(asking.ok());
    layout->addWidget(ask);
    connect(ask, &QCheckBox::toggled, this, [this, ask](bool on) {
        const Outcome saved = Guarded([&] {
            OfficeSettings(m_session.db()).setFlag(ImpactText::Setting, on);
            return Outcome::success();
        });
        if (!saved.done()) {
            const QSignalBlocker quiet(ask);
            ask->setChecked(!on);
            ShowOutcome(m_session.feedback(), saved);
        }
    });
}

FrmWhereUsed::FrmWhereUsed(Session& session, QWidget* parent) : QWidget(parent), m_session(session) {
    setObjectName(QStringLiteral("FrmWhereUsed"));
    setWindowTitle(WhereUsedText::Title);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("代号"), this);
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("TxtCode"));
    label->setBuddy(m_code);
    m_seek = new QPushButton(QStringLiteral("查询"), this);
    m_seek->setObjectName(QStringLiteral("CmdSeek"));
    m_seek->setDefault(true);
    m_export = new QPushButton(QStringLiteral("导出"), this);
    m_export->setObjectName(QStringLiteral("CmdExport"));
    m_export->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CmdClose"));
    bar->addWidget(label);
    bar->addWidget(m_code, 1);
    bar->addWidget(m_seek);
    bar->addWidget(m_export);
    bar->addWidget(close);
    layout->addLayout(bar);

    auto* split = new QSplitter(Qt::Vertical, this);
    m_tree = new QTreeWidget(split);
    m_tree->setObjectName(QStringLiteral("TreeUse"));
    m_tree->setHeaderLabels({QStringLiteral("代号"), QStringLiteral("名称"), QStringLiteral("数量"),
                             QStringLiteral("累计数量"), QStringLiteral("入库者"), QStringLiteral("入库时间"),
                             QStringLiteral("说明")});
    m_products = new QTreeWidget(split);
    m_products->setObjectName(QStringLiteral("LstProduct"));
    m_products->setRootIsDecorated(false);
    m_products->setHeaderLabels(WhereUsedProductHeadings());
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("LblMsg"));
    layout->addWidget(m_message);
    addImpactSetting(layout);

    connect(m_seek, &QPushButton::clicked, this, &FrmWhereUsed::CmdSeek_Click);
    connect(m_code, &QLineEdit::returnPressed, this, &FrmWhereUsed::CmdSeek_Click);
    connect(m_export, &QPushButton::clicked, this, &FrmWhereUsed::CmdExport_Click);
    connect(close, &QPushButton::clicked, this, [this] { CloseForm(this); });
    connect(m_tree, &QTreeWidget::itemExpanded, this, &FrmWhereUsed::TreeUse_Expand);
    SizeFormInTwips(this, 10000, 7000);
}

void FrmWhereUsed::ShowCode(const QString& code) {
    m_code->setText(code);
    CmdSeek_Click();
}

void FrmWhereUsed::CmdSeek_Click() {
    const QString code = m_code->text().trimmed();
    m_tree->clear();
    m_products->clear();
    m_answer = WhereUsed();
    m_export->setEnabled(false);
    m_message->clear();
    if (code.isEmpty()) {
        m_session.feedback().stop(WhereUsedText::CodeFirst);
        return;
    }
    Loaded<WhereUsed> found = Load([&] { return FindWhereUsed(m_session, code); });
    if (!ShowOutcome(m_session.feedback(), found.outcome))
        return;
    m_answer = std::move(found.value);
    auto* root = new QTreeWidgetItem(m_tree, QStringList{code});
    addUses(root, QString(), 1);
    if (!m_answer.borrowed.empty()) {
        auto* borrowed = new QTreeWidgetItem(root, QStringList{WhereUsedText::Borrowed});
        for (const BorrowUse& b : m_answer.borrowed) {
            auto* item = new QTreeWidgetItem(borrowed, QStringList{b.product + QLatin1Char('-') + b.section});
            item->setText(4, b.account);
            item->setText(5, b.date);
            item->setText(6, WhereUsedText::Borrowed);
        }
        borrowed->setExpanded(true);
    }
    root->setExpanded(true);
    for (const QStringList& row : WhereUsedProductRows(m_answer))
        new QTreeWidgetItem(m_products, row);
    m_export->setEnabled(!m_answer.empty());
    if (m_answer.empty())
        m_message->setText(WhereUsedText::NotUsed.arg(code));
    else
        m_message->setText(QStringLiteral("共%1个产品、%2个结合部使用，借用%3处")
                               .arg(m_answer.products.size())
                               .arg(m_answer.sections.size())
                               .arg(m_answer.borrowed.size()));
    if (!m_answer.cycles.isEmpty())
        m_session.feedback().stop(WhereUsedText::Cycle.arg(m_answer.cycles.join(QStringLiteral("、"))));
}

// The items of the sections listing a code: the part's at once, each further level when its item opens,
// so a part used thousands of times opens no slower than its first level.
void FrmWhereUsed::addUses(QTreeWidgetItem* parent, const QString& childSection, qint64 pathCount) {
    std::vector<const UseRow*> uses;
    if (childSection.isEmpty()) {
        for (const UseRow& r : m_answer.rows)
            if (r.level == 1)
                uses.push_back(&r);
    } else {
        uses = m_answer.usesOf(childSection);
    }
    for (const UseRow* r : uses) {
        const UsedSection* s = m_answer.section(r->section);
        const qint64 count = pathCount * r->quantityValue;
        auto* item = new QTreeWidgetItem(parent, QStringList{r->section, s ? s->name : QString(), r->quantity,
                                                             QString::number(count), s ? s->checkedInBy : QString(),
                                                             s ? s->checkedInAt : QString()});
        item->setToolTip(0, r->child);
        if (r->cycle) {
            item->setText(6, WhereUsedText::CycleMark);
        } else if (r->cutByDepth) {
            item->setText(6, WhereUsedText::DepthMark);
        } else if (!m_answer.usesOf(r->section).empty()) {
            item->setData(0, kSectionRole, r->section);
            item->setData(0, kPathCountRole, count);
            item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
    }
}

void FrmWhereUsed::TreeUse_Expand(QTreeWidgetItem* item) {
    const QString section = item->data(0, kSectionRole).toString();
    if (section.isEmpty() || item->childCount() > 0)
        return;
    addUses(item, section, item->data(0, kPathCountRole).toLongLong());
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void FrmWhereUsed::CmdExport_Click() {
    if (m_answer.empty())
        return;
    const QString suggested =
        QDir(m_session.paths().dataFolder)
            .filePath(WhereUsedText::Title + QLatin1Char('_') + FileNameOf(m_answer.code) + QStringLiteral(".xlsx"));
    QString path = m_session.feedback().saveFileName(QStringLiteral("导出使用位置"), suggested, kFilter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        path += QStringLiteral(".xlsx");
    if (!ShowOutcome(m_session.feedback(), Guarded([&] {
            WriteWhereUsedWorkbook(m_answer, path);
            return Outcome::success();
        })))
        return;
    m_lastExport = path;
    m_session.feedback().info(QStringLiteral("使用位置已导出到%1").arg(QDir::toNativeSeparators(path)));
}

} // namespace velda
