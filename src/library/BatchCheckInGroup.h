#pragma once

// The batch check-in's group and what its groups share. Private to BatchCheckIn*.cpp.

#include "core/Session.h"
#include "library/Batch.h"
#include "library/BatchGroups.h"
#include "library/CheckInSteps.h"
#include "library/LibraryLocks.h"
#include "library/Versions.h"
#include "transfer/TransferPool.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <optional>
#include <vector>

namespace velda {

class LibraryStore;

namespace batch {

// What every group of one batch check-in shares.
struct InBatch {
    InBatch(Session& s, const TransferRunner& runner, const QStringList& rights, const QStringList& paths,
            const QStringList& givenCodes, const BatchLibrary& batch, std::vector<std::unique_ptr<FtpClient>>& clients,
            int filesPerGroup)
        : session(s), db(s.db()), ctx(s.ctx), run(runner), composed(rights), files(paths), today(s.clock().today()),
          perGroup(filesPerGroup), groupBytes(batch.groupBytes), onPhase(batch.onPhase), onStep(batch.onStep),
          comment(CleanComment(batch.comment).value_or(batch.comment.left(kMaxVersionComment))),
          keepVersions(batch.keepVersions), pendingRights(batch.pendingRights),
          pool(clients, workerCount(s, int(paths.size())), s.ftpOptions) {
        codes = givenCodes;
        for (qsizetype i = codes.size(); i < files.size(); ++i)
            codes << DrawingCodeFromPath(files[i]);
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
    const std::function<void(QStringView)>& onStep;
    const QString comment;
    const bool keepVersions;
    const bool pendingRights;
    TransferPool pool;
    // Each volume's history folder is asked once whether it takes files: the answer, by volume.
    QHash<QString, TransferResult> historyFolders;
    int next = 0; // the next file to plan

    static constexpr size_t kGroupsAhead = 1;
    static inline const Words kWords{QStringLiteral("图纸文件入库"), QStringLiteral("入库图纸"), true,
                                     BatchText::CheckInSummary};
    const QString& nameOf(int index) const { return files[index]; }
    void step(QStringView name) const {
        if (onStep)
            onStep(name);
    }
    // One command on a connection of the batch's own, ahead of the transfers queued: the batch needs
    // no other connection.
    TransferResult now(TransferOperation operation) {
        std::vector<TransferOperation> one;
        one.push_back(std::move(operation));
        const TransferWorkPtr work = pool.submit(std::move(one), true, false);
        pool.wait(run, work);
        return work->results.front();
    }
};

// The versions whose files no other code's row names, so that their codes may keep them.
QHash<QString, VersionRow> OwnFiles(const LibraryStore& store, QHash<QString, VersionRow> versions);

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
                  const QStringList& named);
    void reserveAndUpload();
    bool attempt(bool together, bool& commitAsked);
    void askHistoryFolders(const QHash<QString, StoredDrawing>& rowsOf);
    void recoverCutOff(const QHash<QString, StoredDrawing>& rowsOf, const QHash<QString, qint64>& last);
    void recordFiles(bool together, const QHash<QString, StoredDrawing>& rowsOf, const QHash<QString, Holder>& holds,
                     const QHash<QString, QStringList>& named, std::vector<int>& recorded,
                     std::vector<size_t>& settledBefore);
    void writeTogether(const std::vector<int>& recorded, const QHash<QString, qint64>& last);
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
    bool m_uploadedTold = false; // onStep heard "uploaded" once, whatever the attempts
};

} // namespace batch
} // namespace velda
