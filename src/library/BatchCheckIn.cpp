#include "library/BatchCheckInGroup.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <algorithm>

namespace velda {
namespace batch {

namespace {
Outcome JustCheckedInByOther(const QString& code) {
    return Outcome::failure(QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code));
}
} // namespace

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
        m_b->db, [&](bool together, bool& commitAsked) { return attempt(together, commitAsked); },
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
    if (!m_uploadedTold) {
        m_uploadedTold = true;
        m_b->step(u"uploaded");
    }
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
    m_b->step(u"locked");
    const LibraryStore store(db);
    const QHash<QString, StoredDrawing> rowsOf = store.readDrawings(lockCodes);
    const QHash<QString, Holder> holds = store.holdersOf(lockCodes);
    const QHash<QString, QStringList> named = store.codesOfFiles(ctx.VolumeName, lockNames);
    // Each code's last check-in, once for the group: recovery, the reserved numbers and the versions
    // all ask it, and nothing writes a log row in between.
    const QHash<QString, qint64> last = lockCodes.isEmpty() ? QHash<QString, qint64>() : lastCheckIns(db, lockCodes);
    askHistoryFolders(rowsOf);
    recoverCutOff(rowsOf, last);
    std::vector<int> recorded;
    std::vector<size_t> settledBefore;
    recordFiles(together, rowsOf, holds, named, recorded, settledBefore);
    if (!m_rec.failure && m_cut)
        m_rec.failure = m_cut;
    if (together && !recorded.empty())
        writeTogether(recorded, last);
    m_b->step(u"recorded");
    rowsTimed.reset();
    const bool again = !stageRecorded(together, recorded, settledBefore);
    rowsTimed.emplace(m_b->onPhase, "rows");
    if (again)
        return false;
    m_b->step(u"staged");
    commitAsked = true;
    tx.commit();
    for (int g : recorded)
        m_files[size_t(g)].committed = true;
    m_b->step(u"committed");
    return true;
}

// Files planned as new that now replace another client's file (see CheckInSteps::historyUnasked):
// their history folders are asked under the lock, once a volume. A folder that takes no files ends
// the batch at that file, before anything of it is written.
void CheckInGroup::askHistoryFolders(const QHash<QString, StoredDrawing>& rowsOf) {
    for (int g = 0; g < m_limit; ++g) {
        File& f = m_files[size_t(g)];
        if (!f.steps || f.early || !f.uploaded)
            continue;
        const StoredDrawing now = rowsOf.value(f.steps->code());
        if (!f.steps->historyUnasked(now))
            continue;
        auto asked = m_b->historyFolders.find(now.volume);
        if (asked == m_b->historyFolders.end())
            asked = m_b->historyFolders.insert(now.volume, m_b->now([&](FtpClient& c, const TransferProgress&) {
                return ProbeHistoryFolder(c, VolumeUrl(m_b->ctx.AdminPassword, now.server), now.volume);
            }));
        if (*asked)
            f.steps->historyProbed(now.volume);
        else
            f.early = Outcome::failure(asked->message);
    }
}

// A check-in cut off after its commit left its file staged under its log number; it is finished
// here, before this group's rows go in. Only under the lock is the check-in that staged it surely
// done or gone, so that no two clients move the same files at once, and only here is its number
// surely the newest: once this group's rows are in, recovery looks for this group's numbers alone,
// and a staged file of an older number would be out of its reach.
void CheckInGroup::recoverCutOff(const QHash<QString, StoredDrawing>& rowsOf, const QHash<QString, qint64>& last) {
    std::vector<File*> files;
    QStringList stored;
    for (int g = 0; g < m_limit; ++g) {
        File& f = m_files[size_t(g)];
        if (f.steps && !f.early && f.uploaded && rowsOf.value(f.steps->code()).volumeKnown) {
            files.push_back(&f);
            stored << f.steps->code();
        }
    }
    if (stored.isEmpty())
        return;
    Database& db = m_b->db;
    // Mostly the uploads have settled it already: no FTP command here then.
    QStringList unsettled;
    for (File* f : files)
        if (!f->steps->cutOffSettled(last.value(f->steps->code())))
            unsettled << f->steps->code();
    if (unsettled.isEmpty())
        return;
    const QHash<QString, VersionRow> previous = m_b->keepVersions
                                                    ? OwnFiles(LibraryStore(db), VersionStore(db).previousOf(unsettled))
                                                    : QHash<QString, VersionRow>();
    const QString password = m_b->ctx.AdminPassword;
    std::vector<TransferOperation> operations;
    std::vector<File*> recovering;
    for (File* f : files) {
        const QString& code = f->steps->code();
        const qint64 number = last.value(code);
        if (!unsettled.contains(code))
            continue;
        const StoredDrawing row = rowsOf.value(code);
        const std::optional<VersionRow> before =
            previous.contains(code) ? std::optional<VersionRow>(previous.value(code)) : std::nullopt;
        operations.push_back([password, row, number, before](FtpClient& c, const TransferProgress&) {
            return PromoteKeeping(c, VolumeUrl(password, row.server), row.remotePath(), number, before,
                                  before ? VolumeUrl(password, before->server) : QString());
        });
        recovering.push_back(f);
    }
    const TransferWorkPtr work = m_b->pool.submit(std::move(operations), true, false);
    {
        Timed timed(m_b->onPhase, "recovery");
        m_b->pool.wait(m_b->run, work);
    }
    for (size_t k = 0; k < recovering.size(); ++k)
        if (!work->ok(int(k)))
            recovering[k]->early = Outcome::failure(work->results[k].message);
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

void CheckInGroup::writeTogether(const std::vector<int>& recorded, const QHash<QString, qint64>& last) {
    // The reserved numbers serve only while no check-in of the same codes came in
    // since they were taken: the last check-in must keep the highest number.
    std::vector<CheckInSteps*> steps;
    bool reserved = true;
    for (int g : recorded) {
        steps.push_back(m_files[size_t(g)].steps.get());
        reserved = reserved && steps.back()->reserved() > 0;
    }
    if (reserved)
        for (CheckInSteps* st : steps)
            reserved = reserved && last.value(st->code()) < st->reserved();
    CheckInSteps::recordTogether(m_b->session, m_b->db, steps, reserved, last);
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
            moves.push_back([s, keepOld, b = m_b](FtpClient& c, const TransferProgress&) {
                return s->finish(c, keepOld, [b] { b->step(u"kept"); });
            });
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
        if (m_moving && std::any_of(m_movingFiles.begin(), m_movingFiles.end(), [](int i) { return i >= 0; }))
            m_b.step(u"promoted"); // still under the group's locks
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

    TransferWorkPtr m_moving;                 // the moves of the group committed last
    std::vector<int> m_movingFiles;           // each move's file, -1 for the removal of a staged file
    std::unique_ptr<CodeLocks> m_movingLocks; // its codes, locked until those moves are done
};

} // namespace batch

// A batch check-in runs in groups. For each group, in this order:
//  1. plan every file on this thread from the group's rows, read in a few statements: the refusals
//     that need no upload, and the rights it takes; then reserve a log row number for each planned
//     file, in file order;
//  2. upload every planned file straight under its staged name "<stored name>.new-<reserved number>",
//     over several connections at once;
//  3. one transaction: lock the group's codes and stored names, read their rows again, finish what a
//     check-in of the same codes cut off after its commit left staged, ask the history folders no
//     file of the group has asked yet, and for each file in file order check again, then write the
//     rows, the ends of the holds and the log rows with the reserved numbers;
//  4. commit;
//  5. move the previous version's file into the history folder, then each staged file over its
//     stored name (the order argued above DrawingLibrary).
// A single check-in is a batch of one file, one group: the same steps in the same order.
// The groups overlap: while group k goes through 3 to 5, group k+1 is planned and its files upload,
// and group k's moves run on while group k+1's files upload. Group k's codes stay locked from before
// its transaction until its moves are done (CodeLocks), and are let go before group k+1 locks its
// own: another client's check-in of one of those codes can commit only once our file is in place, so
// our move can never put an older version over its newer one. A group never shares a code or a stored
// name with the group before it, so its plan cannot depend on rows that group is writing; its moves
// start only once the moves of the group before are done, so they never overtake them.
// What a crash leaves is what DrawingLibrary's argument says of one file, file by file: before a group's
// commit none of its log rows exists, so no committed row names a number its uploads carry, and every
// drawing keeps its old row and old file; after the commit every row of the group is in and its file lies
// staged under the number of its own committed log row, which Recover() moves into place. No stored file is
// touched before the commit. A code's last check-in must keep the highest number, or recovery would look
// for another file: when a check-in of one of the group's codes came in since the numbers were reserved,
// the group's log rows take new numbers and each upload is renamed after its new number before the commit,
// as an upload without a reserved number is. The group only shares the commit, so its sync is paid once,
// not per file.
// A file that fails ends the batch: the files before it in the group are committed, its own rows and
// every later file's are not, and their uploads are removed, as are those of the next group, already
// on their way. Two files of one code, or of one stored name, never share a group, so their moves
// cannot overtake each other.
BatchResult BatchLibrary::CheckIn(const QStringList& files, const Step& step, const QStringList& codes) {
    BatchResult r;
    r.progress.total = static_cast<int>(files.size());
    batch::CheckInRun groups(r, step, m_session, m_run, m_composed, files, codes, *this, *m_clients,
                             filesPerGroup(m_session.db()));
    return groups.run();
}

} // namespace velda
