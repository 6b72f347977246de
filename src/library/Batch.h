#pragma once

#include "library/DrawingLibrary.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace velda {

// The drawing code a file stands for: its name up to the first ".dwg" (any letter case), the
// code keeping the name's own letter case. A.DWG.dwg is A.
QString DrawingCodeFromPath(const QString& path);

// Appends every *.dwg file under folder: a folder's files (hidden ones too) before its
// sub-folders, sub-folders depth first, each in the order the file system lists them. keepAlive
// is called now and then so the window stays live; returning false stops the search.
void FindAllFile(const QString& folder, bool withSubFolders, QStringList& list,
                 const std::function<bool()>& keepAlive = {});

// A folder a batch may use: an existing absolute folder.
bool IsUsableFolder(const QString& path);

// The local file a batch check-out writes a code to: the code named as its stored file is (each "/"
// becomes "-"), any other character a file name cannot hold replaced by "_", always directly inside
// the folder. Nothing when no such name can be made (empty, or too long for a file name).
std::optional<QString> BatchTargetFile(const QString& folder, const QString& code);

// Where a batch is, for the progress bar and the summary.
struct BatchProgress {
    int total = 0;
    int processed = 0;
    int rejected = 0;
    QString rejectedCodes; // each refused code followed by "&"
    // A check-out's codes that have no drawing in the library: refused and counted, but not named with
    // those refused for want of rights. Each followed by "&".
    QString missingCodes;
    // A check-out's drawings fetched as copies while another account holds them: code, account.
    QList<std::pair<QString, QString>> heldCopies;
};

// What a batch came to: its outcome for the box (the summary, the stop, or a failure that says what
// and where) and its counts.
struct BatchResult {
    Outcome outcome;
    BatchProgress progress;
    bool stopped = false; // the user asked to stop after the current file
    // The last file's own outcome, before the batch's words go round it: what the single-drawing
    // commands, each a batch of one, tell.
    Outcome last;
};

// A batch check-in or check-out with the single-drawing commands' guarantees: a failure ends the
// batch and leaves the failing drawing as it was. The files move over several connections at once
// (the session's connectionsPerServer), while the rows and log rows are written in file order, a
// group of files per transaction, so the library ends as after the same files one at a time. One
// group's files move while the group before is recorded; a stop or a failure drops the files of the
// group already on its way, which leave nothing behind.
class BatchLibrary final {
public:
    // The batch's connections, kept between its batches; a caller that runs one command after
    // another hands in its own to keep them between those, too.
    using Connections = std::vector<std::unique_ptr<FtpClient>>;
    BatchLibrary(Session& session, TransferRunner runner,
                 std::shared_ptr<Connections> connections = std::make_shared<Connections>());
    ~BatchLibrary();

    // Rights for new codes: the lists confirmed in the dialog's rights editor, if any.
    void setComposedRights(const QStringList& fourLists) { m_composed = fourLists; }

    // Called after each file (index, progress); returning false stops after that file.
    using Step = std::function<bool(int index, const BatchProgress&)>;

    // codes: each file's code, where it is not the file's name (DrawingCodeFromPath).
    BatchResult CheckIn(const QStringList& files, const Step& step = {}, const QStringList& codes = {});
    // targets: each code's local file, where it is not the folder's file of that code (BatchTargetFile).
    BatchResult CheckOut(const QStringList& codes, const QString& folder, const Step& step = {},
                         const QStringList& targets = {});

    // true: every file takes the lists pending in the session, which the user edited in the check-in
    // dialog (the single check-in), where a batch keeps a stored drawing's lists and gives new codes the
    // composed lists or the default list.
    bool pendingRights = false;

    // Called after each named step of a group's check-in ("uploaded", "locked", "recorded", "staged",
    // "committed", "kept", "promoted") or check-out ("fetched"); tests stop the program or the server
    // there. "kept" is called on the connection's thread, between the moves of one file; the others on
    // the batch's own.
    std::function<void(QStringView step)> onStep;

    // Told how long this thread spent in each phase of the batch ("start", "plan", "transfers",
    // "rows", "renames", "moves"), for the benchmark to say where the time goes.
    std::function<void(const char* phase, double seconds)> onPhase;

    // Most files, and most bytes, a group takes; tests make groups small to cut them in odd places.
    // 0: 32 files with the local file, 128 with a database server, where each statement costs a round
    // trip and a group's statements are the same few whatever its size.
    int groupFiles = 0;
    qint64 groupBytes = 64LL << 20;
    // What every version the batch checks in keeps with it (cleaned as CleanComment does; the caller
    // refuses a longer one).
    QString comment;
    // false: the replaced files are overwritten as a client that keeps no versions does; the
    // benchmark's baseline for what keeping them costs.
    bool keepVersions = true;

private:
    int filesPerGroup(const Database& db) const;

    Session& m_session;
    TransferRunner m_run;
    QStringList m_composed;
    std::shared_ptr<Connections> m_clients;
};

namespace BatchText {
inline const QString NoFolderIn = QStringLiteral("文件夹名称不能为空！");
inline const QString NoFolderOut = QStringLiteral("文件夹名称选择有误！");
QString CheckInSummary(const BatchProgress& p);
QString CheckOutSummary(const BatchProgress& p);
} // namespace BatchText

} // namespace velda
