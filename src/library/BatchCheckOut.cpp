#include "library/Batch.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/BatchGroups.h"
#include "library/CheckOutRules.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"
#include "transfer/TransferPool.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cstdio>

namespace velda {

using namespace batch;
using namespace rows;

namespace {

bool missing(const TransferResult& r) { return r.failure == TransferFailure::RemoteMissing; }

// The fewest drawings of a check-out on one volume for which one listing of the volume's folder
// replaces a probe per drawing.
constexpr int kListFrom = 16;

// Moves a complete copy over the target in one step; the target never holds half a file.
bool ReplaceFile(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A group's rows, read under its locks.
struct CheckOutRows {
    QHash<QString, StoredDrawing> drawings;
    QHash<QString, Holder> holders;
    QHash<QString, qint64> numbers;
};

Outcome NotWritten(const QString& target) { return Outcome::failure(QStringLiteral("写入本地文件%1失败").arg(target)); }

// What every group of one batch check-out shares: the batch's reading of every code, taken again for
// a code found changed.
struct OutBatch {
    OutBatch(Session& s, const TransferRunner& runner, const QStringList& codeList, const QString& into,
             const QStringList& targetFiles, const BatchLibrary& batch,
             std::vector<std::unique_ptr<FtpClient>>& clients, int filesPerGroup)
        : session(s), db(s.db()), ctx(s.ctx), run(runner), codes(codeList), folder(into), targets(targetFiles),
          perGroup(filesPerGroup), onPhase(batch.onPhase), onStep(batch.onStep),
          pool(clients, workerCount(s, int(codeList.size())), s.ftpOptions) {}

    void readAll();
    void listStaged();

    Session& session;
    Database& db;
    const UserContext ctx;
    const TransferRunner& run;
    const QStringList& codes;
    const QString& folder;
    const QStringList& targets; // each code's file, where the caller names it
    const int perGroup;
    const std::function<void(const char*, double)>& onPhase;
    const std::function<void(QStringView)>& onStep;
    TransferPool pool;
    QHash<QString, StoredDrawing> rowsOf;
    QHash<QString, qint64> numbers;
    QSet<QString> staged;          // "<volume>/<name>" of each staged file the listings show
    QSet<QString> unlisted;        // volumes whose folder could not be listed: every file is probed
    std::optional<Outcome> unread; // the batch's reading failed
    QSet<int> again;               // files to read and probe on their own
    int next = 0;                  // the next file to plan
    int againAt = -1, tries = 0;   // the file last read again, and how often

    // Two, so that the connections stay busy while a slow group's rows are written.
    static constexpr size_t kGroupsAhead = 2;
    static inline const Words kWords{QStringLiteral("图纸出库"), QStringLiteral("出库图纸"), false,
                                     BatchText::CheckOutSummary};
    const QString& nameOf(int index) const { return codes[index]; }
};

void OutBatch::readAll() {
    QStringList all;
    QSet<QString> seen;
    for (const QString& c : codes)
        if (!c.isEmpty() && !seen.contains(c)) {
            seen << c;
            all << c;
        }
    const Outcome read = Guarded([&] {
        rowsOf = LibraryStore(db).readDrawings(all);
        QStringList stored;
        for (const QString& c : all)
            if (rowsOf.value(c).volumeKnown)
                stored << c;
        numbers = lastCheckIns(db, stored);
        return Outcome::success();
    });
    if (!read.done())
        unread = read;
    listStaged();
}

// One listing per volume with drawings that were ever checked in. A volume holds far more files than
// a small batch fetches from it: for a few drawings, probing each costs less.
void OutBatch::listStaged() {
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
        folders.push_back(
            {d.volume, VolumeUrl(ctx.AdminPassword, d.server), remote.left(remote.lastIndexOf(QLatin1Char('/'))), {}});
    }
    std::vector<TransferOperation> listings;
    for (Folder& f : folders)
        listings.push_back([&f](FtpClient& c, const TransferProgress&) { return c.ListNames(f.url, f.path, f.names); });
    const TransferWorkPtr listed = pool.submit(std::move(listings), false, false);
    pool.wait(run, listed);
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

// One group of a batch check-out: it plans its files, fetches them beside their targets, and puts
// each copy in place and records it in one transaction.
class CheckOutGroup final {
public:
    explicit CheckOutGroup(OutBatch& batch) : m_b(&batch) {}

    static CheckOutGroup plan(OutBatch& b);
    void waitTransfers();
    Recorded record();
    void cancel() { m_downloads.cancel(m_b->pool); }
    // A group that will not be recorded: its downloads stopped and their copies removed.
    void drop();

    bool planFailed() const { return m_planFailed; }
    int lastIndex() const { return m_files.back().index; }

private:
    struct File {
        int index = 0;
        std::optional<Outcome> early;
        QString target, copy, url, remote;
        StoredDrawing drawing;
        qint64 version = 0;
        bool probe = false;   // whether a cut-off check-in may have left its file staged
        bool cutOff = false;  // the probe found that check-in's file staged
        bool missing = false; // refused: no drawing of the code in the library
        int fetch = -1;
        bool fetched = false;
        bool placed = false;
    };
    Outcome planFile(File& f, const QString& code);
    void startDownloads();
    bool attempt(bool together, bool& commitAsked);
    QStringList codesToLock() const;
    bool recordFile(bool together, int g, const CheckOutRows& rows, QStringList& holdCodes, QStringList& logCodes);
    void placeRecorded(const QStringList& logCodes);
    void writeHolds(const QStringList& holdCodes);
    void recoverCutOff();
    void countTries();

    OutBatch* m_b;
    std::vector<File> m_files;
    bool m_planFailed = false;
    GroupTransfers m_downloads;
    Recorded m_rec; // while it is recorded
    std::optional<Outcome> m_unrecovered; // why a check-in cut off could not be finished
};

CheckOutGroup CheckOutGroup::plan(OutBatch& b) {
    CheckOutGroup g(b);
    QSet<QString> names;
    int& i = b.next;
    while (i < int(b.codes.size()) && int(g.m_files.size()) < b.perGroup && !g.m_planFailed) {
        const QString& code = b.codes[i];
        // A code that cannot name a file in the folder is refused like one the user may not read.
        const std::optional<QString> target =
            i < b.targets.size() ? std::optional<QString>(b.targets[i]) : BatchTargetFile(b.folder, code);
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
            if (const Outcome planned = g.planFile(f, code); !planned.done()) {
                f.early = planned;
            } else {
                const QFileInfo where(f.target);
                f.copy = where.absolutePath() + QStringLiteral("/.") + where.fileName() + QStringLiteral(".part-") +
                         QString::number(QRandomGenerator::global()->generate64(), 36);
                f.url = VolumeUrl(b.ctx.AdminPassword, f.drawing.server);
                f.remote = f.drawing.remotePath();
            }
        }
        g.m_planFailed = f.early && f.early->failed();
        g.m_files.push_back(std::move(f));
        ++i;
    }
    g.startDownloads();
    return g;
}

Outcome CheckOutGroup::planFile(File& f, const QString& code) {
    OutBatch& b = *m_b;
    return Guarded([&] {
        if (code.isEmpty())
            return Outcome::refusal(LibraryText::CodeOrFileEmpty);
        if (b.unread)
            return *b.unread;
        const bool alone = b.again.contains(f.index);
        f.drawing = alone ? LibraryStore(b.db).readDrawing(code) : b.rowsOf.value(code);
        if (!f.drawing.exists || !f.drawing.volumeKnown) {
            f.missing = true;
            return Outcome::refusal(LibraryText::NotInLibrary);
        }
        if (!Acl::Grants(f.drawing.read, b.ctx))
            return Outcome::refusal(LibraryText::NoRight);
        f.version = alone ? lastCheckIn(b.db, code) : b.numbers.value(code);
        f.probe = f.version > 0 &&
                  (alone || b.unlisted.contains(f.drawing.volume) ||
                   b.staged.contains(f.drawing.volume + QLatin1Char('/') + StagedName(f.drawing.fileName, f.version)));
        return Outcome::success();
    });
}

void CheckOutGroup::startDownloads() {
    std::vector<TransferOperation> operations;
    for (File& f : m_files)
        if (!f.early) {
            f.fetch = int(operations.size());
            operations.push_back([&f, one = m_files.size() == 1](FtpClient& c, const TransferProgress& p) {
                // A check-in cut off after its commit is finished first, under its code's lock
                // (recoverCutOff); here it is only looked for.
                if (f.probe) {
                    const TransferResult staged = c.IsFile(f.url, StagedName(f.remote, f.version));
                    if (!staged)
                        return staged;
                    if (staged.kind == RemoteKind::File) {
                        f.cutOff = true;
                        TransferResult waits;
                        waits.failure = TransferFailure::Internal;
                        return waits;
                    }
                }
                // One file of many: its size costs a round trip and no bar shows it.
                return c.GetPrivate(f.url, f.remote, f.copy, p, one);
            });
        }
    m_downloads.start(m_b->pool, std::move(operations));
}

void CheckOutGroup::waitTransfers() {
    m_downloads.wait(m_b->pool, m_b->run);
    for (File& f : m_files)
        f.fetched = m_downloads.ok(f.fetch);
}

void CheckOutGroup::drop() {
    m_downloads.stop(m_b->pool, m_b->run);
    for (const File& f : m_files)
        if (m_downloads.ok(f.fetch))
            QFile::remove(f.copy);
}

// The rows go in with a few statements for the whole group; should one of them fail, the group goes
// again file by file, so that the file named is the one that fails.
Recorded CheckOutGroup::record() {
    if (m_b->onStep)
        m_b->onStep(u"fetched");
    recoverCutOff();
    Timed rowsTimed(m_b->onPhase, "rows");
    RecordTogetherOrEach(
        m_b->db, [&](bool together, bool& commitAsked) { return attempt(together, commitAsked); },
        [&](const std::exception& e, bool) {
            m_rec.settled.clear();
            m_rec.restartAt = -1;
            m_rec.failure = Settled{m_files.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
        });
    countTries();
    for (const File& f : m_files)
        if (f.fetched && !f.placed)
            QFile::remove(f.copy);
    return std::move(m_rec);
}

// A drawing checked in again and again while the batch fetches it ends the batch.
void CheckOutGroup::countTries() {
    OutBatch& b = *m_b;
    const int at = m_rec.restartAt;
    if (at < 0 || m_rec.failure)
        return;
    if (b.againAt == at && ++b.tries >= 3) {
        m_rec.failure =
            Settled{at, Outcome::failure(QStringLiteral("图纸<%1>正被他人反复入库，请稍后再出库").arg(b.codes[at]))};
        m_rec.restartAt = -1;
    } else if (b.againAt != at) {
        b.againAt = at;
        b.tries = 1;
    }
}

QStringList CheckOutGroup::codesToLock() const {
    QStringList lockCodes;
    for (const File& f : m_files) {
        if (!f.early && f.cutOff)
            break;
        if (f.early ? f.early->failed() : !f.fetched) {
            // A file gone from the server may have been replaced since the batch read its row.
            if (!f.early && missing(m_downloads.result(f.fetch)))
                lockCodes << m_b->codes[f.index];
            break;
        }
        if (!f.early)
            lockCodes << m_b->codes[f.index];
    }
    return lockCodes;
}

bool CheckOutGroup::attempt(bool together, bool& commitAsked) {
    Database& db = m_b->db;
    m_rec = {};
    const QStringList lockCodes = codesToLock();
    Transaction tx(db, Transaction::Kind::Write);
    lockAll(db, lockCodes, {}, {});
    CheckOutRows rows;
    const LibraryStore store(db);
    rows.drawings = store.readDrawings(lockCodes);
    rows.holders = store.holdersOf(lockCodes);
    QStringList stored;
    for (const QString& c : lockCodes)
        if (rows.drawings.contains(c))
            stored << c;
    rows.numbers = lastCheckIns(db, stored);
    QStringList holdCodes, logCodes;
    for (int g = 0; g < int(m_files.size()) && !m_rec.failure; ++g)
        if (!recordFile(together, g, rows, holdCodes, logCodes))
            break;
    writeHolds(holdCodes);
    if (!logCodes.isEmpty())
        AppendLogRows(m_b->session, db, m_b->ctx.UserId, logCodes, LogWord::CheckOut);
    if (together)
        placeRecorded(logCodes);
    commitAsked = true;
    tx.commit();
    return true;
}

// One file's rules on the rows as they are now, and, file by file, its copy in place and its rows.
// False when the files after it wait.
bool CheckOutGroup::recordFile(bool together, int g, const CheckOutRows& rows, QStringList& holdCodes,
                               QStringList& logCodes) {
    Database& db = m_b->db;
    const UserContext& ctx = m_b->ctx;
    File& f = m_files[size_t(g)];
    const QString& code = m_b->codes[f.index];
    if (f.early) {
        if (f.early->failed())
            m_rec.failure = Settled{f.index, *f.early};
        else
            m_rec.settled.push_back({f.index, *f.early, f.missing});
        return true;
    }
    const StoredDrawing now = rows.drawings.value(code);
    if (f.cutOff) {
        if (m_unrecovered)
            m_rec.failure = Settled{f.index, *m_unrecovered};
        else
            m_rec.restartAt = f.index; // finished by now: read and fetched again with the next group
        return false;
    }
    if (!f.fetched) {
        const TransferResult& got = m_downloads.result(f.fetch);
        // Another client checked the drawing in again, or deleted it, after this batch read its row
        // and before the download: read again and fetch with the next group.
        if (missing(got) && (!now.exists || !now.sameFile(f.drawing) || rows.numbers.value(code) != f.version)) {
            m_rec.restartAt = f.index;
            return false;
        }
        m_rec.failure = Settled{f.index, Outcome::failure(got.message)};
        return false;
    }
    const CheckOutRule rule = CheckOutRuleFor(ctx, code, f.drawing, f.version, now, rows.numbers.value(code),
                                              [&] { return rows.holders.value(code); });
    if (rule.kind == CheckOutRule::Kind::Refused) {
        m_rec.settled.push_back({f.index, rule.outcome, rule.missing});
        return true;
    }
    if (rule.kind == CheckOutRule::Kind::Changed) {
        m_rec.restartAt = f.index; // the copy is not the drawing the row now describes
        return false;
    }
    // The copy goes in place before the rows that record it are committed; file by file, before
    // they are written.
    if (!together && !f.placed) {
        if (!ReplaceFile(f.copy, f.target)) {
            m_rec.failure = Settled{f.index, NotWritten(f.target)};
            return false;
        }
        f.placed = true;
    }
    if (rule.kind == CheckOutRule::Kind::Broken) {
        m_rec.failure = Settled{f.index, rule.outcome};
        return false;
    }
    if (together) {
        if (rule.takesHold)
            holdCodes << code;
        logCodes << code;
    } else {
        markFile(db, g);
        try {
            RecordCheckOut(m_b->session, db, ctx.UserId, code, rule.takesHold);
        } catch (const std::exception& e) {
            undoFrom(db, g);
            m_rec.failure = Settled{f.index, Outcome::failure(QString::fromUtf8(e.what()))};
            return false;
        }
    }
    m_rec.settled.push_back({f.index, rule.outcome, false, rule.copyOf});
    return true;
}

// A check-in cut off after its commit, whose file a download found staged, is finished before the
// group's rows: under the code's lock, keeping the version it replaces, as every command on a code
// does (DrawingLibrary::Recover). Only the first such file counts: the group's files from it on go
// again with the next group.
void CheckOutGroup::recoverCutOff() {
    for (const File& f : m_files) {
        if (f.early || !f.cutOff)
            continue;
        const Outcome recovered = DrawingLibrary(m_b->session, m_b->run).Recover(m_b->codes[f.index]);
        if (!recovered.done())
            m_unrecovered = recovered;
        return;
    }
}

void CheckOutGroup::writeHolds(const QStringList& holdCodes) {
    LibraryStore(m_b->db).markAllCheckedOut(holdCodes, m_b->ctx.UserId, LibraryDate(m_b->session.clock().today()));
}

// The copies of the files recorded, in file order; should one not go in place, the group goes
// again file by file, and that file ends it with the files before it in.
void CheckOutGroup::placeRecorded(const QStringList& logCodes) {
    for (File& f : m_files)
        if (f.fetched && !f.placed && logCodes.contains(m_b->codes[f.index])) {
            if (!ReplaceFile(f.copy, f.target))
                throw Error(NotWritten(f.target).text);
            f.placed = true;
        }
}

// The batch check-out's run of groups.
class CheckOutRun final : public GroupLoop<CheckOutGroup, OutBatch> {
public:
    using GroupLoop::GroupLoop;

    BatchResult run() {
        {
            Timed timed(m_b.onPhase, "start");
            m_b.readAll();
        }
        return GroupLoop::run();
    }

private:
    std::optional<CheckOutGroup> plan(const CheckOutGroup*) override { return CheckOutGroup::plan(m_b); }
    std::optional<Settled> finishPrevious() override { return std::nullopt; }
    Recorded record(CheckOutGroup& g) override { return g.record(); }
    // Read again and fetched again with the next group, from the changed file on.
    void restart(int at) override {
        m_b.again << at;
        m_b.next = at;
    }
};

} // namespace

// A batch check-out runs in groups like the check-in: the files come down over several connections
// at once, each beside its target under a hidden copy's name; then, in one transaction and in file
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
BatchResult BatchLibrary::CheckOut(const QStringList& codes, const QString& folder, const Step& step,
                                   const QStringList& targets) {
    BatchResult r;
    r.progress.total = static_cast<int>(codes.size());
    CheckOutRun batch(r, step, m_session, m_run, codes, folder, targets, *this, *m_clients,
                      filesPerGroup(m_session.db()));
    return batch.run();
}

} // namespace velda
