#pragma once

// What the batch check-in and check-out share: the loop that runs a batch group by group, and the
// small pieces both groups use. Private to the two.

#include "core/Session.h"
#include "library/Batch.h"
#include "store/Database.h"
#include "transfer/TransferPool.h"

#include <QElapsedTimer>
#include <QStringList>

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace velda {

class Database;
class Session;
struct UserContext;

namespace batch {

// Who runs the batch: a new login while it waits must not carry its remaining files over to
// another user or volume.
QString identity(const UserContext& ctx);

// The connections a batch of so many files uses.
int workerCount(const Session& session, int files);

// Marks a place in the group's transaction to which one file's rows, and every later file's, can be
// taken back.
void markFile(Database& db, int position);
void undoFrom(Database& db, int position);

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

// A group's transfers, one task for each file that has one, known by its place among them.
class GroupTransfers final {
public:
    void start(TransferPool& pool, std::vector<TransferOperation> operations) {
        m_work = pool.submit(std::move(operations));
    }
    void cancel(TransferPool& pool) { pool.cancel(m_work); }
    void wait(TransferPool& pool, const TransferRunner& run) { pool.wait(run, m_work); }
    // No further task starts; those running finish.
    void stop(TransferPool& pool, const TransferRunner& run) {
        pool.cancel(m_work);
        pool.wait(run, m_work);
    }
    bool ok(int task) const { return task >= 0 && m_work->ok(task); }
    const TransferResult& result(int task) const { return m_work->results[size_t(task)]; }

private:
    TransferWorkPtr m_work;
};

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

// What recording a group came to.
struct Recorded {
    std::vector<Settled> settled; // the files that count, in file order
    std::optional<Settled> failure;
    int restartAt = -1; // a file to read and transfer again, with those after it
};

// The rows of a group go in with a few statements for the whole group; should one of them fail
// before the commit was asked for, the group goes again file by file, so that the file named is the
// one that fails. attempt(together, commitAsked) returns false to go once more in the same way;
// failed(error, commitAsked) takes any other failure. A lost connection (the database closed) is no
// one file's failure: going again file by file would only hide its message behind a closed one.
template <typename Attempt, typename Failed>
void RecordTogetherOrEach(const Database& db, Attempt&& attempt, Failed&& failed) {
    bool together = true;
    for (;;) {
        bool commitAsked = false;
        try {
            if (attempt(together, commitAsked))
                return;
        } catch (const std::exception& e) {
            if (together && !commitAsked && db.isOpen()) {
                together = false;
                continue;
            }
            failed(e, commitAsked);
            return;
        }
    }
}

// The texts that tell one batch from the other.
struct Words {
    QString what;                                         // what failed: "图纸文件入库"
    QString doneWord;                                     // what was done so far: "入库图纸"
    bool in = true;                                       // a check-in
    QString (*summary)(const BatchProgress& p) = nullptr; // the batch's closing words
};

// How the batch ends: the summary, the stop, the failure or a change of account.
QString StoppedText(const BatchProgress& p, bool in);
BatchResult AccountChanged(BatchResult r, const QString& doneWord);
BatchResult StoppedOrFailed(BatchResult r, const QString& what, const QString& path, const Outcome& out,
                            const QString& doneWord);

// Counts the settled files and tells the dialog about each; false once the user asked to stop.
bool Count(BatchResult& r, const std::vector<Settled>& settled, const QStringList& codes,
           const BatchLibrary::Step& step);

// The loop both batches run. A Group tells planFailed() (no group may follow it), lastIndex() (its
// last file), and has waitTransfers(), cancel() (no more of its transfers start) and drop() (it will
// not be recorded). A Batch holds what the groups share: session, codes, onPhase, next (the next
// file to plan), m_b.nameOf() (how a failure names a file), and kWords and kGroupsAhead (how many groups
// are planned ahead). The next groups are planned and their transfers set going while a group
// is recorded; a failure, a stop or a new login drops the groups ahead, whose transfers leave nothing
// behind. The groups live here, and outlive the batch's connections, whose operations point into them.
template <typename Group, typename Batch> class GroupLoop {
public:
    template <typename... Args>
    GroupLoop(BatchResult& result, const BatchLibrary::Step& step, Session& session, Args&&... batch)
        : m_result(result), m_step(step), m_b(session, std::forward<Args>(batch)...) {}
    virtual ~GroupLoop() = default;

    BatchResult run() {
        const QString who = identity(m_b.session.ctx);
        auto sameUser = [&] { return identity(m_b.session.ctx) == who; };
        while (more() || m_current) {
            if (!m_current) {
                if (!sameUser())
                    return endAccount();
                Timed timed(m_b.onPhase, "plan");
                m_current = plan(nullptr);
            } else if (!sameUser()) {
                // Planned while the group before was recorded; a new login since must not carry it over.
                return endAccount();
            }
            Group& group = *m_current;
            {
                Timed timed(m_b.onPhase, "plan");
                while (more() && m_ahead.size() < Batch::kGroupsAhead &&
                       !(m_ahead.empty() ? group : m_ahead.back()).planFailed() && sameUser()) {
                    std::optional<Group> next = plan(m_ahead.empty() ? &group : &m_ahead.back());
                    if (!next)
                        break;
                    m_ahead.push_back(std::move(*next));
                }
            }
            {
                Timed timed(m_b.onPhase, "transfers");
                group.waitTransfers();
            }
            if (const std::optional<Settled> lost = finishPrevious())
                return endFailed(*lost);
            const Recorded rec = record(group);
            const bool goOn = Count(m_result, rec.settled, m_b.codes, m_step);
            if (rec.failure) {
                dropAhead();
                finishPrevious();
                m_result.last = rec.failure->outcome;
                return StoppedOrFailed(m_result, Batch::kWords.what, m_b.nameOf(rec.failure->index),
                                       rec.failure->outcome, Batch::kWords.doneWord);
            }
            if (rec.restartAt >= 0) {
                dropAhead();
                restart(rec.restartAt);
            }
            if (!goOn && (rec.restartAt >= 0 || group.lastIndex() + 1 < int(m_b.codes.size()))) {
                dropAhead();
                finishPrevious();
                m_result.stopped = true;
                m_result.outcome = Outcome::success(StoppedText(m_result.progress, Batch::kWords.in));
                return m_result;
            }
            // Kept while what it set going may still point into it.
            m_previous = std::move(group);
            m_current.reset();
            if (!m_ahead.empty()) {
                m_current = std::move(m_ahead.front());
                m_ahead.pop_front();
            }
        }
        if (const std::optional<Settled> lost = finishPrevious())
            return endFailed(*lost);
        m_result.outcome = Outcome::success(Batch::kWords.summary(m_result.progress));
        return m_result;
    }

protected:
    virtual std::optional<Group> plan(const Group* last) = 0; // the next group, if any can go now
    virtual std::optional<Settled> finishPrevious() = 0;      // what the group before left to finish
    virtual Recorded record(Group& g) = 0;                    // its rows, in one transaction
    virtual void restart(int at) { m_b.next = at; }           // plans again from file `at`

    std::optional<Group> m_previous; // the group recorded last

private:
    bool more() const { return m_b.next < int(m_b.codes.size()); }
    void dropAhead() {
        for (Group& g : m_ahead)
            g.cancel();
        while (!m_ahead.empty()) {
            m_ahead.back().drop();
            m_ahead.pop_back();
        }
    }
    void dropAll() {
        dropAhead();
        if (m_current)
            m_current->drop();
        m_current.reset();
    }
    BatchResult endAccount() {
        dropAll();
        finishPrevious();
        BatchResult r = AccountChanged(m_result, Batch::kWords.doneWord);
        r.last = r.outcome;
        return r;
    }
    BatchResult endFailed(const Settled& lost) {
        dropAll();
        m_result.last = lost.outcome;
        return StoppedOrFailed(m_result, Batch::kWords.what, m_b.nameOf(lost.index), lost.outcome,
                               Batch::kWords.doneWord);
    }

    BatchResult& m_result;
    const BatchLibrary::Step& m_step;
    std::optional<Group> m_current;
    std::deque<Group> m_ahead;

protected:
    Batch m_b; // after the groups: its connections go first
};

} // namespace batch
} // namespace velda
