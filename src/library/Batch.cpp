#include "library/Batch.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/Acl.h"
#include "library/CheckInSteps.h"
#include "library/LibraryRows.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cstdio>
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

// One transfer on the runner's client (the dialog stays live meanwhile) in which the tasks run over
// that client and the batch's own further connections, handed out in order. Once a task fails no
// later one starts; those already running finish. A task never started has ran[k] == 0.
BatchLibrary::Fanned BatchLibrary::fanOut(int count, const Task& task, bool stopOnFailure) {
    Fanned out;
    out.results.resize(size_t(count));
    out.ran.assign(size_t(count), 0);
    if (count == 0)
        return out;
    const int lanes = std::min(std::clamp(m_session.ftpOptions.connectionsPerServer, 1, 16), count);
    while (int(m_lanes.size()) < lanes - 1)
        m_lanes.push_back(std::make_unique<FtpClient>(m_session.ftpOptions));
    const TransferResult whole = m_run([&](FtpClient& own, const TransferProgress& progress) {
        std::atomic<int> next{0};
        std::atomic<int> stopAt{count};
        std::mutex figures;
        std::vector<qint64> done(size_t(count), 0), total(size_t(count), 0);
        auto lane = [&](FtpClient& client) {
            for (;;) {
                const int k = next.fetch_add(1);
                if (k >= count || k >= stopAt.load())
                    return;
                TransferProgress mine;
                if (progress) {
                    mine = [&, k](qint64 d, qint64 t) {
                        std::lock_guard<std::mutex> hold(figures);
                        done[size_t(k)] = d;
                        total[size_t(k)] = std::max<qint64>(t, 0);
                        qint64 sumDone = 0, sumTotal = 0;
                        for (int j = 0; j < count; ++j) {
                            sumDone += done[size_t(j)];
                            sumTotal += total[size_t(j)];
                        }
                        progress(sumDone, sumTotal);
                    };
                }
                TransferResult r;
                try {
                    r = task(k, client, mine);
                } catch (const std::exception& error) {
                    r.failure = TransferFailure::Internal;
                    r.message = QStringLiteral("文件传输出错：%1").arg(QString::fromLocal8Bit(error.what()));
                }
                out.ran[size_t(k)] = 1;
                if (!r.ok && stopOnFailure) {
                    int current = stopAt.load();
                    while (k < current && !stopAt.compare_exchange_weak(current, k)) {
                    }
                }
                out.results[size_t(k)] = std::move(r);
            }
        };
        std::vector<std::thread> others;
        for (int j = 0; j + 1 < lanes; ++j)
            others.emplace_back(lane, std::ref(*m_lanes[size_t(j)]));
        lane(own);
        for (std::thread& t : others)
            t.join();
        TransferResult all;
        all.ok = true;
        return all;
    });
    if (!whole) {
        for (int k = 0; k < count; ++k)
            if (!out.ran[size_t(k)]) {
                out.results[size_t(k)] = whole;
                out.ran[size_t(k)] = 1;
            }
    }
    return out;
}

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
    int index = 0;
    Outcome outcome;
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
            r.progress.rejectedCodes += codes[s.index] + QLatin1Char('&');
        }
        ++r.progress.processed;
        if (step && !step(s.index, r.progress))
            goOn = false;
    }
    return goOn;
}

} // namespace

// A batch check-in runs in groups. For each group, in this order:
//  1. plan every file on this thread: the refusals that need no upload, and the rights it takes;
//  2. upload every planned file under a private side name, over several connections at once;
//  3. one transaction: for each file in file order, lock, check again and write its row, the end of
//     its hold and its log row;
//  4. rename each upload to "<stored name>.new-<its log row's number>", then commit;
//  5. move each staged file over its stored name and remove the previous version's file.
// What a crash leaves is what the single check-in leaves, file by file: before the commit none of
// the group's rows exists, and its side files are named by no committed row, so every drawing keeps
// its old row and old file; after the commit every row of the group is in and its file is staged
// under the number of its own committed log row, which Recover() moves into place. No stored file is
// touched before the commit. The group only shares the commit, so its sync is paid once, not per file.
// A file that fails ends the batch: the files before it in the group are committed, its own rows and
// every later file's are taken back to the savepoint before it, and their uploads removed. Two files
// of one code, or of one stored name, never share a group, so their moves cannot overtake each other.
BatchResult BatchLibrary::CheckIn(const QStringList& files, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(files.size());
    UserContext& ctx = m_session.ctx;
    const QString who = identity(ctx);
    Database& db = m_session.db();
    const int n = static_cast<int>(files.size());
    QStringList codes;
    for (const QString& f : files)
        codes << DrawingCodeFromPath(f);
    int i = 0;
    while (i < n) {
        if (identity(ctx) != who)
            return accountChanged(r, QStringLiteral("入库图纸"));

        // 1. The group and its plans.
        struct File {
            int index = 0;
            std::optional<Outcome> early; // refused or failed before any transfer
            std::unique_ptr<CheckInSteps> steps;
            int upload = -1; // its task among the uploads
            bool uploaded = false;
            bool recorded = false;
            bool staged = false;
            bool committed = false;
        };
        std::vector<File> group;
        QSet<QString> names;
        qint64 bytes = 0;
        bool planFailed = false;
        const QDate today = m_session.clock().today();
        while (i < n && int(group.size()) < std::max(1, groupFiles) && (group.empty() || bytes < groupBytes) &&
               !planFailed) {
            const QString& path = files[i];
            const QString& code = codes[i];
            const QString name = StoredFileName(today, code);
            if (names.contains(code) || names.contains(name))
                break;
            names << code << name;
            File f;
            f.index = i;
            const DrawingLibrary::Choice choice = m_single.PrepareCheckIn(code);
            if (!choice.refusal.done()) {
                f.early = choice.refusal;
            } else {
                // Stored drawings keep their lists; new ones take what the user composed, if anything.
                if (!choice.existing && m_composed.size() == 4)
                    Acl::SetPending(ctx, m_composed[0], m_composed[1], m_composed[2], m_composed[3]);
                if (std::optional<Outcome> no = CheckInSteps::refuseFirst(ctx, code, path)) {
                    f.early = no;
                } else {
                    f.steps = std::make_unique<CheckInSteps>(m_single, ctx, code, path);
                    const Outcome planned = Guarded([&] {
                        std::optional<Outcome> no = f.steps->plan();
                        return no ? *no : Outcome::success();
                    });
                    if (!planned.done()) {
                        f.early = planned;
                        f.steps.reset();
                    } else {
                        bytes += f.steps->fileSize();
                    }
                }
            }
            planFailed = f.early && f.early->failed();
            group.push_back(std::move(f));
            ++i;
        }

        // 2. The uploads.
        std::vector<int> planned;
        for (int g = 0; g < int(group.size()); ++g)
            if (group[size_t(g)].steps) {
                group[size_t(g)].upload = int(planned.size());
                planned.push_back(g);
            }
        const Fanned up = fanOut(int(planned.size()), [&](int k, FtpClient& c, const TransferProgress& p) {
            return group[size_t(planned[size_t(k)])].steps->upload(c, p);
        });
        for (File& f : group)
            f.uploaded = f.upload >= 0 && up.ran[size_t(f.upload)] && up.results[size_t(f.upload)];

        std::vector<Settled> settled;
        std::optional<Settled> failure;
        bool commitAsked = false;
        try {
            // 3. The rows, in file order.
            std::vector<int> recorded;
            std::vector<size_t> settledBefore;
            Transaction tx(db, Transaction::Kind::Write);
            for (int g = 0; g < int(group.size()) && !failure; ++g) {
                File& f = group[size_t(g)];
                if (f.early) {
                    if (f.early->failed())
                        failure = Settled{f.index, *f.early};
                    else
                        settled.push_back({f.index, *f.early});
                    continue;
                }
                if (!f.uploaded) {
                    const TransferResult& put = up.results[size_t(f.upload)];
                    failure = Settled{f.index, Outcome::failure(put.message)};
                    break;
                }
                markFile(db, g);
                try {
                    if (std::optional<Outcome> no = f.steps->lockAndRecord()) {
                        undoFrom(db, g);
                        settled.push_back({f.index, *no});
                        continue;
                    }
                } catch (const DuplicateKeyError&) {
                    undoFrom(db, g);
                    failure = Settled{
                        f.index,
                        Outcome::failure(
                            QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(f.steps->code()))};
                    break;
                } catch (const std::exception& e) {
                    undoFrom(db, g);
                    failure = Settled{f.index, Outcome::failure(QString::fromUtf8(e.what()))};
                    break;
                }
                f.recorded = true;
                recorded.push_back(g);
                settledBefore.push_back(settled.size());
                settled.push_back({f.index, Outcome::success(LibraryText::CheckedIn)});
            }

            // 4. Staged under the log rows' numbers, then the commit.
            const Fanned staged = fanOut(int(recorded.size()), [&](int k, FtpClient& c, const TransferProgress&) {
                return group[size_t(recorded[size_t(k)])].steps->stage(c);
            });
            int keep = int(recorded.size());
            for (int k = 0; k < int(recorded.size()); ++k) {
                File& f = group[size_t(recorded[size_t(k)])];
                f.staged = staged.ran[size_t(k)] && staged.results[size_t(k)];
                if (!f.staged && keep == int(recorded.size()))
                    keep = k;
            }
            if (keep < int(recorded.size())) {
                const int g = recorded[size_t(keep)];
                undoFrom(db, g);
                failure = Settled{group[size_t(g)].index, Outcome::failure(staged.results[size_t(keep)].message)};
                settled.resize(settledBefore[size_t(keep)]);
                recorded.resize(size_t(keep));
            }
            commitAsked = true;
            tx.commit();
            for (int g : recorded)
                group[size_t(g)].committed = true;
        } catch (const std::exception& e) {
            // The transaction is gone: nothing of this group counts.
            settled.clear();
            failure = Settled{group.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
            for (File& f : group)
                f.committed = false;
            // Once the commit was asked for, its answer may be lost with the rows in: the staged
            // files then belong to them, and Recover() decides by the log rows.
            if (commitAsked)
                for (File& f : group)
                    if (f.staged)
                        f.uploaded = false;
        }

        // 5. Into place; side files of what did not get in removed.
        std::vector<int> toFinish, toDiscard;
        std::vector<char> removeOld;
        for (int g = 0; g < int(group.size()); ++g) {
            File& f = group[size_t(g)];
            if (f.committed) {
                toFinish.push_back(g);
                removeOld.push_back(
                    Guarded([&] { return f.steps->oldFileToGo() ? Outcome::success() : Outcome::refusal({}); }).done());
            } else if (f.uploaded) {
                toDiscard.push_back(g);
            }
        }
        // A failure here loses nothing: recovery finishes the move later, and a side file left over
        // is named by no row.
        fanOut(
            int(toFinish.size()),
            [&](int k, FtpClient& c, const TransferProgress&) {
                return group[size_t(toFinish[size_t(k)])].steps->finish(c, removeOld[size_t(k)]);
            },
            false);
        fanOut(
            int(toDiscard.size()),
            [&](int k, FtpClient& c, const TransferProgress&) {
                const File& f = group[size_t(toDiscard[size_t(k)])];
                return f.steps->discard(c, f.staged);
            },
            false);

        const bool goOn = count(r, settled, codes, step);
        if (failure)
            return stoppedOrFailed(r, QStringLiteral("图纸文件入库"), files[failure->index], failure->outcome,
                                   QStringLiteral("入库图纸"));
        if (!goOn && i < n) {
            r.stopped = true;
            r.message = stoppedText(r.progress, true);
            return r;
        }
    }
    r.message = BatchText::CheckInSummary(r.progress);
    return r;
}

// A batch check-out runs in groups like the check-in: the files come down over several connections
// at once, each beside its target under a hidden side name; then, in one transaction and in file
// order, each file's hold and log row are written and its copy moved over the target; then the commit.
// As with the single check-out, the copy is in place before the rows that record it. A drawing that
// was checked in again since its plan ends the group there and is fetched again with the next one.
BatchResult BatchLibrary::CheckOut(const QStringList& codes, const QString& folder, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(codes.size());
    const UserContext ctx = m_session.ctx;
    const QString who = identity(m_session.ctx);
    Database& db = m_session.db();
    const int n = static_cast<int>(codes.size());
    int i = 0;
    int againAt = -1, again = 0;
    while (i < n) {
        if (identity(m_session.ctx) != who)
            return accountChanged(r, QStringLiteral("出库图纸"));

        struct File {
            int index = 0;
            std::optional<Outcome> early;
            QString target, side, url, remote;
            StoredDrawing drawing;
            qint64 version = 0;
            int fetch = -1;
            bool fetched = false;
            bool placed = false;
        };
        std::vector<File> group;
        QSet<QString> names;
        bool planFailed = false;
        while (i < n && int(group.size()) < std::max(1, groupFiles) && !planFailed) {
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
                    f.drawing = readDrawing(db, code);
                    if (!f.drawing.exists || !f.drawing.volumeKnown)
                        return Outcome::refusal(LibraryText::NotInLibrary);
                    if (!Acl::Grants(f.drawing.read, ctx))
                        return Outcome::refusal(LibraryText::NoRight);
                    f.version = lastCheckIn(db, code);
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
            planFailed = f.early && f.early->failed();
            group.push_back(std::move(f));
            ++i;
        }

        std::vector<int> planned;
        for (int g = 0; g < int(group.size()); ++g)
            if (!group[size_t(g)].early) {
                group[size_t(g)].fetch = int(planned.size());
                planned.push_back(g);
            }
        const Fanned down = fanOut(int(planned.size()), [&](int k, FtpClient& c, const TransferProgress& p) {
            const File& f = group[size_t(planned[size_t(k)])];
            // A check-in cut off after its commit is finished first, as the single check-out does.
            if (f.version > 0) {
                const TransferResult recovered = promoteOn(c, f.url, f.remote, f.version);
                if (!recovered)
                    return recovered;
            }
            // One file of many: its size costs a round trip and no bar shows it.
            return c.Get(f.url, f.remote, f.side, p, planned.size() == 1);
        });
        for (File& f : group)
            f.fetched = f.fetch >= 0 && down.ran[size_t(f.fetch)] && down.results[size_t(f.fetch)];

        std::vector<Settled> settled;
        std::optional<Settled> failure;
        try {
            Transaction tx(db, Transaction::Kind::Write);
            for (int g = 0; g < int(group.size()) && !failure; ++g) {
                File& f = group[size_t(g)];
                const QString& code = codes[f.index];
                if (f.early) {
                    if (f.early->failed())
                        failure = Settled{f.index, *f.early};
                    else
                        settled.push_back({f.index, *f.early});
                    continue;
                }
                if (!f.fetched) {
                    failure = Settled{f.index, Outcome::failure(down.results[size_t(f.fetch)].message)};
                    break;
                }
                markFile(db, g);
                std::optional<Outcome> done;
                bool changed = false;
                try {
                    lockCode(db, code);
                    const StoredDrawing now = readDrawing(db, code);
                    if (!now.exists) {
                        done = Outcome::refusal(LibraryText::NotInLibrary);
                    } else if (!now.sameFile(f.drawing) || lastCheckIn(db, code) != f.version) {
                        changed = true; // the copy is not the drawing the row now describes
                    } else if (!Acl::Grants(now.read, ctx)) {
                        done = Outcome::refusal(LibraryText::NoRight);
                    } else if (!Acl::Grants(now.write, ctx)) {
                        // Only a user who may write the drawing back takes the hold.
                        const Holder h = readHolder(db, code);
                        appendLog(m_session, db, ctx.UserId, code, LogWord::CheckOut);
                        done = Outcome::success(h.exists ? LibraryText::AlreadyOut(code, h.account, h.when)
                                                         : LibraryText::CheckedOutForViewing);
                    } else {
                        QString closing;
                        if (now.state != kOut) {
                            db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号=?"), {code});
                            db.exec(
                                QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
                                {code, ctx.UserId, LibraryDate(m_session.clock().today())});
                            closing = LibraryText::CheckedOut;
                        } else {
                            const Holder h = readHolder(db, code);
                            if (!h.exists)
                                throw Error(QStringLiteral("图纸<%1>标记为出库，但没有出库记录").arg(code));
                            closing = LibraryText::AlreadyOut(code, h.account, h.when);
                        }
                        appendLog(m_session, db, ctx.UserId, code, LogWord::CheckOut);
                        done = Outcome::success(closing);
                    }
                } catch (const std::exception& e) {
                    undoFrom(db, g);
                    failure = Settled{f.index, Outcome::failure(QString::fromUtf8(e.what()))};
                    break;
                }
                if (changed) {
                    undoFrom(db, g);
                    if (againAt == f.index && ++again >= 3) {
                        failure = Settled{
                            f.index,
                            Outcome::failure(QStringLiteral("图纸<%1>正被他人反复入库，请稍后再出库").arg(code))};
                        break;
                    }
                    if (againAt != f.index) {
                        againAt = f.index;
                        again = 1;
                    }
                    i = f.index; // fetched again with the next group
                    break;
                }
                if (done->done()) {
                    if (!ReplaceFile(f.side, f.target)) {
                        undoFrom(db, g);
                        failure =
                            Settled{f.index, Outcome::failure(QStringLiteral("写入本地文件%1失败").arg(f.target))};
                        break;
                    }
                    f.placed = true;
                }
                settled.push_back({f.index, *done});
            }
            tx.commit();
        } catch (const std::exception& e) {
            settled.clear();
            failure = Settled{group.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
        }
        for (const File& f : group)
            if (f.fetched && !f.placed)
                QFile::remove(f.side);

        const bool goOn = count(r, settled, codes, step);
        if (failure)
            return stoppedOrFailed(r, QStringLiteral("图纸出库"), codes[failure->index], failure->outcome,
                                   QStringLiteral("出库图纸"));
        if (!goOn && i < n) {
            r.stopped = true;
            r.message = stoppedText(r.progress, false);
            return r;
        }
    }
    r.message = BatchText::CheckOutSummary(r.progress);
    return r;
}

} // namespace velda
