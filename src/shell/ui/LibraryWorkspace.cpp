#include "shell/ui/LibraryWorkspace.h"

#include "accounts/Acl.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "items/ItemRecords.h"
#include "items/ui/DwgView.h"
#include "library/Batch.h"
#include "library/ChangeImpact.h"
#include "library/DrawingLibrary.h"
#include "library/Holds.h"
#include "library/LibraryRows.h"
#include "library/WorkingFolder.h"
#include "library/ui/FrmLibDrawing.h"
#include "library/ui/FrmMultiInLib.h"
#include "shell/CommandTable.h"
#include "store/Database.h"
#include "transfer/TransferPool.h"
#include "transfer/ui/FormTransfer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSplitter>
#include <QSqlDriver>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace velda {

namespace {
const QString kColumns = QStringLiteral("图纸列表列");
// The channel the server's triggers announce every change of the library tables on.
const QString kLibraryChannel = QStringLiteral("velda_library");
// How often the list asks whether another client changed the library: a change shows within two.
constexpr int kPollMs = 1000;
constexpr int kRecentLogRows = 8;
constexpr qint64 kRetryLostMs = 10000;
// The rows read at once on the window's thread: more than a screen holds, few enough to paint at once.
constexpr int kFirstPage = 500;
// More drawings changed at once than this are read with the whole list, away from the window.
constexpr qsizetype kMostInPlace = 2000;

// The memory the rows read and sorted away from the window took and gave back is handed back to the
// system, not kept by the allocator for a list the size of the last one.
void ReleaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// A record field as the records dialog names it.
QString RecordCell(const QString& label, const QString& value, bool colon = true) {
    return QStringLiteral("<td valign=\"middle\">%1%2</td><td valign=\"middle\" style=\"padding-right:12px\">%3</td>")
        .arg(label.toHtmlEscaped(), colon ? QStringLiteral("：") : QString(), value.toHtmlEscaped());
}

// The part and drawing records of the code laid out as the records dialog lays them out, two a row.
QString RecordsText(const ItemRecords& r) {
    if (!r.part && !r.drawing)
        return QStringLiteral("无零件信息和图纸信息");
    const PartFields p = r.part.value_or(PartFields{});
    const DrawingFields d = r.drawing.value_or(DrawingFields{});
    const QString rows[][2] = {
        {RecordCell(QStringLiteral("重量(kg)"), p.weight), RecordCell(QStringLiteral("材料"), p.material)},
        {RecordCell(QStringLiteral("设计人员"), d.design), RecordCell(QStringLiteral("校对人员"), d.verify)},
        {RecordCell(QStringLiteral("主管人员"), d.main), RecordCell(QStringLiteral("审定"), d.head)},
        {RecordCell(QStringLiteral("标准审查"), d.standard), RecordCell(QStringLiteral("工艺审查"), d.process)},
        {RecordCell(QStringLiteral("日期"), d.date), RecordCell(QStringLiteral("比例"), d.scale)},
        {RecordCell(QStringLiteral("编码"), d.coding), RecordCell(QStringLiteral("图幅"), d.sheetSize)},
        {RecordCell(QStringLiteral("共"), d.pages.isEmpty() ? QString() : d.pages + QStringLiteral("页"), false),
         RecordCell(QStringLiteral("图样标记"), d.mark)}};
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    for (const auto& row : rows)
        html += QStringLiteral("<tr>") + row[0] + row[1] + QStringLiteral("</tr>");
    return html + QStringLiteral("</table>");
}
} // namespace

QString WorkspaceText::AskHold(const QString& code) {
    return QStringLiteral("您可以修改图纸<%1>。是否同时出库以便修改？\n选“否”则取得只读副本，不出库。").arg(code);
}
QString WorkspaceText::AskDelete(const QStringList& codes) {
    return codes.size() == 1 ? QStringLiteral("确实要从库中删除图纸<%1>吗？").arg(codes.first())
                             : QStringLiteral("确实要从库中删除所选的%1份图纸吗？").arg(codes.size());
}
QString WorkspaceText::ChangedCopyWillGo(const QString& file) {
    return QStringLiteral("工作文件夹中的%1已修改，出库将以库中图纸覆盖它。是否继续？").arg(file);
}
QString WorkspaceText::NoProgram(const QString& file) {
    return QStringLiteral("本机没有与.dwg文件关联的程序，无法打开%1。已打开其所在文件夹。").arg(file);
}
QString WorkspaceText::FirstPage(int shown) { return QStringLiteral("显示前%1份图纸，其余正在读取……").arg(shown); }
QString WorkspaceText::Counts(int shown, int total) {
    return shown == total ? QStringLiteral("共%1份图纸").arg(total)
                          : QStringLiteral("显示%1份，共%2份图纸").arg(shown).arg(total);
}

LibraryWorkspace::LibraryWorkspace(Session& session, std::function<QWidget*(const QString&)> runCommand,
                                   QWidget* parent)
    : QWidget(parent), m_session(session), m_runCommand(std::move(runCommand)) {
    setObjectName(QStringLiteral("LibraryWorkspace"));
    // Drawn over the dialogs' grey area, which must not show through.
    setAutoFillBackground(true);
    m_model = new LibraryListModel(this);
    m_model->setStateDecorations(style()->standardIcon(QStyle::SP_DialogApplyButton),
                                 style()->standardIcon(QStyle::SP_MessageBoxWarning));

    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("TxtQuickFilter"));
    m_filter->setPlaceholderText(QStringLiteral("输入代号或名称的一部分查找"));
    m_filter->setClearButtonEnabled(true);
    m_scope = new QComboBox(this);
    m_scope->setObjectName(QStringLiteral("CboScope"));
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("LblCount"));

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("LstLibrary"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(LibraryListModel::Code, Qt::AscendingOrder);
    m_view->verticalHeader()->hide();
    // Rows of one height: the view then never measures the rows it does not show.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setSectionsMovable(true);
    // Wider screens leave room beside the columns rather than one very wide last column.
    m_view->horizontalHeader()->setStretchLastSection(false);
    m_view->setWordWrap(false);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setAcceptDrops(true);
    m_view->viewport()->setAcceptDrops(true);
    m_view->viewport()->installEventFilter(this);

    m_tools = new QToolBar(this);
    m_tools->setObjectName(QStringLiteral("WorkspaceTools"));
    m_tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    auto* details = new QWidget(this);
    m_details = new QLabel(details);
    m_details->setObjectName(QStringLiteral("LblDetails"));
    m_details->setTextFormat(Qt::PlainText);
    m_details->setWordWrap(true);
    m_details->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_records = new QLabel(details);
    m_records->setObjectName(QStringLiteral("LblRecords"));
    m_records->setTextFormat(Qt::RichText);
    m_records->setWordWrap(true);
    m_records->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_records->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_preview = new DwgView(details);
    m_preview->setObjectName(QStringLiteral("PicPreview"));
    m_previewNote = new QLabel(details);
    m_previewNote->setObjectName(QStringLiteral("LblPreviewNote"));
    m_previewNote->setWordWrap(true);
    m_recent = new QListWidget(details);
    m_recent->setObjectName(QStringLiteral("LstRecentLog"));
    auto* side = new QVBoxLayout(details);
    side->setContentsMargins(4, 0, 0, 0);
    side->addWidget(m_details);
    side->addWidget(m_records);
    side->addWidget(m_preview, 3);
    side->addWidget(m_previewNote);
    side->addWidget(new QLabel(QStringLiteral("最近的操作："), details));
    side->addWidget(m_recent, 2);

    auto* split = new QSplitter(this);
    split->setObjectName(QStringLiteral("WorkspaceSplitter"));
    split->addWidget(m_view);
    split->addWidget(details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("查找："), this));
    top->addWidget(m_filter, 2);
    top->addWidget(m_scope);
    top->addWidget(m_count);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_tools);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    m_transfer = new FormTransfer(this, {m_tools, m_view}, session.ftpOptions);
    m_transfer->explainClosing(session.feedback());
    m_library =
        std::make_unique<DrawingLibrary>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    buildActions();

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model->setFilter(text);
        updateCounts();
    });
    connect(m_scope, &QComboBox::activated, this, &LibraryWorkspace::scopeChosen);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &LibraryWorkspace::showDetails);
    connect(m_view, &QTableView::doubleClicked, this, [this] { OpenSelected(); });
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &LibraryWorkspace::CheckForChanges);
    m_clock.start();
    m_poll->start();
}

LibraryWorkspace::~LibraryWorkspace() {
    // A load under way ends before what it reports to goes.
    m_loader.reset();
}

void LibraryWorkspace::buildActions() {
    const auto add = [this](const char* name, const QString& text, QStyle::StandardPixmap icon,
                            const QKeySequence& keys, void (LibraryWorkspace::*slot)()) {
        auto* action = new QAction(style()->standardIcon(icon), text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        // The list's keys, not the dialogs' over it.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        m_tools->addAction(action);
        return action;
    };
    add("ActOpen", QStringLiteral("打开"), QStyle::SP_DialogOpenButton, QKeySequence(Qt::CTRL | Qt::Key_O),
        &LibraryWorkspace::OpenSelected);
    add("ActOutLib", QStringLiteral("出库"), QStyle::SP_ArrowDown, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
        &LibraryWorkspace::CheckOutSelected);
    add("ActInLib", QStringLiteral("入库"), QStyle::SP_ArrowUp, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        &LibraryWorkspace::CheckInSelected);
    add("ActRelease", QStringLiteral("撤销出库"), QStyle::SP_DialogResetButton,
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &LibraryWorkspace::ReleaseSelected);
    add("ActDelete", QStringLiteral("删除"), QStyle::SP_TrashIcon, QKeySequence(QKeySequence::Delete),
        &LibraryWorkspace::DeleteSelected);
    add("ActCopyCode", QStringLiteral("复制代号"), QStyle::SP_FileIcon, QKeySequence(QKeySequence::Copy),
        &LibraryWorkspace::CopyCodes);
    add("ActWhereUsed", QStringLiteral("使用位置"), QStyle::SP_FileDialogContentsView, QKeySequence(),
        &LibraryWorkspace::ShowWhereUsed);
    add("ActHistory", QStringLiteral("历史版本"), QStyle::SP_FileDialogDetailedView, QKeySequence(),
        &LibraryWorkspace::ShowHistory);
    m_tools->addSeparator();
    add("ActRefresh", QStringLiteral("刷新"), QStyle::SP_BrowserReload, QKeySequence(QKeySequence::Refresh),
        &LibraryWorkspace::Reload);
    add("ActWorkFolder", QStringLiteral("工作文件夹..."), QStyle::SP_DirIcon, QKeySequence(),
        &LibraryWorkspace::chooseWorkingFolder);
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QAction::triggered, m_filter, [this] {
        m_filter->setFocus();
        m_filter->selectAll();
    });
    addAction(find);
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("MnuLibrary"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        for (QAction* a : m_tools->actions())
            if (!a->isSeparator() && a->objectName() != QLatin1String("ActWorkFolder"))
                menu->addAction(a);
        menu->popup(m_view->viewport()->mapToGlobal(at));
    });
}

QString LibraryWorkspace::workingFolder() const { return WorkingFolder::of(m_session.config(), m_session.ctx.UserId); }

void LibraryWorkspace::StoreColumns() const {
    if (m_columnsFor.isEmpty())
        return;
    m_session.config().StoreAccountValue(m_columnsFor, kColumns,
                                         QString::fromLatin1(m_view->horizontalHeader()->saveState().toBase64()));
}

void LibraryWorkspace::Reload() {
    const QString account = m_session.ctx.UserId;
    if (account != m_columnsFor) {
        StoreColumns();
        m_columnsFor = account;
        const QByteArray state =
            QByteArray::fromBase64(m_session.config().ReadAccountValue(account, kColumns).toLatin1());
        if (state.isEmpty() || !m_view->horizontalHeader()->restoreState(state)) {
            // Room for a long code and a name; the rest as wide as their headings.
            static constexpr int kWidths[LibraryListModel::ColumnCount] = {150, 130, 70, 70, 90, 80, 100, 80, 70, 80};
            const double scale = logicalDpiX() / 96.0;
            for (int c = 0; c < LibraryListModel::ColumnCount; ++c)
                m_view->horizontalHeader()->resizeSection(c, int(kWidths[c] * scale));
        }
    }
    m_model->setViewer(account, m_session.clock().today());
    if (!m_session.hasConnection() || m_session.commandRunning())
        return;
    const bool fresh = account != m_listFor;
    if (m_loading && !fresh) {
        m_reloadAfter = true;
        return;
    }
    try {
        listen();
        LibraryStore store(m_session.db());
        // The whole list in already: what changed since is enough.
        if (!fresh && !m_lost) {
            if (followChanges() == Followed::Whole)
                startLoad();
        } else {
            // The log's place first: whatever is written after it is followed from there.
            const qint64 last = store.lastLogNumber();
            const std::vector<LoggedRow> near = store.logRowsFrom(last - LogFollower::kLookBack + 1);
            std::vector<ListedDrawing> page = store.listing(kFirstPage + 1);
            const bool whole = page.size() <= size_t(kFirstPage);
            if (!whole) {
                // One more than a page tells that there is more; the last code is not the page's.
                const auto extra = std::max_element(page.begin(), page.end(), [](const auto& a, const auto& b) {
                    return QtPrivate::compareStrings(a.code, b.code) < 0;
                });
                page.erase(extra);
            }
            if (whole || fresh) {
                m_model->setRows(std::move(page));
                m_listFor = account;
            }
            if (whole)
                m_follower.restart(last, near, m_clock.elapsed());
            if (whole && m_loading) {
                // The list of the account logged in before: its answer no longer counts.
                ++m_loadNumber;
                m_loading = false;
            }
            if (!whole)
                startLoad();
        }
        m_lost = false;
    } catch (const Error&) {
        m_lost = true;
        m_lostAt.start();
    }
    refreshLocalCopies();
    fillScopes();
    updateCounts();
    showDetails();
}

void LibraryWorkspace::startLoad() {
    if (!m_loader) {
        m_loaderClient = std::make_unique<FtpClient>();
        m_loader = std::make_unique<TransferPool>(*m_loaderClient);
    }
    const int number = ++m_loadNumber;
    m_loading = true;
    m_reloadAfter = false;
    // The whole read sees whatever an announcement told of before it.
    m_unexplained = false;
    struct Answer {
        LibraryListModel::Prepared prepared;
        qint64 last = 0;
        std::vector<LoggedRow> near;
        QString error;
    };
    auto answer = std::make_shared<Answer>();
    auto* watch = new TransferWatch(this);
    connect(watch, &TransferWatch::finished, this, [this, watch, answer, number] {
        watch->deleteLater();
        loaded(number, std::move(answer->prepared), answer->last, answer->near, answer->error);
    });
    const ConnectionSpec spec = m_session.db().spec();
    std::vector<TransferOperation> work;
    work.push_back([answer, spec](FtpClient&, const TransferProgress&) {
        try {
            Database db;
            db.open(spec);
            LibraryStore store(db);
            // The log's place before the list: a change after it is followed from there.
            answer->last = store.lastLogNumber();
            answer->near = store.logRowsFrom(answer->last - LogFollower::kLookBack + 1);
            // The keys too: the window's thread only swaps the list in.
            answer->prepared = LibraryListModel::prepare(store.listing());
        } catch (const Error& e) {
            answer->error = e.description();
        }
        TransferResult done;
        done.ok = true;
        return done;
    });
    m_loader->submit(std::move(work), false, true, watch);
}

void LibraryWorkspace::loaded(int number, LibraryListModel::Prepared prepared, qint64 last,
                              const std::vector<LoggedRow>& near, const QString& error) {
    if (number != m_loadNumber)
        return;
    m_loading = false;
    if (!error.isEmpty()) {
        m_lost = true;
        m_lostAt.start();
    } else {
        m_model->setPrepared(std::move(prepared));
        m_follower.restart(last, near, m_clock.elapsed());
        m_lost = false;
    }
    ReleaseFreedMemory();
    refreshLocalCopies();
    fillScopes();
    updateCounts();
    showDetails();
    if (m_reloadAfter)
        Reload();
    else if (std::exchange(m_announced, false))
        announced();
}

void LibraryWorkspace::listen() {
    Database& db = m_session.db();
    if (db.dialect() != Dialect::PostgreSQL)
        return;
    QSqlDriver* driver = db.handle().driver();
    if (!driver || driver == m_listening)
        return;
    m_listening = driver;
    driver->subscribeToNotification(kLibraryChannel);
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString& channel, QSqlDriver::NotificationSource source) {
                // The window's own changes are read again by the command that made them.
                if (channel == kLibraryChannel && source != QSqlDriver::SelfSource && !m_session.commandRunning() &&
                    !m_transfer->isRunning())
                    announced();
            });
}

void LibraryWorkspace::announced() {
    if (m_loading) {
        m_announced = true;
        return;
    }
    // The announcement comes at the commit, with the change's log rows there (or, written after the
    // library's rows, there by the next look). None by then tells of a change without one (another
    // program's): everything is read. Rows read just before an announcement that waited in the
    // connection cost a whole read too, which is rare and never loses a change.
    if (m_lost || !m_session.hasConnection())
        return;
    try {
        const Followed followed = followChanges();
        if (followed == Followed::Whole)
            startLoad();
        else if (followed == Followed::Nothing)
            m_unexplained = true;
    } catch (const Error&) {
        m_lost = true;
        m_lostAt.start();
        updateCounts();
    }
}

LibraryWorkspace::Followed LibraryWorkspace::followChanges() {
    LibraryStore store(m_session.db());
    // Taken on a copy: should a read fail, the same rows are read again next time.
    LogFollower follower = m_follower;
    const ListChanges changes = follower.take(store.logRowsFrom(follower.readFrom()), m_clock.elapsed());
    if (changes.whole || changes.codes.size() > kMostInPlace) {
        m_follower = follower;
        return Followed::Whole;
    }
    if (!changes.codes.isEmpty())
        m_model->update(changes.codes, store.listingOf(changes.codes));
    m_follower = follower;
    if (changes.codes.isEmpty())
        return Followed::Nothing;
    // An announcement that came before its rows is explained now.
    m_unexplained = false;
    showChanged(changes.codes);
    return Followed::Updated;
}

void LibraryWorkspace::showChanged(const QStringList& codes) {
    refreshLocalCopies();
    fillScopes();
    updateCounts();
    const std::optional<ListedDrawing> current = m_model->drawingAt(m_view->currentIndex().row());
    if (!current || codes.contains(current->code))
        showDetails();
}

void LibraryWorkspace::CheckForChanges() {
    // A load under way reads every change made before it started; later ones are found after it.
    if (!m_session.hasConnection() || m_session.commandRunning() || m_transfer->isRunning() || m_loading)
        return;
    // Each try to reconnect may wait for the connect timeout: a lost server is asked seldom.
    if (m_lost && m_lostAt.isValid() && m_lostAt.elapsed() < kRetryLostMs)
        return;
    if (m_lost) {
        Reload();
        return;
    }
    try {
        listen();
        const Followed followed = followChanges();
        if (followed == Followed::Whole || (followed == Followed::Nothing && m_unexplained))
            startLoad();
        m_unexplained = false;
    } catch (const Error&) {
        m_lost = true;
        m_lostAt.start();
        updateCounts();
    }
}

void LibraryWorkspace::refreshLocalCopies() {
    const WorkingFolder folder(workingFolder());
    if (!QFileInfo(folder.path()).isDir() || !m_session.hasConnection()) {
        m_model->setLocalCopies({});
        return;
    }
    try {
        Database& db = m_session.db();
        const QString me = m_session.ctx.UserId;
        m_model->setLocalCopies(folder.copies([&db](const QStringList& codes) { return rows::lastCheckIns(db, codes); },
                                              [this, me](const QString& code) {
                                                  const int row = m_model->rowOf(code);
                                                  const std::optional<ListedDrawing> d = m_model->drawingAt(row);
                                                  return d && d->checkInBy == me;
                                              }));
    } catch (const Error&) {
        m_lost = true;
        m_lostAt.start();
    }
}

void LibraryWorkspace::updateCounts() {
    const QString counts = m_loading && m_model->totalCount() <= kFirstPage
                               ? WorkspaceText::FirstPage(m_model->totalCount())
                               : WorkspaceText::Counts(m_model->rowCount(), m_model->totalCount());
    m_count->setText(m_lost ? WorkspaceText::ConnectionLost + QStringLiteral("（") + counts + QStringLiteral("）")
                            : counts);
}

void LibraryWorkspace::fillScopes() {
    const QString chosen = m_scope->currentText();
    m_scope->clear();
    m_scope->addItem(QStringLiteral("全部"));
    m_scope->addItem(QStringLiteral("我出库的"));
    m_scope->addItem(QStringLiteral("已出库"));
    m_scope->addItem(QStringLiteral("最近入库"));
    for (const QString& v : m_model->volumes())
        m_scope->addItem(QStringLiteral("存储目录：") + v, v);
    const int again = m_scope->findText(chosen);
    m_scope->setCurrentIndex(again < 0 ? 0 : again);
}

void LibraryWorkspace::scopeChosen(int index) {
    using Scope = LibraryListModel::Scope;
    static constexpr Scope kFixed[] = {Scope::All, Scope::MineOut, Scope::Out, Scope::Recent};
    if (index >= 0 && index < 4)
        m_model->setScope(kFixed[index]);
    else
        m_model->setScope(Scope::Volume, m_scope->itemData(index).toString());
    updateCounts();
}

QStringList LibraryWorkspace::selectedCodes() const {
    QList<int> rows;
    for (const QModelIndex& i : m_view->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    QStringList codes;
    for (int r : rows)
        if (const std::optional<ListedDrawing> d = m_model->drawingAt(r))
            codes << d->code;
    return codes;
}

void LibraryWorkspace::showDetails() {
    const std::optional<ListedDrawing> d = m_model->drawingAt(m_view->currentIndex().row());
    m_recent->clear();
    m_records->clear();
    if (!d) {
        m_details->setText(QStringLiteral("未选择图纸"));
        m_preview->showBlank();
        m_previewNote->clear();
        return;
    }
    QStringList lines{QStringLiteral("代号：") + d->code, QStringLiteral("名称：") + d->name,
                      QStringLiteral("状态：") + d->state};
    if (!d->holder.isEmpty())
        lines << QStringLiteral("出库人：%1（%2起）").arg(d->holder, d->since);
    lines << QStringLiteral("最后入库：%1 %2").arg(d->checkInBy, d->checkInAt)
          << QStringLiteral("存储目录：") + d->volume << QStringLiteral("存储文件：") + d->storedName;
    if (d->size >= 0)
        lines << QStringLiteral("大小：") + ListedSizeText(d->size);
    lines << QStringLiteral("本地副本：") + LocalCopyText(m_model->localCopyOf(d->code));
    m_details->setText(lines.join(QLatin1Char('\n')));
    const std::optional<QString> copy = WorkingFolder(workingFolder()).fileFor(d->code);
    if (copy && QFileInfo::exists(*copy)) {
        m_preview->setPath(*copy);
        m_previewNote->setText(m_preview->reason());
    } else {
        m_preview->showBlank();
        m_previewNote->setText(QStringLiteral("工作文件夹中没有副本，打开后可预览。"));
    }
    if (m_lost || !m_session.hasConnection())
        return;
    try {
        m_records->setText(RecordsText(LoadItemRecords(m_session.db(), d->code)));
        for (const QStringList& row : LibraryStore(m_session.db()).recentLog(d->code, kRecentLogRows))
            m_recent->addItem(row.join(QLatin1Char(' ')));
    } catch (const Error&) {
        m_lost = true;
        m_lostAt.start();
        updateCounts();
    }
}

bool LibraryWorkspace::readyFolder(WorkingFolder& folder) {
    const QString problem = folder.prepare();
    if (problem.isEmpty())
        return true;
    m_session.feedback().stop(problem);
    chooseWorkingFolder();
    folder = WorkingFolder(workingFolder());
    return folder.prepare().isEmpty();
}

void LibraryWorkspace::chooseWorkingFolder() {
    const QString chosen = m_session.feedback().folderName(QStringLiteral("选择工作文件夹"), workingFolder());
    if (chosen.isEmpty())
        return;
    WorkingFolder::choose(m_session.config(), m_session.ctx.UserId, chosen);
    refreshLocalCopies();
    showDetails();
}

bool LibraryWorkspace::passGates(const QString& item) {
    const Command* command = FindCommand(item);
    return command && ShowOutcome(m_session.feedback(), PassGates(m_session, *command));
}

bool LibraryWorkspace::fetch(const QString& code, bool withHold, QString& file) {
    WorkingFolder folder(workingFolder());
    if (!readyFolder(folder))
        return false;
    const std::optional<QString> target = folder.fileFor(code);
    if (!target) {
        m_session.feedback().stop(LibraryText::CodeOrFileEmpty);
        return false;
    }
    file = *target;
    // A read-only copy fetched before gives way to the new one.
    if (QFileInfo::exists(file))
        QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::WriteOwner);
    bool fetched = false;
    const auto runner = [this](const TransferOperation& op) { return m_transfer->run(op); };
    m_transfer->runCommand(m_session, QStringLiteral("图纸出库"), [&] {
        const Outcome outcome = withHold ? m_library->CheckOut(code, file) : FetchCopy(m_session, runner, code, file);
        if (outcome.done() && QFileInfo::exists(file)) {
            fetched = true;
            folder.record(code, file, rows::lastCheckIn(m_session.db(), code));
        }
        // A copy fetched only to be looked at says nothing.
        return withHold ? outcome : (outcome.done() ? Outcome::success() : outcome);
    });
    Reload();
    return fetched;
}

void LibraryWorkspace::OpenSelected() {
    const QStringList codes = selectedCodes();
    if (codes.size() != 1) {
        m_session.feedback().stop(codes.isEmpty() ? WorkspaceText::ChooseFirst : WorkspaceText::ChooseOne);
        return;
    }
    const QString code = codes.first();
    QString file = WorkingFolder(workingFolder()).fileFor(code).value_or(QString());
    const LocalCopy copy = m_model->localCopyOf(code);
    // The user's own edits and the current version are opened as they are; anything else is fetched.
    if (copy != LocalCopy::Same && copy != LocalCopy::Changed) {
        if (!passGates(QStringLiteral("OutLibDrawing")))
            return;
        bool withHold = false;
        try {
            const rows::StoredDrawing stored = LibraryStore(m_session.db()).readDrawing(code);
            if (stored.exists && stored.state != rows::kOut && Acl::Grants(stored.write, m_session.ctx))
                withHold = m_session.feedback().question(WorkspaceText::AskHold(code), kTitleFeedback);
        } catch (const Error& e) {
            ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
            return;
        }
        if (!fetch(code, withHold, file))
            return;
    }
    if (!m_session.feedback().openDocument(file)) {
        m_session.feedback().info(WorkspaceText::NoProgram(file));
        m_session.feedback().openDocument(QFileInfo(file).absolutePath());
    }
    showDetails();
}

void LibraryWorkspace::CheckOutSelected() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    if (!passGates(QStringLiteral("OutLibDrawing")))
        return;
    WorkingFolder folder(workingFolder());
    if (!readyFolder(folder))
        return;
    for (const QString& code : codes) {
        if (m_model->localCopyOf(code) == LocalCopy::Changed &&
            !m_session.feedback().question(WorkspaceText::ChangedCopyWillGo(folder.fileFor(code).value_or(code)),
                                           kTitleFeedback))
            return;
    }
    if (codes.size() == 1) {
        QString file;
        fetch(codes.first(), true, file);
        return;
    }
    // Several: the batch check-out, into the working folder.
    const CommandGuard running(m_session, QStringLiteral("批量出库"));
    if (!running) {
        m_session.feedback().stop(running.refusal());
        return;
    }
    BatchResult result;
    m_transfer->beginBatch();
    try {
        BatchLibrary batch(m_session, [this](const TransferOperation& op) { return m_transfer->run(op); });
        result = batch.CheckOut(codes, folder.path());
        const QHash<QString, qint64> numbers = rows::lastCheckIns(m_session.db(), codes);
        const QStringList refused =
            (result.progress.rejectedCodes + result.progress.missingCodes).split(QLatin1Char('&'), Qt::SkipEmptyParts);
        for (const QString& code : codes) {
            const std::optional<QString> file = folder.fileFor(code);
            if (!refused.contains(code) && file && QFileInfo::exists(*file) && numbers.contains(code))
                folder.record(code, *file, numbers.value(code));
        }
    } catch (const Error& e) {
        result.outcome = Outcome::failure(e.description());
    }
    m_transfer->endBatch();
    m_session.feedback().message(result.outcome.text, result.outcome.icon, result.outcome.title);
    Reload();
}

void LibraryWorkspace::CheckInSelected() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    const WorkingFolder folder(workingFolder());
    if (codes.size() == 1) {
        auto* form = qobject_cast<FrmLibDrawing*>(m_runCommand(QStringLiteral("InLibDrawing")));
        if (!form)
            return;
        const std::optional<QString> file = folder.fileFor(codes.first());
        // A copy in the working folder is offered at once; the user still confirms with 入库.
        form->prefill(codes.first(), file && QFileInfo::exists(*file) ? *file : QString());
        return;
    }
    QStringList files;
    for (const QString& code : codes) {
        const std::optional<QString> file = folder.fileFor(code);
        if (file && QFileInfo::exists(*file))
            files << *file;
    }
    if (files.isEmpty()) {
        m_session.feedback().stop(WorkspaceText::NoCopyToCheckIn);
        return;
    }
    if (auto* form = qobject_cast<FrmMultiInLib*>(m_runCommand(QStringLiteral("MultiInlib"))))
        form->setFiles(files);
}

void LibraryWorkspace::ReleaseSelected() {
    const QStringList codes = selectedCodes();
    if (codes.size() != 1) {
        m_session.feedback().stop(codes.isEmpty() ? WorkspaceText::ChooseFirst : WorkspaceText::ChooseOne);
        return;
    }
    try {
        // The hold exactly as the list of held drawings would show it.
        std::optional<HeldDrawing> shown;
        for (HeldDrawing& h : ListHolds(m_session.db(), m_session.clock().today()))
            if (h.code == codes.first())
                shown = std::move(h);
        if (!shown) {
            m_session.feedback().stop(HoldText::NotHeld(codes.first()));
            return;
        }
        const CommandGuard running(m_session, HoldText::LogRelease);
        if (!running) {
            m_session.feedback().stop(running.refusal());
            return;
        }
        Holds holds(m_session);
        const Holds::Check check = holds.Prepare(*shown);
        if (ShowOutcome(m_session.feedback(), check.refusal) &&
            (check.question.isEmpty() || m_session.feedback().question(check.question, kTitleFeedback)))
            ShowOutcome(m_session.feedback(), holds.Release(*shown));
    } catch (const Error& e) {
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
    }
    Reload();
}

void LibraryWorkspace::DeleteSelected() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    if (!passGates(QStringLiteral("DelLibDrawing")) ||
        !m_session.feedback().question(WorkspaceText::AskDelete(codes), kTitleFeedback) ||
        !ConfirmChange(m_session, codes, ChangeKind::Delete))
        return;
    m_transfer->runCommand(m_session, QStringLiteral("图纸删除"), [&] {
        Outcome outcome = Outcome::success(LibraryText::Deleted);
        for (const QString& code : codes) {
            const Outcome one = m_library->Delete(code);
            if (!one.done())
                return codes.size() == 1 ? one : Outcome::refusal(QStringLiteral("<%1>：").arg(code) + one.text);
        }
        return outcome;
    });
    Reload();
}

// The selected codes; with none, the user is told to choose first.
QStringList LibraryWorkspace::chosenCodes() const {
    const QStringList codes = selectedCodes();
    if (codes.isEmpty())
        m_session.feedback().stop(WorkspaceText::ChooseFirst);
    return codes;
}

// Both windows answer for one drawing: the first selected.
void LibraryWorkspace::ShowWhereUsed() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    ShowOtherFormWithCode(this, QStringLiteral("FrmWhereUsed"), codes.first());
}

void LibraryWorkspace::ShowHistory() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    if (passGates(QStringLiteral("DrawingHistory")))
        ShowOtherFormWithCode(this, QStringLiteral("FrmDrawingHistory"), codes.first());
}

void LibraryWorkspace::CopyCodes() {
    const QStringList codes = chosenCodes();
    if (codes.isEmpty())
        return;
    QApplication::clipboard()->setText(codes.join(QLatin1Char('\n')));
}

void LibraryWorkspace::DropPaths(const QStringList& paths) {
    QStringList files;
    QStringList folders;
    for (const QString& p : paths) {
        const QFileInfo info(p);
        if (info.isDir())
            folders << info.absoluteFilePath();
        else if (info.suffix().compare(QLatin1String("dwg"), Qt::CaseInsensitive) == 0)
            files << info.absoluteFilePath();
        else {
            m_session.feedback().stop(WorkspaceText::OnlyDrawings);
            return;
        }
    }
    if (files.isEmpty() && folders.size() == 1) {
        if (auto* form = qobject_cast<FrmMultiInLib*>(m_runCommand(QStringLiteral("MultiInlib"))))
            form->selectFolder(folders.first());
        return;
    }
    // Folders among files: each folder's drawings as the batch finds them, sub-folders included.
    for (const QString& f : folders)
        FindAllFile(f, true, files);
    if (files.isEmpty()) {
        m_session.feedback().stop(WorkspaceText::OnlyDrawings);
        return;
    }
    if (files.size() == 1 && folders.isEmpty()) {
        if (auto* form = qobject_cast<FrmLibDrawing*>(m_runCommand(QStringLiteral("InLibDrawing"))))
            form->prefill(DrawingCodeFromPath(files.first()), files.first());
        return;
    }
    if (auto* form = qobject_cast<FrmMultiInLib*>(m_runCommand(QStringLiteral("MultiInlib"))))
        form->setFiles(files);
}

bool LibraryWorkspace::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            QStringList paths;
            for (const QUrl& url : drop->mimeData()->urls())
                if (url.isLocalFile())
                    paths << url.toLocalFile();
            drop->acceptProposedAction();
            // After the drop has ended: the dialog it opens must not run inside the drag's own loop.
            QTimer::singleShot(0, this, [this, paths] { DropPaths(paths); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace velda
