#include "shell/ui/FrmMain.h"
#include "shell/ui/FrmHelp.h"

#include "core/ActivityLog.h"
#include "core/DatabaseTls.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/Twips.h"
#include "core/ui/FormRegistry.h"
#include "core/ui/Forms.h"
#include "shell/CommandTable.h"
#include "shell/Login.h"
#include "shell/ui/LibraryWorkspace.h"
#include "transfer/Volumes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>

#include <algorithm>
#include <thread>

namespace velda {

namespace {

// A padlock as tall as a line of the status bar's text.
QPixmap PadlockPixmap(int height) {
    const int side = std::max(12, height);
    const qreal h = side;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(90, 90, 90), h / 9));
    painter.drawArc(QRectF(h * 0.3, h * 0.08, h * 0.4, h * 0.5), 0, 180 * 16);
    painter.drawLine(QPointF(h * 0.3, h * 0.33), QPointF(h * 0.3, h * 0.45));
    painter.drawLine(QPointF(h * 0.7, h * 0.33), QPointF(h * 0.7, h * 0.45));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(196, 150, 40));
    painter.drawRoundedRect(QRectF(h * 0.18, h * 0.45, h * 0.64, h * 0.47), h * 0.08, h * 0.08);
    return pixmap;
}
const QString kNotYetAvailable = QStringLiteral("此功能尚未开通，敬请期待！");
// Where the windows were, kept per account on this machine.
const QString kMainGeometry = QStringLiteral("主窗口位置");
const QString kMainState = QStringLiteral("主窗口状态");
QString FormPlaceName(const QString& form) { return QStringLiteral("窗口位置/") + form; }

// The dialogs' area with the library list filling it underneath them: the list is a plain child of the
// viewport, kept lowest and the viewport's size, so the dialogs stay over it whatever is clicked.
class WorkspaceArea final : public QMdiArea {
public:
    using QMdiArea::QMdiArea;
    void setBackground(QWidget* widget) {
        m_background = widget;
        widget->setParent(viewport());
        place();
        widget->show();
    }

protected:
    bool viewportEvent(QEvent* event) override {
        const bool done = QMdiArea::viewportEvent(event);
        if (event->type() == QEvent::Resize)
            place();
        return done;
    }
    void scrollContentsBy(int dx, int dy) override {
        QMdiArea::scrollContentsBy(dx, dy);
        place();
    }

private:
    void place() {
        if (!m_background)
            return;
        m_background->setGeometry(viewport()->rect());
        m_background->lower();
    }
    QPointer<QWidget> m_background;
};
} // namespace

FrmMain::FrmMain(Session& session, const FormRegistry& forms, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_forms(forms) {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("VELDA主界面"));
    auto* area = new WorkspaceArea(this);
    m_mdi = area;
    m_mdi->setObjectName(QStringLiteral("MdiArea"));
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    m_workspace = new LibraryWorkspace(session, [this](const QString& item) -> QWidget* {
        m_lastShown = nullptr;
        RunCommand(item);
        return m_lastShown;
    });
    area->setBackground(m_workspace);
    buildMenu();
    const double dpi = logicalDpiX();
    resize(TwipsToPixels(12780, dpi), TwipsToPixels(9200, dpi));
    // The account's own arrangement from its last run replaces the starting size.
    const QByteArray geometry = readPlace(kMainGeometry);
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    else if (const QScreen* on = QGuiApplication::primaryScreen())
        // Left to the window manager, the first run's window may land in a corner and past the screen's edge.
        move(on->availableGeometry().center() - rect().center());
    const QByteArray state = readPlace(kMainState);
    if (!state.isEmpty())
        restoreState(state);
    m_statusUser = new QLabel(this);
    m_statusUser->setObjectName(QStringLiteral("StatusUser"));
    m_statusGroup = new QLabel(this);
    m_statusGroup->setObjectName(QStringLiteral("StatusGroup"));
    m_statusServer = new QLabel(this);
    m_statusServer->setObjectName(QStringLiteral("StatusServer"));
    statusBar()->addWidget(m_statusUser);
    statusBar()->addWidget(m_statusGroup);
    statusBar()->addWidget(m_statusServer);
    m_statusVolume = new QLabel(this);
    m_statusVolume->setObjectName(QStringLiteral("StatusVolume"));
    statusBar()->addWidget(m_statusVolume);
    // The padlock is drawn: a lock character needs an emoji font, which many office machines lack.
    m_statusLockIcon = new QLabel(this);
    m_statusLockIcon->setObjectName(QStringLiteral("StatusLockIcon"));
    m_statusLockIcon->setPixmap(PadlockPixmap(fontMetrics().height()));
    m_statusLockIcon->hide();
    statusBar()->addWidget(m_statusLockIcon);
    m_statusLock = new QLabel(this);
    m_statusLock->setObjectName(QStringLiteral("StatusLock"));
    statusBar()->addWidget(m_statusLock);
    RefreshStatus();
}

FrmMain::~FrmMain() = default;

QByteArray FrmMain::readPlace(const QString& name) const {
    return QByteArray::fromBase64(m_session.config().ReadAccountValue(m_session.ctx.UserId, name).toLatin1());
}

void FrmMain::storePlace(const QString& name, const QByteArray& place) const {
    m_session.config().StoreAccountValue(m_session.ctx.UserId, name, QString::fromLatin1(place.toBase64()));
}

void FrmMain::storeMainPlace() const {
    m_workspace->StoreColumns();
    storePlace(kMainGeometry, saveGeometry());
    storePlace(kMainState, saveState());
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    // A form's frame is hidden when it closes; that is where it is remembered, whichever way it closed.
    if (event->type() == QEvent::Hide) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
            const QString name = m_open.key(sub);
            if (!name.isEmpty())
                storePlace(FormPlaceName(name), sub->saveGeometry());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void FrmMain::RefreshStatus() {
    m_statusUser->setText(QStringLiteral("用户：%1").arg(m_session.ctx.UserId));
    m_statusGroup->setText(QStringLiteral("登录组：%1").arg(m_session.ctx.LoginGroup));
    QString server = QStringLiteral("未连接");
    // db() reconnects a lost connection and throws when it cannot; the status line must never do either.
    if (m_session.hasConnection()) {
        try {
            const ConnectionSpec& spec = m_session.db().spec();
            server = spec.dialect == Dialect::SQLite ? QStringLiteral("本地数据库") : ServerAddressText(spec);
        } catch (const Error&) {
            server = QStringLiteral("连接已中断");
        }
    }
    m_statusServer->setText(QStringLiteral("数据库服务器：%1").arg(server));
    probeVolume();
    m_workspace->Reload();
}

void FrmMain::probeVolume() {
    const UserContext& ctx = m_session.ctx;
    const QString volume = ctx.VolumeName.isEmpty() ? QStringLiteral("无") : ctx.VolumeName;
    const QString key = volume + u'\n' + ctx.VolumeServerIp;
    if (key == m_probedVolume)
        return;
    m_probedVolume = key;
    // The database's side is known now; the volume's once its server answered over TLS with a key
    // that is pinned (the probe itself pins a first key).
    bool dbEncrypted = false;
    if (m_session.hasConnection()) {
        try {
            dbEncrypted = ConnectionEncrypted(m_session.db());
        } catch (const Error&) {
            // A lost connection that cannot be opened again is not encrypted; the server's label says so.
        }
    }
    const auto show = [this, volume, dbEncrypted, tls = m_session.ftpOptions.tls,
                       server = TlsVolumeOf(ctx.VolumeServerIp, ctx.VolumeName)](const QString& word) {
        m_statusVolume->setText(QStringLiteral("存储目录：%1（FTP%2）").arg(volume, word));
        const FtpTlsTable::Server settings = tls ? tls->find(server) : FtpTlsTable::Server{};
        const bool ftpEncrypted = settings.mode != FtpTlsMode::Off && !settings.pin.isEmpty();
        const bool both = dbEncrypted && ftpEncrypted;
        m_statusLock->setText(both ? QStringLiteral("数据库与文件传输均已加密") : QString());
        m_statusLockIcon->setVisible(both);
    };
    m_statusLock->clear();
    m_statusLockIcon->hide();
    if (ctx.VolumeServerIp.isEmpty()) {
        m_statusVolume->setText(QStringLiteral("存储目录：%1").arg(volume));
        return;
    }
    show(kServerChecking);
    // The answer may take the whole connect timeout: it is sought on a thread of its own and shown when
    // it comes, unless the window has gone or another login has asked about another volume since.
    FtpOptions options = m_session.ftpOptions;
    options.connectTimeout = std::min(options.connectTimeout, std::chrono::milliseconds(5000));
    QPointer<FrmMain> self(this);
    std::thread([self, key, show, options, ip = ctx.VolumeServerIp, password = ctx.AdminPassword] {
        const QString word = VolumeServerWord(options, ip, password);
        QMetaObject::invokeMethod(qApp, [self, key, show, word] {
            if (self && self->m_probedVolume == key)
                show(word);
        });
    }).detach();
}

void FrmMain::buildMenu() {
    QList<QMenu*> stack; // the open menu at each depth
    for (const MenuEntry& entry : MenuLayout()) {
        stack.resize(entry.depth);
        if (entry.depth == 0) {
            QMenu* menu = menuBar()->addMenu(entry.caption);
            menu->setObjectName(entry.name);
            menu->menuAction()->setObjectName(entry.name);
            stack.append(menu);
            continue;
        }
        QMenu* parentMenu = stack.value(entry.depth - 1);
        if (entry.isSeparator()) {
            parentMenu->addSeparator()->setObjectName(entry.name);
            continue;
        }
        if (FindCommand(entry.name)) {
            QAction* action = parentMenu->addAction(entry.caption);
            action->setObjectName(entry.name);
            const QString item = entry.name;
            connect(action, &QAction::triggered, this, [this, item] { RunCommand(item); });
        } else {
            QMenu* sub = parentMenu->addMenu(entry.caption);
            sub->setObjectName(entry.name);
            sub->menuAction()->setObjectName(entry.name);
            stack.append(sub);
        }
    }
}

void FrmMain::RunCommand(const QString& item) {
    // Nothing thrown may leave a menu command: the event loop would end the program.
    try {
        runCommand(item);
    } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const Error*>(&e);
        ShowOutcome(m_session.feedback(),
                    Outcome::failure(error ? error->description() : QString::fromLocal8Bit(e.what())));
    }
}

void FrmMain::runCommand(const QString& item) {
    const Command* command = FindCommand(item);
    if (!command) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNotYetAvailable, kTitleFeedback, Icon::None));
        return;
    }
    // A new login would replace the connection and the user under the command that waits.
    if (command->dialog == QLatin1String("FrmLogin") && m_session.commandRunning()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(SessionText::CommandRunning(
                                              m_session.runningCommand(), SessionText::WhatChangeAccount)));
        return;
    }
    if (!ShowOutcome(m_session.feedback(), PassGates(m_session, *command)))
        return;
    ApplyEffect(m_session, *command);
    if (command->dialog == QLatin1String("Exit")) {
        close();
    } else if (command->dialog == QLatin1String("Help")) {
        if (!m_help)
            m_help = new FrmHelp(this);
        // Placed before the manual is read, so its pictures are fitted to the window they open in.
        if (!m_help->isVisible())
            if (const QScreen* on = screen())
                m_help->placeWithin(on->availableGeometry(), frameGeometry());
        if (!m_help->openManual(m_session.paths().helpFile())) {
            ShowOutcome(m_session.feedback(),
                        Outcome::refusal(QStringLiteral("无法打开帮助文件%1").arg(m_session.paths().helpFile())));
            return;
        }
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    } else if (command->dialog == QLatin1String("FrmLogin")) {
        // The next login may be another account's, which has its own arrangement.
        storeMainPlace();
        emit reLoginRequested();
    } else {
        const bool wasOpen = liveWindow(command->dialog) != nullptr;
        showForm(command->dialog, command->disable);
        if (wasOpen)
            explainLeftoverPreparation(*command);
    }
}

void FrmMain::explainLeftoverPreparation(const Command& command) {
    // A dialog that is already open keeps what earlier commands disabled, so its controls for this
    // function may stay grey until it is opened afresh: say so rather than leave the user guessing.
    QWidget* form = openForm(command.dialog);
    if (!form)
        return;
    for (const QString& name : FunctionControls(command)) {
        if (DisabledByCommand(form->findChild<QWidget*>(name))) {
            m_session.feedback().info(LeftoverPreparationText(form->windowTitle(), MenuCaption(command.item)));
            return;
        }
    }
}

QMdiSubWindow* FrmMain::liveWindow(const QString& name) const {
    QMdiSubWindow* sub = m_open.value(name);
    // A closed form's frame lingers until its deferred deletion; it no longer counts as open.
    return sub && !sub->isHidden() ? sub : nullptr;
}

QWidget* FrmMain::openForm(const QString& name) const {
    QMdiSubWindow* sub = liveWindow(name);
    return sub ? sub->widget() : nullptr;
}

void FrmMain::showForm(const QString& name, const QStringList& disable) {
    if (QMdiSubWindow* sub = liveWindow(name)) {
        // Already open: brought forward, not loaded again; the preparation adds to its state.
        DisableControls(sub->widget(), disable);
        m_lastShown = sub->widget();
        sub->showNormal();
        m_mdi->setActiveSubWindow(sub);
        sub->raise();
        return;
    }
    const FormRegistry::Factory* factory = m_forms.find(name);
    if (!factory) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNotYetAvailable, kTitleFeedback, Icon::None));
        return;
    }
    QWidget* form = (*factory)(m_session);
    DisableControls(form, disable);
    QMdiSubWindow* sub = m_mdi->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setObjectName(name + QStringLiteral("Window"));
    sub->setWindowTitle(form->windowTitle());
    m_open.insert(name, sub);
    sub->show();
    const QByteArray place = readPlace(FormPlaceName(name));
    if (place.isEmpty() || !sub->restoreGeometry(place)) {
        // The status bar may have grown with its last texts; the room is measured once it has.
        if (layout())
            layout()->activate();
        const QSize frame = sub->size() - sub->contentsRect().size();
        // Measured once the form is complete: many fill their panels after they were sized.
        sub->resize(FormStartSize(form, m_mdi->viewport()->size() - frame) + frame);
        sub->move(0, 0);
    }
    sub->installEventFilter(this);
    m_mdi->setActiveSubWindow(sub);
    m_lastShown = form;
}

void FrmMain::keepAtCorner() {
    const double dpi = logicalDpiX();
    for (const QString& name : {QStringLiteral("FrmArchives"), QStringLiteral("FrmSeekItemInfo")}) {
        if (QMdiSubWindow* sub = liveWindow(name))
            sub->move(0, 0);
    }
    if (QMdiSubWindow* sub = liveWindow(QStringLiteral("FrmSeekItemNonLocal"))) {
        sub->move(0, 0);
        const int widthTwips = PixelsToTwips(width(), dpi);
        const int heightTwips = PixelsToTwips(height(), dpi);
        if (widthTwips > 200)
            sub->resize(TwipsToPixels(widthTwips - 200, dpi), sub->height());
        if (heightTwips > 900)
            sub->resize(sub->width(), TwipsToPixels(heightTwips - 900, dpi));
    }
}

void FrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    keepAtCorner();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    // The command that waits still uses the connection and its dialog: closing now would pull them
    // away under it.
    if (m_session.commandRunning()) {
        event->ignore();
        ShowOutcome(m_session.feedback(),
                    Outcome::refusal(SessionText::CommandRunning(m_session.runningCommand(), SessionText::WhatClose)));
        return;
    }
    // A form holding work that nothing has stored may ask to stay open; the program then stays with it.
    m_mdi->closeAllSubWindows();
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        if (!sub->isHidden()) {
            event->ignore();
            return;
        }
    }
    m_closing = true;
    storeMainPlace();
    try {
        AppendLogRow(m_session, QString(), LogWord::Logout);
    } catch (const Error& e) {
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
    }
    m_mdi->closeAllSubWindows();
    m_session.disconnect();
    event->accept();
    m_session.endProgram(0);
}

} // namespace velda
