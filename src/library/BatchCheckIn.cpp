#include "library/Batch.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/BatchGroups.h"
#include "library/CheckInSteps.h"
#include "library/LibraryLocks.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "library/Versions.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"
#include "transfer/TransferPool.h"

#include <QSet>

#include <algorithm>

namespace velda {

using namespace batch;

namespace {
Outcome JustCheckedInByOther(const QString& code) {
    return Outcome::failure(QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code));
}

// What every group of one batch check-in shares.
struct InBatch {
    InBatch(Session& s, const TransferRunner& runner, const QStringList& rights, const QStringList& paths,
            const BatchLibrary& batch, std::vector<std::unique_ptr<FtpClient>>& clients, int filesPerGroup)
        : session(s), db(s.db()), ctx(s.ctx), run(runner), composed(rights), files(paths), today(s.clock().today()),
          perGroup(filesPerGroup), groupBytes(batch.groupBytes), onPhase(batch.onPhase),
          comment(CleanComment(batch.comment).value_or(batch.comment.left(kMaxVersionComment))),
          keepVersions(batch.keepVersions), pool(clients, workerCount(s, int(paths.size())), s.ftpOptions) {
        for (const QString& f : files)
            codes << DrawingCodeFromPath(f);
    }

    Session& session;
    Database& db;
    UserContext& ctx;
    const TransferRunner& run;
    const QStringList& composed;
    const QStringList& files;
    QStringList codes;
    const QDate today;
    const int perGroup;
    const qint64 groupBytes;
    const std::function<void(const char*, double)>& onPhase;
    const QString comment;
    const bool keepVersions;
    TransferPool pool;
    // Each volume's history folder is asked once whether it takes files: the answer, by volume.
    QHash<QString, TransferResult> historyFolders;
    int next = 0; // the next file to plan

    static constexpr size_t kGroupsAhead = 1;
    static inline const Words kWords{QStringLiteral("图纸文件入库"), QStringLiteral("入库图纸"), true,
                                     BatchText::CheckInSummary};
    const QString& nameOf(int index) const { return files[index]; }
};

// The versions whose files no other code's row names, so that their codes may keep them.
QHash<QString, VersionRow> OwnFiles(const LibraryStore& store, QHash<QString, VersionRow> versions) {
    QHash<QString, QStringList> namesOn; // volume -> stored names
    for (const VersionRow& v : versions)
        namesOn[v.volume] << v.storedName;
    QHash<QString, QHash<QString, QStringList>> codesOn;
    for (auto it = namesOn.cbegin(); it != namesOn.cend(); ++it)
        codesOn.insert(it.key(), store.codesOfFiles(it.key(), it.value()));
    for (auto it = versions.begin(); it != versions.end();) {
        const QStringList codes = codesOn.value(it->volume).value(it->storedName);
        const bool other = std::any_of(codes.begin(), codes.end(), [&](const QString& c) { return c != it.key(); });
        it = other ? versions.erase(it) : std::next(it);
    }
    return versions;
}

// One group of a batch check-in: it plans its files, uploads them, records them in one transaction
// and sets their moves going.
class CheckInGroup final {
public:
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

    explicit CheckInGroup(InBatch& batch) : m_b(&batch) {}

    // 1. The next group from the batch's next file on, none of whose codes or names is in `busy`;
    // 2. its uploads start at once.
    static std::optional<CheckInGroup> plan(InBatch& b, const QSet<QString>& busy);
    // Waits for its uploads.
    void waitTransfers() { m_uploads.wait(m_b->pool, m_b->run); }
    // 3. and 4. Its rows, staged files and commit.
    Recorded record();
    // 5. Its moves, handed to the pool; the code locks go with them.
    TransferWorkPtr startMoves(std::vector<int>& movingFiles, std::unique_ptr<CodeLocks>& locks);
    // A group that will not be recorded: its uploads stopped and removed.
    void cancel() { m_uploads.cancel(m_b->pool); }
    void drop();

    const QSet<QString>& names() const { return m_names; }
    bool planFailed() const { return m_planFailed; }
    int lastIndex() const { return m_files.back().index; }

private:
    void planFiles(const QStringList& someCodes, const QStringList& someNames);
    File planFile(const QString& code, const QString& name, const StoredDrawing& d, const Holder& holder,
                  const QStringList& named, qint64 lastNumber, const std::optional<VersionRow>& previous);
    void reserveAndUpload();
    bool attempt(bool together, bool& commitAsked);
    void recordFiles(bool together, const QHash<QString, StoredDrawing>& rowsOf, const QHash<QString, Holder>& holds,
                     const QHash<QString, QStringList>& named, std::vector<int>& recorded,
                     std::vector<size_t>& settledBefore);
    void writeTogether(const std::vector<int>& recorded);
    bool stageRecorded(bool together, std::vector<int>& recorded, const std::vector<size_t>& settledBefore);

    InBatch* m_b;
    std::vector<File> m_files;
    QSet<QString> m_names; // its codes and stored names
    bool m_planFailed = false;
    GroupTransfers m_uploads;
    std::unique_ptr<ReservedNumbers> m_reservation; // its log numbers, until the group has ended
    // While it is recorded:
    Recorded m_rec;
    std::optional<Settled> m_cut; // the file whose rename failed, with those after it left out
    int m_limit = 0;
    std::unique_ptr<CodeLocks> m_held;
};

std::optional<CheckInGroup> CheckInGroup::plan(InBatch& b, const QSet<QString>& busy) {
    QStringList someCodes, someNames;
    QSet<QString> seen;
    for (int at = b.next; at < int(b.codes.size()) && at - b.next < b.perGroup; ++at) {
        const QString& code = b.codes[at];
        const QString name = StoredFileName(b.today, code);
        if (seen.contains(code) || seen.contains(name) || busy.contains(code) || busy.contains(name))
            break;
        seen << code << name;
        someCodes << code;
        someNames << name;
    }
    if (someCodes.isEmpty())
        return std::nullopt;
    CheckInGroup g(b);
    g.planFiles(someCodes, someNames);
    g.reserveAndUpload();
    return g;
}

void CheckInGroup::planFiles(const QStringList& someCodes, const QStringList& someNames) {
    QHash<QString, StoredDrawing> rowsOf;
    QHash<QString, Holder> holds;
    QHash<QString, QStringList> named;
    QHash<QString, qint64> numbers;
    QHash<QString, VersionRow> previous;
    Database& db = m_b->db;
    const Outcome read = Guarded([&] {
        const LibraryStore store(db);
        rowsOf = store.readDrawings(someCodes);
        holds = store.holdersOf(someCodes);
        named = store.codesOfFiles(m_b->ctx.VolumeName, someNames);
        QStringList stored;
        for (const QString& c : someCodes)
            if (rowsOf.value(c).volumeKnown)
                stored << c;
        if (!stored.isEmpty()) {
            numbers = lastCheckIns(db, stored);
            if (m_b->keepVersions)
                previous = OwnFiles(store, VersionStore(db).previousOf(stored));
        }
        return Outcome::success();
    });
    qint64 bytes = 0;
    for (int k = 0; k < int(someCodes.size()); ++k) {
        if (!m_files.empty() && bytes >= m_b->groupBytes)
            break;
        const QString& code = someCodes[k];
        File f;
        if (!read.done()) {
            f.index = m_b->next;
            f.name = someNames[k];
            f.early = read;
        } else {
            f = planFile(code, someNames[k], rowsOf[code], holds.value(code), named.value(someNames[k]),
                         numbers.value(code),
                         previous.contains(code) ? std::optional<VersionRow>(previous.value(code)) : std::nullopt);
        }
        if (f.steps)
            bytes += f.steps->fileSize();
        m_names << code << f.name;
        m_planFailed = f.early && f.early->failed();
        m_files.push_back(std::move(f));
        ++m_b->next;
        if (m_planFailed)
            break;
    }
}

CheckInGroup::File CheckInGroup::planFile(const QString& code, const QString& name, const StoredDrawing& d,
                                          const Holder& holder, const QStringList& named, qint64 lastNumber,
                                          const std::optional<VersionRow>& previous) {
    UserContext& ctx = m_b->ctx;
    const int i = m_b->next;
    File f;
    f.index = i;
    f.name = name;
    if (d.exists && !Acl::Grants(d.write, ctx)) {
        f.early = Outcome::refusal(LibraryText::NoWriteRight);
        return f;
    }
    // Stored drawings keep their lists; new ones take what the user composed, if anything.
    if (d.exists) {
        Acl::SetPending(ctx, d.read, d.write, d.del, d.change);
    } else {
        const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
        Acl::SetPending(ctx, list, list, list, list);
        const QStringList& composed = m_b->composed;
        if (composed.size() == 4)
            Acl::SetPending(ctx, composed[0], composed[1], composed[2], composed[3]);
    }
    if (std::optional<Outcome> no = CheckInSteps::refuseFirst(ctx, code, m_b->files[i])) {
        f.early = no;
        return f;
    }
    f.steps = std::make_unique<CheckInSteps>(m_b->session, ctx, code, m_b->files[i], m_b->comment);
    if (!m_b->keepVersions)
        f.steps->keepNoVersions();
    QString other;
    for (const QString& c : named)
        if (c != code) {
            other = c;
            break;
        }
    if (std::optional<Outcome> no = f.steps->plan(holder, d, other, lastNumber, previous)) {
        f.early = no;
        f.steps.reset();
        return f;
    }
    if (f.steps->replacesFile() && m_b->keepVersions) {
        auto asked = m_b->historyFolders.find(d.volume);
        if (asked == m_b->historyFolders.end()) {
            const QString url = VolumeUrl(ctx.AdminPassword, d.server);
            asked = m_b->historyFolders.insert(d.volume, m_b->run([&](FtpClient& c, const TransferProgress&) {
                return ProbeHistoryFolder(c, url, d.volume);
            }));
        }
        if (!*asked) {
            f.early = Outcome::failure(asked->message);
            f.steps.reset();
            return f;
        }
        f.steps->historyProbed();
    }
    return f;
}

void CheckInGroup::reserveAndUpload() {
    // Numbers for the log rows of its files, in file order, so that each uploads straight under
    // its staged name. Without them the staged files take names of their own and are numbered once
    // recorded.
    std::vector<CheckInSteps*> toUpload;
    for (File& f : m_files)
        if (f.steps)
            toUpload.push_back(f.steps.get());
    std::vector<qint64> reserved;
    if (Guarded([&] {
            reserved = ReserveLogNumbers(m_b->db, int(toUpload.size()));
            m_reservation = std::make_unique<ReservedNumbers>(m_b->db, reserved);
            return Outcome::success();
        }).done())
        for (size_t k = 0; k < toUpload.size(); ++k)
            toUpload[k]->reserve(reserved[k]);
    std::vector<TransferOperation> operations;
    for (File& f : m_files)
        if (f.steps) {
            f.upload = int(operations.size());
            operations.push_back(
                [s = f.steps.get()](FtpClient& c, const TransferProgress& p) { return s->upload(c, p); });
        }
    m_uploads.start(m_b->pool, std::move(operations));
}

void CheckInGroup::drop() {
    m_uploads.stop(m_b->pool, m_b->run);
    std::vector<TransferOperation> operations;
    for (File& f : m_files)
        if (m_uploads.ok(f.upload))
            operations.push_back([s = f.steps.get()](FtpClient& c, const TransferProgress&) { return s->discard(c); });
    m_b->pool.wait(m_b->run, m_b->pool.submit(std::move(operations), true, false));
}

// 3. and 4. The rows of the whole group go in with a few statements. Should one of them fail, the
// group goes again file by file, each behind a savepoint, so that the file named is the one that
// fails. Should a rename fail after rows written together, the group goes again without that file
// and those after it; the uploads already renamed are renamed once more after the numbers the new
// log rows take.
Recorded CheckInGroup::record() {
    for (File& f : m_files)
        f.uploaded = m_uploads.ok(f.upload);
    m_limit = int(m_files.size());
    RecordTogetherOrEach(
        [&](bool together, bool& commitAsked) { return attempt(together, commitAsked); },
        [&](const std::exception& e, bool commitAsked) {
            // The transaction is gone: nothing of this group counts.
            m_rec.settled.clear();
            m_rec.failure = Settled{m_files.front().index, Outcome::failure(QString::fromUtf8(e.what()))};
            for (File& f : m_files)
                f.committed = false;
            // Once the commit was asked for, its answer may be lost with the rows in: the
            // staged files then belong to them, and Recover() decides by the log rows.
            if (commitAsked)
                for (File& f : m_files)
                    if (f.staged)
                        f.uploaded = false;
        });
    return std::move(m_rec);
}

bool CheckInGroup::attempt(bool together, bool& commitAsked) {
    Database& db = m_b->db;
    const UserContext& ctx = m_b->ctx;
    m_rec = {};
    for (File& f : m_files)
        f.staged = f.committed = false;
    // 3. The rows, in file order, of the files up to the first that cannot go on.
    QStringList lockCodes, lockNames;
    for (int g = 0; g < m_limit; ++g) {
        const File& f = m_files[size_t(g)];
        if (f.early ? f.early->failed() : !f.uploaded)
            break;
        if (f.steps) {
            lockCodes << f.steps->code();
            lockNames << f.name;
        }
    }
    std::optional<Timed> rowsTimed;
    rowsTimed.emplace(m_b->onPhase, "rows");
    // The group's codes stay locked from before its transaction until its moves are done; the
    // group before lets go of its own first, so no client holds one group's codes while it waits
    // for another's.
    m_held.reset();
    m_held = std::make_unique<CodeLocks>(db, lockCodes, ctx.VolumeName, lockNames);
    Transaction tx(db, Transaction::Kind::Write);
    lockAll(db, lockCodes, ctx.VolumeName, lockNames);
    const LibraryStore store(db);
    const QHash<QString, StoredDrawing> rowsOf = store.readDrawings(lockCodes);
    const QHash<QString, Holder> holds = store.holdersOf(lockCodes);
    const QHash<QString, QStringList> named = store.codesOfFiles(ctx.VolumeName, lockNames);
    std::vector<int> recorded;
    std::vector<size_t> settledBefore;
    recordFiles(together, rowsOf, holds, named, recorded, settledBefore);
    if (!m_rec.failure && m_cut)
        m_rec.failure = m_cut;
    if (together && !recorded.empty())
        writeTogether(recorded);
    rowsTimed.reset();
    const bool again = !stageRecorded(together, recorded, settledBefore);
    rowsTimed.emplace(m_b->onPhase, "rows");
    if (again)
        return false;
    commitAsked = true;
    tx.commit();
    for (int g : recorded)
        m_files[size_t(g)].committed = true;
    return true;
}

void CheckInGroup::recordFiles(bool together, const QHash<QString, StoredDrawing>& rowsOf,
                               const QHash<QString, Holder>& holds, const QHash<QString, QStringList>& named,
                               std::vector<int>& recorded, std::vector<size_t>& settledBefore) {
    Database& db = m_b->db;
    std::vector<Settled>& settled = m_rec.settled;
    std::optional<Settled>& failure = m_rec.failure;
    QSet<QString> written;
    for (int g = 0; g < m_limit && !failure; ++g) {
        File& f = m_files[size_t(g)];
        if (f.early) {
            if (f.early->failed())
                failure = Settled{f.index, *f.early};
            else
                settled.push_back({f.index, *f.early});
            continue;
        }
        if (!f.uploaded) {
            failure = Settled{f.index, Outcome::failure(m_uploads.result(f.upload).message)};
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
                    other = LibraryStore(db).otherCodeOfFile(code, m_b->ctx.VolumeName, f.name);
                if (std::optional<Outcome> no = f.steps->lockAndRecord(holds.value(code), rowsOf.value(code), other)) {
                    undoFrom(db, g);
                    settled.push_back({f.index, *no});
                    continue;
                }
            } catch (const DuplicateKeyError&) {
                undoFrom(db, g);
                failure = Settled{f.index, JustCheckedInByOther(code)};
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
}

void CheckInGroup::writeTogether(const std::vector<int>& recorded) {
    // The reserved numbers serve only while no check-in of the same codes came in
    // since they were taken: the last check-in must keep the highest number.
    std::vector<CheckInSteps*> steps;
    QStringList recordedCodes;
    bool reserved = true;
    for (int g : recorded) {
        steps.push_back(m_files[size_t(g)].steps.get());
        recordedCodes << steps.back()->code();
        reserved = reserved && steps.back()->reserved() > 0;
    }
    if (reserved) {
        const QHash<QString, qint64> last = lastCheckIns(m_b->db, recordedCodes);
        for (CheckInSteps* st : steps)
            reserved = reserved && last.value(st->code()) < st->reserved();
    }
    CheckInSteps::recordTogether(m_b->session, m_b->db, steps, reserved);
}

// 4. Staged under the log rows' numbers, before the commit; uploads under their reserved numbers are
// staged already. False when the group must go again without a file whose rename failed.
bool CheckInGroup::stageRecorded(bool together, std::vector<int>& recorded, const std::vector<size_t>& settledBefore) {
    std::vector<TransferOperation> stages;
    std::vector<int> stageOf(recorded.size(), -1);
    for (size_t k = 0; k < recorded.size(); ++k) {
        CheckInSteps* st = m_files[size_t(recorded[k])].steps.get();
        if (!st->needsStage())
            continue;
        stageOf[k] = int(stages.size());
        stages.push_back([st](FtpClient& c, const TransferProgress&) { return st->stage(c); });
    }
    const TransferWorkPtr staged = m_b->pool.submit(std::move(stages), true);
    {
        Timed timed(m_b->onPhase, "renames");
        m_b->pool.wait(m_b->run, staged);
    }
    int keep = int(recorded.size());
    for (int k = 0; k < int(recorded.size()); ++k) {
        File& f = m_files[size_t(recorded[size_t(k)])];
        f.staged = stageOf[size_t(k)] < 0 || staged->ok(stageOf[size_t(k)]);
        if (!f.staged && keep == int(recorded.size()))
            keep = k;
    }
    if (keep == int(recorded.size()))
        return true;
    const int g = recorded[size_t(keep)];
    const Settled failed{m_files[size_t(g)].index,
                         Outcome::failure(staged->results[size_t(stageOf[size_t(keep)])].message)};
    if (together) {
        m_cut = failed;
        m_limit = g;
        return false;
    }
    undoFrom(m_b->db, g);
    m_rec.failure = failed;
    m_rec.settled.resize(settledBefore[size_t(keep)]);
    recorded.resize(size_t(keep));
    return true;
}

// 5. Into place; staged files of what did not get in removed. A failure here loses nothing:
// recovery finishes the move later, and a staged file left over is named by no row.
TransferWorkPtr CheckInGroup::startMoves(std::vector<int>& movingFiles, std::unique_ptr<CodeLocks>& locks) {
    std::vector<TransferOperation> moves;
    // Whose old files to keep, asked for the group in one statement a volume.
    QHash<QString, VersionRow> olds;
    for (File& f : m_files)
        if (f.committed && f.steps->replacesFile() && f.steps->keepsVersions()) {
            VersionRow o;
            o.volume = f.steps->old().volume;
            o.storedName = f.steps->old().fileName;
            olds.insert(f.steps->code(), o);
        }
    const QHash<QString, VersionRow> replacing = olds;
    // Unanswered, the files stay staged: placing them could overwrite a version not yet kept, and
    // recovery keeps and places them later.
    const bool asked = olds.isEmpty() || Guarded([&] {
                                             olds = OwnFiles(LibraryStore(m_b->db), olds);
                                             return Outcome::success();
                                         }).done();
    for (File& f : m_files) {
        CheckInSteps* s = f.steps.get();
        if (f.committed && !asked && replacing.contains(s->code()))
            continue;
        if (f.committed) {
            const bool keepOld = olds.contains(s->code());
            moves.push_back([s, keepOld](FtpClient& c, const TransferProgress&) { return s->finish(c, keepOld); });
            movingFiles.push_back(f.index);
        } else if (f.uploaded) {
            moves.push_back([s](FtpClient& c, const TransferProgress&) { return s->discard(c); });
            movingFiles.push_back(-1);
        }
    }
    locks = std::move(m_held);
    return m_b->pool.submit(std::move(moves), true, false);
}

// The batch check-in's run of groups.
class CheckInRun final : public GroupLoop<CheckInGroup, InBatch> {
public:
    using GroupLoop::GroupLoop;

private:
    std::optional<CheckInGroup> plan(const CheckInGroup* last) override {
        return CheckInGroup::plan(m_b, last ? last->names() : QSet<QString>());
    }
    // The moves of a committed group go on while the next group is recorded; they are waited for
    // before the next group's moves start, so that those never overtake them, and before the batch
    // ends. A committed file found neither staged nor in place is lost; the batch must not count on.
    std::optional<Settled> finishPrevious() override {
        Timed timed(m_b.onPhase, "moves");
        m_b.pool.wait(m_b.run, m_moving);
        std::optional<Settled> lost;
        for (size_t k = 0; m_moving && k < m_movingFiles.size() && !lost; ++k)
            if (m_movingFiles[k] >= 0 && m_moving->ran[k] && !m_moving->results[k] &&
                m_moving->results[k].failure == TransferFailure::RemoteMissing)
                lost = Settled{m_movingFiles[k], Outcome::failure(m_moving->results[k].message)};
        m_moving.reset();
        m_movingFiles.clear();
        m_previous.reset();
        m_movingLocks.reset();
        return lost;
    }
    Recorded record(CheckInGroup& g) override {
        Recorded rec = g.record();
        m_moving = g.startMoves(m_movingFiles, m_movingLocks);
        return rec;
    }

    TransferWorkPtr m_moving;                     // the moves of the group committed last
    std::vector<int> m_movingFiles;               // each move's file, -1 for the removal of a staged file
    std::unique_ptr<CodeLocks> m_movingLocks; // its codes, locked until those moves are done
};

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
//  5. move the previous version's file into the history folder, then each staged file over its
//     stored name (as the single check-in does, DrawingLibrary).
// The groups overlap: while group k goes through 3 to 5, group k+1 is planned and its files upload,
// and group k's moves run on while group k+1's files upload. Group k's codes stay locked from before
// its transaction until its moves are done (CodeLocks), and are let go before group k+1 locks its
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
    CheckInRun batch(r, step, m_session, m_run, m_composed, files, *this, m_clients, filesPerGroup(m_session.db()));
    return batch.run();
}

} // namespace velda
