#include "library/Batch.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "accounts/Acl.h"
#include "library/CheckInSteps.h"
#include "library/LibraryLocks.h"
#include "library/LibraryRows.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace velda {

QString DrawingCodeFromPath(const QString& path) {
    QString name = path;
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QDir::separator()));
    if (slash >= 0)
        name = name.mid(slash + 1);
    const qsizetype dwg = name.toUpper().indexOf(QStringLiteral(".DWG"));
    return dwg >= 0 ? name.left(dwg) : name;
}

bool IsUsableFolder(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && QDir::isAbsolutePath(path) && info.isDir();
}

std::optional<QString> BatchTargetFile(const QString& folder, const QString& code) {
    QString name;
    name.reserve(code.size() + 4);
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c.isHighSurrogate() && i + 1 < code.size() && code[i + 1].isLowSurrogate()) {
            name += c;
            name += code[++i];
        } else if (c == u'/') {
            name += u'-';
        } else if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate()) {
            name += u'_'; // a separator on the system's platform, or nothing a file name can hold
        } else {
            name += c;
        }
    }
    // A code of nothing but dots would name the folder itself or its parent.
    if (name.isEmpty() || name.count(u'.') == name.size())
        return std::nullopt;
    name += QStringLiteral(".dwg");
    if (name.toUtf8().size() > 255)
        return std::nullopt;
    const QString sep = QStringLiteral("/");
    const QString path = (folder.endsWith(sep) ? folder : folder + sep) + name;
    // Whatever the name, the file lies directly in the chosen folder.
    if (QFileInfo(path).absoluteDir() != QDir(folder))
        return std::nullopt;
    return path;
}

void FindAllFile(const QString& folder, bool withSubFolders, QStringList& list,
                 const std::function<bool()>& keepAlive) {
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    int seen = 0;
    auto alive = [&] { return !keepAlive || (++seen % 64) != 0 || keepAlive(); };
    {
        QDirIterator files(path, {QStringLiteral("*.dwg")}, QDir::Files | QDir::Hidden | QDir::System);
        while (files.hasNext()) {
            files.next();
            if (!files.fileInfo().isFile())
                continue;
            list << path + files.fileName();
            if (!alive())
                return;
        }
    }
    if (!withSubFolders)
        return;
    QStringList subFolders;
    {
        QDirIterator dirs(path, QDir::Dirs | QDir::NoDotAndDotDot);
        while (dirs.hasNext()) {
            dirs.next();
            if (dirs.fileInfo().isSymLink())
                continue; // a link back up the tree would never end
            subFolders << path + dirs.fileName();
            if (!alive())
                return;
        }
    }
    for (const QString& sub : subFolders)
        FindAllFile(sub, true, list, keepAlive);
}

namespace BatchText {
QString CheckInSummary(const BatchProgress& p) {
    QString s =
        QStringLiteral("入库完成，共需入库图纸%1张，有效入库图纸为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法入库");
    return s;
}
QString CheckOutSummary(const BatchProgress& p) {
    QString s =
        QStringLiteral("出库完成，共需出库图纸%1张，有效出库数量为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法出库");
    if (!p.missingCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.missingCodes.chopped(1) + QStringLiteral("在库中不存在");
    if (!p.heldCopies.isEmpty()) {
        QStringList copies;
        for (const auto& [code, account] : p.heldCopies)
            copies << code + QStringLiteral("（") + account + QStringLiteral("）");
        s += QStringLiteral("\r\n图纸") + copies.join(QLatin1Char('&')) +
             QStringLiteral("此前已被他人出库，仅取得副本，目前可以查看但无权修改");
    }
    return s;
}
} // namespace BatchText

namespace {
// Who runs the batch: a new login while it waits must not carry its remaining files over to
// another user or volume.
QString identity(const UserContext& ctx) {
    return ctx.UserId + u'\n' + ctx.LoginGroup + u'\n' + ctx.VolumeName + u'\n' + ctx.VolumeServerIp;
}

BatchResult accountChanged(BatchResult r, const QString& doneWord) {
    r.failed = true;
    r.icon = Icon::Stop;
    r.message = QStringLiteral("登录帐号已变更，批处理已中止。此前已%1%2张。").arg(doneWord).arg(r.progress.processed);
    return r;
}

BatchResult stoppedOrFailed(BatchResult r, const QString& what, const QString& path, const Outcome& out,
                            const QString& doneWord) {
    r.failed = true;
    r.icon = Icon::Stop;
    r.message = QStringLiteral("%1<%2>失败：%3\r\n此前已%4%5张，批处理已中止。")
                    .arg(what, path, out.text, doneWord)
                    .arg(r.progress.processed);
    return r;
}
} // namespace

BatchLibrary::BatchLibrary(Session& session, TransferRunner runner)
    : m_session(session), m_run(runner), m_single(session, std::move(runner)) {}

BatchLibrary::~BatchLibrary() = default;

int BatchLibrary::filesPerGroup(const Database& db) const {
    if (groupFiles > 0)
        return groupFiles;
    return db.dialect() == Dialect::SQLite ? 32 : 128;
}

namespace {

using Task = std::function<TransferResult(FtpClient& client, const TransferProgress& progress)>;

// Tasks handed out in order to the batch's connections. Once a task fails no later one starts
// (unless the work goes on past failures); those already running finish. A task never started has
// ran[k] == 0.
struct Work {
    std::vector<Task> tasks;
    bool stopOnFailure = true;
    std::vector<TransferResult> results;
    std::vector<char> ran;
    int next = 0;   // the next task to hand out
    int stopAt = 0; // no task from here on starts
    int running = 0;
    // Each task's bytes, for the bar: written by the connections without the lock.
    std::unique_ptr<std::atomic<qint64>[]> done, total;
    bool finished() const { return running == 0 && next >= stopAt; }
    bool ok(int k) const { return ran[size_t(k)] && results[size_t(k)].ok; }
};
using WorkPtr = std::shared_ptr<Work>;

// The batch's connections, each on a thread of its own, working through the works in the order they
// were handed in, urgent ones first. They go on moving files while this thread writes rows: one
// group's transfers run while the group before is recorded and committed.
class Lanes final {
public:
    Lanes(std::vector<std::unique_ptr<FtpClient>>& clients, int count, const FtpOptions& options) {
        while (int(clients.size()) < count)
            clients.push_back(std::make_unique<FtpClient>(options));
        for (int j = 0; j < count; ++j)
            m_threads.emplace_back([this, c = clients[size_t(j)].get()] { lane(*c); });
    }
    ~Lanes() {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_closing = true;
            for (const WorkPtr& w : m_queue)
                w->stopAt = std::min(w->stopAt, w->next);
            m_queue.clear();
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    Lanes(const Lanes&) = delete;
    Lanes& operator=(const Lanes&) = delete;

    WorkPtr submit(std::vector<Task> tasks, bool urgent = false, bool stopOnFailure = true) {
        auto w = std::make_shared<Work>();
        const int n = int(tasks.size());
        w->tasks = std::move(tasks);
        w->stopOnFailure = stopOnFailure;
        w->results.resize(size_t(n));
        w->ran.assign(size_t(n), 0);
        w->done = std::make_unique<std::atomic<qint64>[]>(size_t(n));
        w->total = std::make_unique<std::atomic<qint64>[]>(size_t(n));
        w->stopAt = n;
        if (n == 0)
            return w;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (urgent)
                m_queue.push_front(w);
            else
                m_queue.push_back(w);
        }
        m_wake.notify_all();
        return w;
    }

    // No further task of the work starts; those running finish.
    void cancel(const WorkPtr& w) {
        if (!w)
            return;
        std::lock_guard<std::mutex> hold(m_mutex);
        w->stopAt = std::min(w->stopAt, w->next);
    }

    // Waits for the work through the runner, so that the window stays live and its bar shows the
    // work's bytes. Should the runner not run the wait (no channel), nothing more of the work starts
    // and the tasks that never ran carry the runner's answer.
    void wait(const TransferRunner& run, const WorkPtr& w) {
        if (!w || w->tasks.empty())
            return;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (w->finished())
                return;
        }
        const TransferResult whole = run([&](FtpClient&, const TransferProgress& progress) {
            std::unique_lock<std::mutex> hold(m_mutex);
            m_progress = progress ? &progress : nullptr;
            m_watched = w.get();
            m_done.wait(hold, [&] { return w->finished(); });
            m_watched = nullptr;
            m_progress = nullptr;
            TransferResult all;
            all.ok = true;
            return all;
        });
        std::unique_lock<std::mutex> hold(m_mutex);
        if (whole && w->finished())
            return;
        w->stopAt = std::min(w->stopAt, w->next);
        m_done.wait(hold, [&] { return w->finished(); });
        for (size_t k = 0; k < w->tasks.size(); ++k)
            if (!w->ran[k]) {
                w->results[k] = whole;
                w->ran[k] = 1;
            }
    }

private:
    void lane(FtpClient& client) {
        std::unique_lock<std::mutex> hold(m_mutex);
        for (;;) {
            WorkPtr w;
            while (!m_queue.empty()) {
                if (m_queue.front()->next < m_queue.front()->stopAt) {
                    w = m_queue.front();
                    break;
                }
                m_queue.pop_front();
            }
            if (!w) {
                if (m_closing)
                    return;
                m_wake.wait(hold);
                continue;
            }
            const int k = w->next++;
            ++w->running;
            hold.unlock();
            Work* const mine = w.get();
            // libcurl reports many times a file; only a watched work takes the lock, to add up its bar.
            const TransferProgress progress = [this, mine, k](qint64 d, qint64 t) {
                mine->done[size_t(k)].store(d, std::memory_order_relaxed);
                mine->total[size_t(k)].store(std::max<qint64>(t, 0), std::memory_order_relaxed);
                if (m_watched.load() != mine)
                    return;
                std::lock_guard<std::mutex> figures(m_mutex);
                if (m_watched.load() != mine || !m_progress)
                    return;
                qint64 sumDone = 0, sumTotal = 0;
                for (size_t j = 0; j < mine->tasks.size(); ++j) {
                    sumDone += mine->done[j].load(std::memory_order_relaxed);
                    sumTotal += mine->total[j].load(std::memory_order_relaxed);
                }
                (*m_progress)(sumDone, sumTotal);
            };
            TransferResult r;
            try {
                r = w->tasks[size_t(k)](client, progress);
            } catch (const std::exception& error) {
                r.failure = TransferFailure::Internal;
                r.message = QStringLiteral("文件传输出错：%1").arg(QString::fromLocal8Bit(error.what()));
            }
            hold.lock();
            const bool failed = !r.ok;
            w->results[size_t(k)] = std::move(r);
            w->ran[size_t(k)] = 1;
            --w->running;
            if (failed && w->stopOnFailure)
                w->stopAt = std::min(w->stopAt, k + 1);
            // Waiters wait for a whole work: waking them for each file would cost a thread switch a file.
            if (w->finished())
                m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake; // a lane waits for work
    std::condition_variable m_done; // a waiter waits for its work to finish
    std::deque<WorkPtr> m_queue;
    bool m_closing = false;
    std::atomic<const Work*> m_watched{nullptr}; // set and cleared under the lock
    const TransferProgress* m_progress = nullptr;
    std::vector<std::thread> m_threads;
};

// Tells the batch's onPhase how long the scope took.
class Timed final {
public:
    Timed(const std::function<void(const char*, double)>& tell, const char* phase) : m_tell(tell), m_phase(phase) {
        if (m_tell)
            m_clock.start();
    }
    ~Timed() {
        if (m_tell)
            m_tell(m_phase, double(m_clock.nsecsElapsed()) / 1e9);
    }
    Timed(const Timed&) = delete;
    Timed& operator=(const Timed&) = delete;

private:
    const std::function<void(const char*, double)>& m_tell;
    const char* m_phase;
    QElapsedTimer m_clock;
};

bool missing(const TransferResult& r) { return r.failure == TransferFailure::RemoteMissing; }

// The fewest drawings of a check-out on one volume for which one listing of the volume's folder
// replaces a probe per drawing.
constexpr int kListFrom = 16;

int laneCount(const Session& session, int files) {
    return std::max(1, std::min(std::clamp(session.ftpOptions.connectionsPerServer, 1, 16), files));
}

} // namespace

namespace {

// Moves a complete copy over the target in one step; the target never holds half a file.
bool ReplaceFile(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Marks a place in the group's transaction to which one file's rows, and every later file's, can be
// taken back.
void markFile(Database& db, int position) { db.exec(QStringLiteral("savepoint batch_file_%1").arg(position)); }
void undoFrom(Database& db, int position) {
    db.exec(QStringLiteral("rollback to savepoint batch_file_%1").arg(position));
}

// The outcome of one file in a group, kept until the group's commit decides what counts.
struct Settled {
    Settled() = default;
    Settled(int i, Outcome o, bool isMissing = false, QString holder = {})
        : index(i), outcome(std::move(o)), missing(isMissing), heldBy(std::move(holder)) {}
    int index = 0;
    Outcome outcome;
    bool missing = false; // refused: the library has no drawing of the code
    QString heldBy;       // fetched as a copy: the other account that holds the drawing
};

QString stoppedText(const BatchProgress& p, bool in) {
    QString s = in ? QStringLiteral("入库已停止：共需入库图纸%1张，已处理%2张，有效入库图纸为：%3张！")
                   : QStringLiteral("出库已停止：共需出库图纸%1张，已处理%2张，有效出库数量为：%3张！");
    s = s.arg(p.total).arg(p.processed).arg(p.processed - p.rejected);
    if (in && !p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法入库");
    return s;
}

// Counts the settled files and tells the dialog about each; false once the user asked to stop.
bool count(BatchResult& r, const std::vector<Settled>& settled, const QStringList& codes,
           const BatchLibrary::Step& step) {
    bool goOn = true;
    for (const Settled& s : settled) {
        if (!s.outcome.done()) {
            ++r.progress.rejected;
            (s.missing ? r.progress.missingCodes : r.progress.rejectedCodes) += codes[s.index] + QLatin1Char('&');
        }
        if (!s.heldBy.isEmpty())
            r.progress.heldCopies.append({codes[s.index], s.heldBy});
        ++r.progress.processed;
        if (step && !step(s.index, r.progress))
            goOn = false;
    }
    return goOn;
}

} // namespace

namespace {
// The rows, the ends of the user's holds and the log rows of files that passed their locked rules, in
// a few statements for all of them; the log rows are numbered in file order.
// reserved: the log rows take the numbers the files reserved, under which they were uploaded.
void recordTogether(Session& session, Database& db, const std::vector<CheckInSteps*>& steps, bool reserved) {
    const QString& user = steps.front()->user();
    QStringList holdCodes, logCodes;
    QList<QVariantList> added;
    QList<QVariantList> replaced;
    for (CheckInSteps* s : steps) {
        if (s->endsHold())
            holdCodes << s->code();
        logCodes << s->code();
        QVariantList row = s->rowValues();
        if (s->replacesRow()) {
            replaced << row;
        } else {
            row.insert(8, QStringLiteral("正常"));
            added << row;
        }
    }
    if (!holdCodes.isEmpty()) {
        QVariantList values{user};
        for (const QString& c : holdCodes)
            values << c;
        db.exec(QStringLiteral("delete from PDM出库图纸信息 where 出库帐号=? and 代号 in (%1)")
                    .arg(QStringLiteral("?,").repeated(holdCodes.size()).chopped(1)),
                values);
    }
    if (!added.isEmpty())
        insertRows(db, QStringLiteral("PDM入库图纸信息"),
                   {QStringLiteral("代号"), QStringLiteral("读"), QStringLiteral("写"), QStringLiteral("删"),
                    QStringLiteral("改"), QStringLiteral("入库帐号"), QStringLiteral("入库时间"),
                    QStringLiteral("入库文件名称"), QStringLiteral("状态"), QStringLiteral("目录名称")},
                   added);
    if (!replaced.isEmpty()) {
        QVariantList values;
        for (const QVariantList& row : replaced)
            values << row;
        db.exec(QStringLiteral("update PDM入库图纸信息 set 读=v.column2,写=v.column3,删=v.column4,改=v.column5,"
                               "入库帐号=v.column6,入库时间=v.column7,入库文件名称=v.column8,状态='正常',"
                               "目录名称=v.column9 from (values %1) as v where PDM入库图纸信息.代号=v.column1")
                    .arg(QStringLiteral("(?,?,?,?,?,?,?,?,?),").repeated(replaced.size()).chopped(1)),
                values);
    }
    if (reserved) {
        std::vector<qint64> numbers;
        for (CheckInSteps* s : steps) {
            numbers.push_back(s->reserved());
            s->recorded(s->reserved());
        }
        appendLogs(session, db, user, logCodes, numbers, LogWord::CheckIn);
        return;
    }
    const QHash<QString, qint64> numbers = appendLogs(session, db, user, logCodes, LogWord::CheckIn);
    for (CheckInSteps* s : steps) {
        const qint64 number = numbers.value(s->code());
        if (number <= 0)
            throw Error(QStringLiteral("图纸<%1>的日志记录没有返回序号").arg(s->code()));
        s->recorded(number);
    }
}
} // namespace

// A batch check-in runs in groups. For each group, in this order:
//  1. plan every file on this thread from the group's rows, read in a few statements: the refusals
//     that need no upload, and the rights it takes; then reserve a log row number for each planned
//     file, in file order;
//  2. upload every planned file straight under its staged name "<stored name>.new-<reserved number>",
//     over several connections at once;
//  3. one transaction: lock the group's codes and stored names, read their rows again, and for each
//     file in file order check again, then write the rows, the ends of the holds and the log rows
//     with the reserved numbers;
//  4. commit;
//  5. move each staged file over its stored name and remove the previous version's file.
// The groups overlap: while group k goes through 3 to 5, group k+1 is planned and its files upload,
// and group k's moves run on while group k+1's files upload. Group k's codes stay locked from before
// its transaction until its moves are done (HeldCodeLocks), and are let go before group k+1 locks its
// own: another client's check-in of one of those codes can commit only once our file is in place, so
// our move can never put an older version over its newer one. A group never shares a code or a stored
// name with the group before it, so its plan cannot depend on rows that group is writing; its moves
// start only once the moves of the group before are done, so they never overtake them.
// What a crash leaves is what the single check-in leaves, file by file: before a group's commit none
// of its log rows exists, so no committed row names a number its uploads carry, and every drawing
// keeps its old row and old file; after the commit every row of the group is in and its file lies
// staged under the number of its own committed log row, which Recover() moves into place. No stored
// file is touched before the commit. A code's last check-in must keep the highest number, or recovery
// would look for another file: when a check-in of one of the group's codes came in since the numbers
// were reserved, the group's log rows take new numbers and each upload is renamed after its new
// number before the commit, as the single check-in does. The group only shares the commit, so its
// sync is paid once, not per file.
// A file that fails ends the batch: the files before it in the group are committed, its own rows and
// every later file's are not, and their uploads are removed, as are those of the next group, already
// on their way. Two files of one code, or of one stored name, never share a group, so their moves
// cannot overtake each other.
BatchResult BatchLibrary::CheckIn(const QStringList& files, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(files.size());
    UserContext& ctx = m_session.ctx;
    const QString who = identity(ctx);
    Database& db = m_session.db();
    const int perGroup = filesPerGroup(db);
    const int n = static_cast<int>(files.size());
    QStringList codes;
    for (const QString& f : files)
        codes << DrawingCodeFromPath(f);
    const QDate today = m_session.clock().today();

    struct File {
        int index = 0;
        QString name;                 // the stored name it takes
        std::optional<Outcome> early; // refused or failed before any transfer
        std::unique_ptr<CheckInSteps> steps;
        int upload = -1; // its task among the uploads
        bool uploaded = false;
        bool staged = false;
        bool committed = false;
    };
    struct Group {
        std::vector<File> files;
        QSet<QString> names; // its codes and stored names
        bool planFailed = false;
        WorkPtr uploads;
        std::unique_ptr<ReservedNumbers> reservation; // its log numbers, until the group has ended
    };
    std::optional<Group> current, ahead, moved; // outlive the lanes, whose tasks point into them
    WorkPtr moving;                             // the moves of the group committed last
    std::unique_ptr<HeldCodeLocks> movingLocks; // its codes, locked until those moves are done
    Lanes lanes(m_clients, laneCount(m_session, n), m_session.ftpOptions);
    int i = 0;

    // 1. The next group from file i on, none of whose codes or names is in `busy`.
    auto plan = [&](const QSet<QString>& busy) {
        Group g;
        QStringList someCodes, someNames;
        QSet<QString> seen;
        for (int at = i; at < n && at - i < perGroup; ++at) {
            const QString name = StoredFileName(today, codes[at]);
            if (seen.contains(codes[at]) || seen.contains(name) || busy.contains(codes[at]) || busy.contains(name))
                break;
            seen << codes[at] << name;
            someCodes << codes[at];
            someNames << name;
        }
        if (someCodes.isEmpty())
            return g;
        QHash<QString, StoredDrawing> rowsOf;
        QHash<QString, Holder> holds;
        QHash<QString, QStringList> named;
        QHash<QString, qint64> numbers;
        const Outcome read = Guarded([&] {
            rowsOf = readDrawings(db, someCodes);
            holds = readHolders(db, someCodes);
            named = codesOfFiles(db, ctx.VolumeName, someNames);
            QStringList stored;
            for (const QString& c : someCodes)
                if (rowsOf.value(c).volumeKnown)
                    stored << c;
            if (!stored.isEmpty())
                numbers = lastCheckIns(db, stored);
            return Outcome::success();
        });
        qint64 bytes = 0;
        for (int k = 0; k < int(someCodes.size()); ++k) {
            if (!g.files.empty() && bytes >= groupBytes)
                break;
            const QString& code = someCodes[k];
            File f;
            f.index = i;
            f.name = someNames[k];
            if (!read.done()) {
                f.early = read;
            } else if (const StoredDrawing& d = rowsOf[code]; d.exists && !Acl::Grants(d.write, ctx)) {
                f.early = Outcome::refusal(LibraryText::NoWriteRight);
            } else {
                // Stored drawings keep their lists; new ones take what the user composed, if anything.
                if (d.exists) {
                    Acl::SetPending(ctx, d.read, d.write, d.del, d.change);
                } else {
                    const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
                    Acl::SetPending(ctx, list, list, list, list);
                    if (m_composed.size() == 4)
                        Acl::SetPending(ctx, m_composed[0], m_composed[1], m_composed[2], m_composed[3]);
                }
                if (std::optional<Outcome> no = CheckInSteps::refuseFirst(ctx, code, files[i])) {
                    f.early = no;
                } else {
                    f.steps = std::make_unique<CheckInSteps>(m_single, ctx, code, files[i]);
                    QString other;
                    for (const QString& c : named.value(f.name))
                        if (c != code) {
                            other = c;
                            break;
                        }
                    if (std::optional<Outcome> no = f.steps->plan(holds.value(code), d, other, numbers.value(code))) {
                        f.early = no;
                        f.steps.reset();
                    } else {
                        bytes += f.steps->fileSize();
                    }
                }
            }
            g.names << code << f.name;
            g.planFailed = f.early && f.early->failed();
            g.files.push_back(std::move(f));
            ++i;
            if (g.planFailed)
                break;
        }
        // Numbers for the log rows of its files, in file order, so that each uploads straight under
        // its staged name. Without them the uploads take private names and are renamed once recorded.
        std::vector<CheckInSteps*> toUpload;
        for (File& f : g.files)
            if (f.steps)
                toUpload.push_back(f.steps.get());
        std::vector<qint64> reserved;
        if (Guarded([&] {
                reserved = reserveLogNumbers(db, int(toUpload.size()));
                g.reservation = std::make_unique<ReservedNumbers>(db, reserved);
                return Outcome::success();
            }).done())
            for (size_t k = 0; k < toUpload.size(); ++k)
                toUpload[k]->reserve(reserved[k]);
        // 2. Its uploads start at once.
        std::vector<Task> tasks;
        for (File& f : g.files)
            if (f.steps) {
                f.upload = int(tasks.size());
                tasks.push_back(
                    [s = f.steps.get()](FtpClient& c, const TransferProgress& p) { return s->upload(c, p); });
            }
        g.uploads = lanes.submit(std::move(tasks));
        return g;
    };
    // A group that will not be recorded: its uploads stopped and removed.
    auto drop = [&](std::optional<Group>& g) {
        if (!g)
            return;
        lanes.cancel(g->uploads);
        lanes.wait(m_run, g->uploads);
        std::vector<Task> tasks;
        for (File& f : g->files)
            if (f.upload >= 0 && g->uploads->ran[size_t(f.upload)] && g->uploads->results[size_t(f.upload)])
                tasks.push_back([s = f.steps.get()](FtpClient& c, const TransferProgress&) { return s->discard(c); });
        lanes.wait(m_run, lanes.submit(std::move(tasks), true, false));
        g.reset();
    };

    // The moves of a committed group go on while the next group is recorded; they are waited for
    // before the next group's moves start, so that those never overtake them, and before the batch ends.
    // A committed file found neither staged nor in place is lost; the batch must not count on.
    std::vector<int> movingFiles; // each move's file, -1 for the removal of a side file
    std::optional<Settled> lost;
    auto settleMoves = [&] {
        lanes.wait(m_run, moving);
        for (size_t k = 0; moving && k < movingFiles.size() && !lost; ++k)
            if (movingFiles[k] >= 0 && moving->ran[k] && !moving->results[k] &&
                moving->results[k].failure == TransferFailure::RemoteMissing)
                lost = Settled{movingFiles[k], Outcome::failure(moving->results[k].message)};
        moving.reset();
        movingFiles.clear();
        moved.reset();
        movingLocks.reset();
        return !lost;
    };
    auto lostFile = [&] {
        drop(ahead);
        drop(current);
        return stoppedOrFailed(r, QStringLiteral("图纸文件入库"), files[lost->index], lost->outcome,
                               QStringLiteral("入库图纸"));
    };
    while (i < n || current) {
        if (!current) {
            if (identity(ctx) != who) {
                settleMoves();
                return accountChanged(r, QStringLiteral("入库图纸"));
            }
            Timed timed(onPhase, "plan");
            current = plan({});
        } else if (identity(ctx) != who) {
            // Planned while the group before was recorded; a new login since must not carry it over.
            drop(current);
            settleMoves();
            return accountChanged(r, QStringLiteral("入库图纸"));
        }
        Group& group = *current;
        if (i < n && !group.planFailed && identity(ctx) == who) {
            Timed timed(onPhase, "plan");
            Group next = plan(group.names);
            if (!next.files.empty())
                ahead = std::move(next);
        }
        {
            Timed timed(onPhase, "transfers");
            lanes.wait(m_run, group.uploads);
        }
        for (File& f : group.files)
            f.uploaded = f.upload >= 0 && group.uploads->ok(f.upload);

        // 3. and 4. The rows of the whole group go in with a few statements. Should one of them fail,
        // the group goes again file by file, each behind a savepoint, so that the file named is the
        // one that fails. Should a rename fail after rows written together, the group goes again
        // without that file and those after it; the uploads already renamed are renamed once more
        // after the numbers the new log rows take.
        std::vector<Settled> settled;
        std::optional<Settled> failure;
        std::optional<Settled> cut; // the file whose rename failed, with those after it left out
        int limit = int(group.files.size());
        bool together = true;
        // The group's codes stay locked from before its transaction until its moves are done; the
        // group before lets go of its own first, so no client holds one group's codes while it waits
        // for another's.
        std::unique_ptr<HeldCodeLocks> held;
        {
            Timed timed(onPhase, "moves");
            if (!settleMoves())
                return lostFile();
        }
        for (;;) {
            settled.clear();
            failure.reset();
            for (File& f : group.files)
                f.staged = f.committed = false;
            bool commitAsked = false;
            bool again = false;
            try {
                // 3. The rows, in file order, of the files up to the first that cannot go on.
                QStringList lockCodes, lockNames;
                for (int g = 0; g < limit; ++g) {
                    const File& f = group.files[size_t(g)];
                    if (f.early ? f.early->failed() : !f.uploaded)
                        break;
                    if (f.steps) {
                        lockCodes << f.steps->code();
                        lockNames << f.name;
                    }
                }
                std::optional<Timed> rowsTimed;
                rowsTimed.emplace(onPhase, "rows");
                held.reset();
                held = std::make_unique<HeldCodeLocks>(db, lockCodes, ctx.VolumeName, lockNames);
                Transaction tx(db, Transaction::Kind::Write);
                lockAll(db, lockCodes, ctx.VolumeName, lockNames);
                const QHash<QString, StoredDrawing> rowsOf = readDrawings(db, lockCodes);
                const QHash<QString, Holder> holds = readHolders(db, lockCodes);
                const QHash<QString, QStringList> named = codesOfFiles(db, ctx.VolumeName, lockNames);
                QSet<QString> written;
                std::vector<int> recorded;
                std::vector<size_t> settledBefore;
                for (int g = 0; g < limit && !failure; ++g) {
                    File& f = group.files[size_t(g)];
                    if (f.early) {
                        if (f.early->failed())
                            failure = Settled{f.index, *f.early};
                        else
                            settled.push_back({f.index, *f.early});
                        continue;
                    }
                    if (!f.uploaded) {
                        failure = Settled{f.index, Outcome::failure(group.uploads->results[size_t(f.upload)].message)};
                        break;
                    }
                    const QString& code = f.steps->code();
                    // A name read as another code's may have been freed by a file before this one.
                    QString other;
                    bool askAgain = false;
                    for (const QString& c : named.value(f.name))
                        if (c != code) {
                            if (!written.contains(c)) {
                                other = c;
                                break;
                            }
                            askAgain = true;
                        }
                    if (together) {
                        // Nothing is written yet; a code recorded before this file takes a name of its
                        // own, so it no longer holds this one.
                        if (std::optional<Outcome> no = f.steps->refuse(holds.value(code), rowsOf.value(code), other)) {
                            settled.push_back({f.index, *no});
                            continue;
                        }
                    } else {
                        markFile(db, g);
                        try {
                            if (other.isEmpty() && askAgain)
                                other = otherCodeOfFile(db, code, ctx.VolumeName, f.name);
                            if (std::optional<Outcome> no =
                                    f.steps->lockAndRecord(holds.value(code), rowsOf.value(code), other)) {
                                undoFrom(db, g);
                                settled.push_back({f.index, *no});
                                continue;
                            }
                        } catch (const DuplicateKeyError&) {
                            undoFrom(db, g);
                            failure = Settled{
                                f.index,
                                Outcome::failure(
                                    QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code))};
                            break;
                        } catch (const std::exception& e) {
                            undoFrom(db, g);
                            failure = Settled{f.index, Outcome::failure(QString::fromUtf8(e.what()))};
                            break;
                        }
                    }
                    written << code;
                    recorded.push_back(g);
                    settledBefore.push_back(settled.size());
                    settled.push_back({f.index, Outcome::success(LibraryText::CheckedIn)});
                }
                if (!failure && cut)
                    failure = cut;
                if (together && !recorded.empty()) {
                    // The reserved numbers serve only while no check-in of the same codes came in
                    // since they were taken: the last check-in must keep the highest number.
                    std::vector<CheckInSteps*> steps;
                    QStringList recordedCodes;
                    bool reserved = true;
                    for (int g : recorded) {
                        steps.push_back(group.files[size_t(g)].steps.get());
                        recordedCodes << steps.back()->code();
                        reserved = reserved && steps.back()->reserved() > 0;
                    }
                    if (reserved) {
                        const QHash<QString, qint64> last = lastCheckIns(db, recordedCodes);
                        for (CheckInSteps* st : steps)
                            reserved = reserved && last.value(st->code()) < st->reserved();
                    }
                    recordTogether(m_session, db, steps, reserved);
                }

                // 4. Staged under the log rows' numbers, then the commit.
                // Uploads under their reserved numbers are staged already.
                std::vector<Task> stages;
                std::vector<int> stageOf(recorded.size(), -1);
                for (size_t k = 0; k < recorded.size(); ++k) {
                    CheckInSteps* st = group.files[size_t(recorded[k])].steps.get();
                    if (!st->needsStage())
                        continue;
                    stageOf[k] = int(stages.size());
                    stages.push_back([st](FtpClient& c, const TransferProgress&) { return st->stage(c); });
                }
                rowsTimed.reset();
                const WorkPtr staged = lanes.submit(std::move(stages), true);
                {
                    Timed timed(onPhase, "renames");
                    lanes.wait(m_run, staged);
                }
                rowsTimed.emplace(onPhase, "rows");
                int keep = int(recorded.size());
                for (int k = 0; k < int(recorded.size()); ++k) {
                    File& f = group.files[size_t(recorded[size_t(k)])];
                    f.staged = stageOf[size_t(k)] < 0 || staged->ok(stageOf[size_t(k)]);
                    if (!f.staged && keep == int(recorded.size()))
                        keep = k;
                }
                if (keep < int(recorded.size())) {
                    const int g = recorded[size_t(keep)];
                    const Settled failed{group.files[size_t(g)].index,
                                         Outcome::failure(staged->results[size_t(stageOf[size_t(keep)])].message)};
                    if (together) {
                        cut = failed;
                        limit = g;
                        again = true;
                    } else {
                        undoFrom(db, g);
                        failure = failed;
                        settled.resize(settledBefore[size_t(keep)]);
                        recorded.resize(size_t(keep));
                    }
                }
                if (!again) {
                    commitAsked = true;
                    tx.commit();
                    for (int g : recorded)
                        group.files[size_t(g)].committed = true;
                }
            } catch (const std::exception& e) {
                if (together && !commitAsked) {
                    together = false;
                    continue;
                }
                // The transaction is gone: nothing of this group counts.
                settled.clear();
                failure = Settled{group.files.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
                for (File& f : group.files)
                    f.committed = false;
                // Once the commit was asked for, its answer may be lost with the rows in: the staged
                // files then belong to them, and Recover() decides by the log rows.
                if (commitAsked)
                    for (File& f : group.files)
                        if (f.staged)
                            f.uploaded = false;
            }
            if (!again)
                break;
        }

        // 5. Into place; side files of what did not get in removed. A failure here loses nothing:
        // recovery finishes the move later, and a side file left over is named by no row.
        std::vector<Task> moves;
        for (File& f : group.files) {
            CheckInSteps* s = f.steps.get();
            if (f.committed) {
                const bool removeOld =
                    Guarded([&] { return s->oldFileToGo() ? Outcome::success() : Outcome::refusal({}); }).done();
                moves.push_back(
                    [s, removeOld](FtpClient& c, const TransferProgress&) { return s->finish(c, removeOld); });
                movingFiles.push_back(f.index);
            } else if (f.uploaded) {
                moves.push_back([s](FtpClient& c, const TransferProgress&) { return s->discard(c); });
                movingFiles.push_back(-1);
            }
        }
        moving = lanes.submit(std::move(moves), true, false);
        movingLocks = std::move(held);

        const bool goOn = count(r, settled, codes, step);
        const bool more = group.files.back().index + 1 < n;
        if (failure) {
            drop(ahead);
            settleMoves();
            return stoppedOrFailed(r, QStringLiteral("图纸文件入库"), files[failure->index], failure->outcome,
                                   QStringLiteral("入库图纸"));
        }
        if (!goOn && more) {
            drop(ahead);
            settleMoves();
            r.stopped = true;
            r.message = stoppedText(r.progress, true);
            return r;
        }
        moved = std::move(current);
        current = std::move(ahead);
        ahead.reset();
    }
    if (!settleMoves())
        return lostFile();
    r.message = BatchText::CheckInSummary(r.progress);
    return r;
}

// A batch check-out runs in groups like the check-in: the files come down over several connections
// at once, each beside its target under a hidden side name; then, in one transaction and in file
// order, each file's copy is moved over its target and its hold and log row are written; then the
// commit. As with the single check-out, the copy is in place before the rows that record it. While
// one group is recorded the next one's files come down.
// The rows and the numbers of their last check-ins are read once for the whole batch, and then one
// listing of the names in each volume's folder shows which drawings a check-in cut off after its
// commit left staged: only those are finished first, as the single check-out does. The listing
// comes after the numbers were read, and a check-in stages its file before it commits, so a staged
// file the listing does not show was already in place. A drawing checked in again since the batch
// read it ends the group there; it is read again, finished if need be, and fetched again with the
// next group.
BatchResult BatchLibrary::CheckOut(const QStringList& codes, const QString& folder, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(codes.size());
    const UserContext ctx = m_session.ctx;
    const QString who = identity(m_session.ctx);
    Database& db = m_session.db();
    const int perGroup = filesPerGroup(db);
    const int n = static_cast<int>(codes.size());

    struct File {
        int index = 0;
        std::optional<Outcome> early;
        QString target, side, url, remote;
        StoredDrawing drawing;
        qint64 version = 0;
        bool probe = false;   // whether a cut-off check-in may have left its file staged
        bool missing = false; // refused: no drawing of the code in the library
        int fetch = -1;
        bool fetched = false;
        bool placed = false;
    };
    struct Group {
        std::vector<File> files;
        bool planFailed = false;
        WorkPtr downloads;
    };
    // The group being recorded and those planned after it, whose files are already coming down: two, so
    // that the connections stay busy while a slow group's rows are written. They outlive the lanes,
    // whose tasks point into them.
    std::optional<Group> current;
    std::deque<Group> ahead;
    constexpr size_t kGroupsAhead = 2;
    Lanes lanes(m_clients, laneCount(m_session, n), m_session.ftpOptions);

    // The batch's reading of every code, taken again for a code found changed.
    QHash<QString, StoredDrawing> rowsOf;
    QHash<QString, qint64> numbers;
    QSet<QString> staged;          // "<volume>/<name>" of each staged file the listings show
    QSet<QString> unlisted;        // volumes whose folder could not be listed: every file is probed
    std::optional<Outcome> unread; // the batch's reading failed
    {
        Timed timed(onPhase, "start");
        QStringList all;
        QSet<QString> seen;
        for (const QString& c : codes)
            if (!c.isEmpty() && !seen.contains(c)) {
                seen << c;
                all << c;
            }
        const Outcome read = Guarded([&] {
            rowsOf = readDrawings(db, all);
            QStringList stored;
            for (const QString& c : all)
                if (rowsOf.value(c).volumeKnown)
                    stored << c;
            numbers = lastCheckIns(db, stored);
            return Outcome::success();
        });
        if (!read.done())
            unread = read;
        // One listing per volume with drawings that were ever checked in. A volume holds far more
        // files than a small batch fetches from it: for a few drawings, probing each costs less.
        struct Folder {
            QString volume, url, path;
            QStringList names;
        };
        std::vector<Folder> folders;
        QHash<QString, int> onVolume;
        for (auto it = rowsOf.cbegin(); it != rowsOf.cend(); ++it)
            if (it.value().volumeKnown && numbers.value(it.key()) > 0)
                ++onVolume[it.value().volume];
        for (auto it = rowsOf.cbegin(); it != rowsOf.cend(); ++it) {
            const StoredDrawing& d = it.value();
            if (!d.volumeKnown || numbers.value(it.key()) <= 0 || unlisted.contains(d.volume) ||
                std::any_of(folders.begin(), folders.end(), [&](const Folder& f) { return f.volume == d.volume; }))
                continue;
            if (onVolume.value(d.volume) < kListFrom) {
                unlisted << d.volume;
                continue;
            }
            const QString remote = d.remotePath();
            folders.push_back({d.volume,
                               VolumeUrl(ctx.AdminPassword, d.server),
                               remote.left(remote.lastIndexOf(QLatin1Char('/'))),
                               {}});
        }
        std::vector<Task> listings;
        for (Folder& f : folders)
            listings.push_back(
                [&f](FtpClient& c, const TransferProgress&) { return c.ListNames(f.url, f.path, f.names); });
        const WorkPtr listed = lanes.submit(std::move(listings), false, false);
        lanes.wait(m_run, listed);
        for (int k = 0; k < int(folders.size()); ++k) {
            if (!listed->ok(k)) {
                unlisted << folders[size_t(k)].volume;
                continue;
            }
            for (const QString& name : folders[size_t(k)].names)
                if (name.contains(QStringLiteral(".new-")))
                    staged << folders[size_t(k)].volume + QLatin1Char('/') + name;
        }
    }
    QSet<int> again; // files to read and probe on their own

    int i = 0;
    int againAt = -1, tries = 0;
    auto plan = [&]() {
        Group g;
        QSet<QString> names;
        while (i < n && int(g.files.size()) < perGroup && !g.planFailed) {
            const QString& code = codes[i];
            // A code that cannot name a file in the folder is refused like one the user may not read.
            const std::optional<QString> target = BatchTargetFile(folder, code);
            if (names.contains(code) || (target && names.contains(*target)))
                break;
            names << code;
            File f;
            f.index = i;
            if (!target) {
                f.early = Outcome::refusal(code);
            } else {
                names << *target;
                f.target = *target;
                const Outcome planned = Guarded([&] {
                    if (code.isEmpty())
                        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
                    if (unread)
                        return *unread;
                    const bool alone = again.contains(i);
                    f.drawing = alone ? readDrawing(db, code) : rowsOf.value(code);
                    if (!f.drawing.exists || !f.drawing.volumeKnown) {
                        f.missing = true;
                        return Outcome::refusal(LibraryText::NotInLibrary);
                    }
                    if (!Acl::Grants(f.drawing.read, ctx))
                        return Outcome::refusal(LibraryText::NoRight);
                    f.version = alone ? lastCheckIn(db, code) : numbers.value(code);
                    f.probe = f.version > 0 && (alone || unlisted.contains(f.drawing.volume) ||
                                                staged.contains(f.drawing.volume + QLatin1Char('/') +
                                                                StagedName(f.drawing.fileName, f.version)));
                    return Outcome::success();
                });
                if (!planned.done()) {
                    f.early = planned;
                } else {
                    const QFileInfo where(f.target);
                    f.side = where.absolutePath() + QStringLiteral("/.") + where.fileName() + QStringLiteral(".part-") +
                             QString::number(QRandomGenerator::global()->generate64(), 36);
                    f.url = VolumeUrl(ctx.AdminPassword, f.drawing.server);
                    f.remote = f.drawing.remotePath();
                }
            }
            g.planFailed = f.early && f.early->failed();
            g.files.push_back(std::move(f));
            ++i;
        }
        std::vector<Task> tasks;
        for (File& f : g.files)
            if (!f.early) {
                f.fetch = int(tasks.size());
                tasks.push_back([&f, one = g.files.size() == 1](FtpClient& c, const TransferProgress& p) {
                    // A check-in cut off after its commit is finished first, as the single check-out does.
                    if (f.probe) {
                        const TransferResult recovered = promoteOn(c, f.url, f.remote, f.version);
                        if (!recovered)
                            return recovered;
                    }
                    // One file of many: its size costs a round trip and no bar shows it.
                    return c.GetPrivate(f.url, f.remote, f.side, p, one);
                });
            }
        g.downloads = lanes.submit(std::move(tasks));
        return g;
    };
    // A group that will not be recorded: its downloads stopped and their copies removed.
    auto drop = [&](std::optional<Group>& g) {
        if (!g)
            return;
        lanes.cancel(g->downloads);
        lanes.wait(m_run, g->downloads);
        for (const File& f : g->files)
            if (f.fetch >= 0 && g->downloads->ok(f.fetch))
                QFile::remove(f.side);
        g.reset();
    };
    auto dropAhead = [&] {
        for (Group& g : ahead)
            lanes.cancel(g.downloads);
        while (!ahead.empty()) {
            std::optional<Group> last(std::move(ahead.back()));
            ahead.pop_back();
            drop(last);
        }
    };

    while (i < n || current) {
        if (!current) {
            if (identity(m_session.ctx) != who)
                return accountChanged(r, QStringLiteral("出库图纸"));
            Timed timed(onPhase, "plan");
            current = plan();
        } else if (identity(m_session.ctx) != who) {
            dropAhead();
            drop(current);
            return accountChanged(r, QStringLiteral("出库图纸"));
        }
        Group& group = *current;
        {
            Timed timed(onPhase, "plan");
            while (i < n && ahead.size() < kGroupsAhead && !(ahead.empty() ? group : ahead.back()).planFailed)
                ahead.push_back(plan());
        }
        {
            Timed timed(onPhase, "transfers");
            lanes.wait(m_run, group.downloads);
        }
        for (File& f : group.files)
            f.fetched = f.fetch >= 0 && group.downloads->ok(f.fetch);

        std::vector<Settled> settled;
        std::optional<Settled> failure;
        int refetchFrom = -1;
        // The rows go in with a few statements for the whole group; should one of them fail, the group
        // goes again file by file, so that the file named is the one that fails.
        Timed rowsTimed(onPhase, "rows");
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool together = attempt == 0;
            settled.clear();
            failure.reset();
            refetchFrom = -1;
            bool commitAsked = false;
            try {
                QStringList lockCodes;
                for (const File& f : group.files) {
                    if (f.early ? f.early->failed() : !f.fetched) {
                        // A file gone from the server may have been replaced since the batch read its row.
                        if (!f.early && missing(group.downloads->results[size_t(f.fetch)]))
                            lockCodes << codes[f.index];
                        break;
                    }
                    if (!f.early)
                        lockCodes << codes[f.index];
                }
                Transaction tx(db, Transaction::Kind::Write);
                lockAll(db, lockCodes, {}, {});
                const QHash<QString, StoredDrawing> nowOf = readDrawings(db, lockCodes);
                const QHash<QString, Holder> holds = readHolders(db, lockCodes);
                QStringList stored;
                for (const QString& c : lockCodes)
                    if (nowOf.contains(c))
                        stored << c;
                const QHash<QString, qint64> nowNumbers = lastCheckIns(db, stored);
                QStringList holdCodes, logCodes;
                for (int g = 0; g < int(group.files.size()) && !failure; ++g) {
                    File& f = group.files[size_t(g)];
                    const QString& code = codes[f.index];
                    if (f.early) {
                        if (f.early->failed())
                            failure = Settled{f.index, *f.early};
                        else
                            settled.push_back({f.index, *f.early, f.missing});
                        continue;
                    }
                    const StoredDrawing now = nowOf.value(code);
                    if (!f.fetched) {
                        const TransferResult& got = group.downloads->results[size_t(f.fetch)];
                        // Another client checked the drawing in again, or deleted it, after this batch
                        // read its row and before the download: read again and fetch with the next group.
                        if (missing(got) &&
                            (!now.exists || !now.sameFile(f.drawing) || nowNumbers.value(code) != f.version)) {
                            refetchFrom = f.index;
                            break;
                        }
                        failure = Settled{f.index, Outcome::failure(got.message)};
                        break;
                    }
                    if (!now.exists) {
                        settled.push_back({f.index, Outcome::refusal(LibraryText::NotInLibrary), true});
                        continue;
                    }
                    if (!now.sameFile(f.drawing) || nowNumbers.value(code) != f.version) {
                        refetchFrom = f.index; // the copy is not the drawing the row now describes
                        break;
                    }
                    if (!Acl::Grants(now.read, ctx)) {
                        settled.push_back({f.index, Outcome::refusal(LibraryText::NoRight)});
                        continue;
                    }
                    // The copy goes in place before the rows that record it are committed; file by
                    // file, before they are written.
                    if (!together && !f.placed) {
                        if (!ReplaceFile(f.side, f.target)) {
                            failure =
                                Settled{f.index, Outcome::failure(QStringLiteral("写入本地文件%1失败").arg(f.target))};
                            break;
                        }
                        f.placed = true;
                    }
                    const Holder h = holds.value(code);
                    bool takesHold = false;
                    Outcome done;
                    if (!Acl::Grants(now.write, ctx)) {
                        // Only a user who may write the drawing back takes the hold.
                        done = Outcome::success(h.exists ? LibraryText::AlreadyOut(code, h.account, h.when)
                                                         : LibraryText::CheckedOutForViewing);
                    } else if (now.state != kOut) {
                        takesHold = true;
                        done = Outcome::success(LibraryText::CheckedOut);
                    } else if (h.exists) {
                        done = Outcome::success(LibraryText::AlreadyOut(code, h.account, h.when));
                    } else {
                        failure = Settled{
                            f.index, Outcome::failure(QStringLiteral("图纸<%1>标记为出库，但没有出库记录").arg(code))};
                        break;
                    }
                    if (together) {
                        if (takesHold)
                            holdCodes << code;
                        logCodes << code;
                    } else {
                        markFile(db, g);
                        try {
                            if (takesHold) {
                                db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号=?"), {code});
                                db.exec(QStringLiteral(
                                            "insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
                                        {code, ctx.UserId, LibraryDate(m_session.clock().today())});
                            }
                            appendLog(m_session, db, ctx.UserId, code, LogWord::CheckOut);
                        } catch (const std::exception& e) {
                            undoFrom(db, g);
                            failure = Settled{f.index, Outcome::failure(QString::fromUtf8(e.what()))};
                            break;
                        }
                    }
                    // The user gets a copy of a drawing someone else is working on: the summary says whose.
                    const bool other = h.exists && !takesHold && h.account != ctx.UserId;
                    settled.push_back({f.index, done, false, other ? h.account : QString()});
                }
                if (!holdCodes.isEmpty()) {
                    QVariantList values;
                    QList<QVariantList> rows;
                    const QString today = LibraryDate(m_session.clock().today());
                    for (const QString& c : holdCodes) {
                        values << c;
                        rows << QVariantList{c, ctx.UserId, today};
                    }
                    db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号 in (%1)")
                                .arg(QStringLiteral("?,").repeated(holdCodes.size()).chopped(1)),
                            values);
                    insertRows(db, QStringLiteral("PDM出库图纸信息"),
                               {QStringLiteral("代号"), QStringLiteral("出库帐号"), QStringLiteral("出库时间")}, rows);
                }
                if (!logCodes.isEmpty())
                    appendLogs(m_session, db, ctx.UserId, logCodes, LogWord::CheckOut);
                if (together) {
                    // The copies of the files recorded, in file order; should one not go in place, the
                    // group goes again file by file, and that file ends it with the files before it in.
                    for (File& f : group.files)
                        if (f.fetched && !f.placed && logCodes.contains(codes[f.index])) {
                            if (!ReplaceFile(f.side, f.target))
                                throw Error(QStringLiteral("写入本地文件%1失败").arg(f.target));
                            f.placed = true;
                        }
                }
                commitAsked = true;
                tx.commit();
                break;
            } catch (const std::exception& e) {
                if (together && !commitAsked)
                    continue;
                settled.clear();
                refetchFrom = -1;
                failure = Settled{group.files.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
                break;
            }
        }
        if (refetchFrom >= 0 && !failure) {
            if (againAt == refetchFrom && ++tries >= 3) {
                failure = Settled{
                    refetchFrom,
                    Outcome::failure(QStringLiteral("图纸<%1>正被他人反复入库，请稍后再出库").arg(codes[refetchFrom]))};
                refetchFrom = -1;
            } else if (againAt != refetchFrom) {
                againAt = refetchFrom;
                tries = 1;
            }
        }
        for (const File& f : group.files)
            if (f.fetched && !f.placed)
                QFile::remove(f.side);

        const bool goOn = count(r, settled, codes, step);
        if (failure) {
            dropAhead();
            return stoppedOrFailed(r, QStringLiteral("图纸出库"), codes[failure->index], failure->outcome,
                                   QStringLiteral("出库图纸"));
        }
        if (refetchFrom >= 0) {
            // Read again and fetched again with the next group, from the changed file on.
            dropAhead();
            again << refetchFrom;
            i = refetchFrom;
        }
        if (!goOn && (refetchFrom >= 0 || group.files.back().index + 1 < n)) {
            dropAhead();
            r.stopped = true;
            r.message = stoppedText(r.progress, false);
            return r;
        }
        current.reset();
        if (!ahead.empty()) {
            current = std::move(ahead.front());
            ahead.pop_front();
        }
    }
    r.message = BatchText::CheckOutSummary(r.progress);
    return r;
}

} // namespace velda
