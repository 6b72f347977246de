#pragma once

// What the batch check-in and check-out share: the loop that runs a batch group by group, and the
// small pieces both groups use. Private to the two.

#include "core/Session.h"
#include "library/Batch.h"

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
int laneCount(const Session& session, int files);

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
// failed(error, commitAsked) takes any other failure.
template <typename Attempt, typename Failed> void RecordTogetherOrEach(Attempt&& attempt, Failed&& failed) {
    bool together = true;
    for (;;) {
        bool commitAsked = false;
        try {
            if (attempt(together, commitAsked))
                return;
        } catch (const std::exception& e) {
            if (together && !commitAsked) {
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
    QString what;     // what failed: "图纸文件入库"
    QString doneWord; // what was done so far: "入库图纸"
    bool in = true;   // a check-in
};

// How the batch ends: the summary, the stop, the failure or a change of account.
QString StoppedText(const BatchProgress& p, bool in);
BatchResult AccountChanged(BatchResult r, const QString& doneWord);
BatchResult StoppedOrFailed(BatchResult r, const QString& what, const QString& path, const Outcome& out,
                            const QString& doneWord);

// Counts the settled files and tells the dialog about each; false once the user asked to stop.
bool Count(BatchResult& r, const std::vector<Settled>& settled, const QStringList& codes,
           const BatchLibrary::Step& step);

// The loop both batches run. The next groups are planned and their transfers set going while a group
// is recorded; a failure, a stop or a new login drops the groups ahead, whose transfers leave nothing
// behind. The groups live here, before the batch's connections, whose tasks point into them.
template <typename Group> class GroupLoop {
public:
    virtual ~GroupLoop() = default;

protected:
    GroupLoop(Session& session, BatchResult& result, const BatchLibrary::Step& step, Words words)
        : m_loopSession(session), m_result(result), m_step(step), m_words(std::move(words)) {}

    virtual bool more() const = 0;                             // files left to plan
    virtual std::optional<Group> plan(const Group* last) = 0;  // the next group, if any can go now
    virtual bool plansAfter(const Group& last) const = 0;      // whether a group may follow it yet
    virtual size_t groupsAhead() const = 0;                    // how many groups are planned ahead
    virtual void transfer(Group& g) = 0;                       // waits for its transfers
    virtual std::optional<Settled> finishPrevious() = 0;       // what the group before left to finish
    virtual Recorded record(Group& g) = 0;                     // its rows, in one transaction
    virtual void cancel(Group& g) = 0;                         // no more of its transfers start
    virtual void drop(Group& g) = 0;                           // a group that will not be recorded
    virtual void restart(int at) = 0;                          // plans again from file `at`
    virtual int lastIndex(const Group& g) const = 0;           // its last file
    virtual const QStringList& codes() const = 0;              // each file's code
    virtual const QString& nameOf(int index) const = 0;        // how a failure names a file
    virtual QString summary(const BatchProgress& p) const = 0; // the batch's closing words
    virtual const std::function<void(const char*, double)>& phases() const = 0;

    BatchResult run() {
        const QString who = identity(m_loopSession.ctx);
        auto sameUser = [&] { return identity(m_loopSession.ctx) == who; };
        while (more() || m_current) {
            if (!m_current) {
                if (!sameUser())
                    return endAccount();
                Timed timed(phases(), "plan");
                m_current = plan(nullptr);
            } else if (!sameUser()) {
                // Planned while the group before was recorded; a new login since must not carry it over.
                return endAccount();
            }
            Group& group = *m_current;
            {
                Timed timed(phases(), "plan");
                while (more() && m_ahead.size() < groupsAhead() &&
                       plansAfter(m_ahead.empty() ? group : m_ahead.back()) && sameUser()) {
                    std::optional<Group> next = plan(m_ahead.empty() ? &group : &m_ahead.back());
                    if (!next)
                        break;
                    m_ahead.push_back(std::move(*next));
                }
            }
            {
                Timed timed(phases(), "transfers");
                transfer(group);
            }
            if (const std::optional<Settled> lost = finishPrevious())
                return endFailed(*lost);
            const Recorded rec = record(group);
            const bool goOn = Count(m_result, rec.settled, codes(), m_step);
            if (rec.failure) {
                dropAhead();
                finishPrevious();
                return StoppedOrFailed(m_result, m_words.what, nameOf(rec.failure->index), rec.failure->outcome,
                                       m_words.doneWord);
            }
            if (rec.restartAt >= 0) {
                dropAhead();
                restart(rec.restartAt);
            }
            if (!goOn && (rec.restartAt >= 0 || lastIndex(group) + 1 < int(codes().size()))) {
                dropAhead();
                finishPrevious();
                m_result.stopped = true;
                m_result.message = StoppedText(m_result.progress, m_words.in);
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
        m_result.message = summary(m_result.progress);
        return m_result;
    }

    std::optional<Group> m_previous; // the group recorded last

private:
    void dropAhead() {
        for (Group& g : m_ahead)
            cancel(g);
        while (!m_ahead.empty()) {
            drop(m_ahead.back());
            m_ahead.pop_back();
        }
    }
    void dropAll() {
        dropAhead();
        if (m_current)
            drop(*m_current);
        m_current.reset();
    }
    BatchResult endAccount() {
        dropAll();
        finishPrevious();
        return AccountChanged(m_result, m_words.doneWord);
    }
    BatchResult endFailed(const Settled& lost) {
        dropAll();
        return StoppedOrFailed(m_result, m_words.what, nameOf(lost.index), lost.outcome, m_words.doneWord);
    }

    Session& m_loopSession;
    BatchResult& m_result;
    const BatchLibrary::Step& m_step;
    const Words m_words;
    std::optional<Group> m_current;
    std::deque<Group> m_ahead;
};

} // namespace batch
} // namespace velda
