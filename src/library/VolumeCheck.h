#pragma once

#include "core/Outcome.h"
#include "library/Versions.h"
#include "transfer/FtpListing.h"
#include "transfer/TransferRunner.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace velda {

class Database;
class Session;

// How the library and its volumes disagree.
enum class FindingKind {
    MissingFile, // a row names a file its volume does not hold
    Orphan,      // a file that no row names
    Leftover,    // what an interrupted transfer left: a side name of a check-in or a part file
    // The kept versions (fileName "历史版本/<number>-<stored name>"):
    MissingVersion, // a version row whose file is neither in the history folder nor under its stored name
    StrayVersion,   // a file in the history folder that no version row names
    BeyondKeeping,  // a kept version beyond the office's number of versions to keep
    Mismatch,       // a file whose SHA-256 or size differs from its version row (校验)
};

struct Finding {
    FindingKind kind = FindingKind::Orphan;
    QString volume;
    QString code;     // the row's code for a missing file, the code a side name belongs to, or empty
    QString fileName; // the name inside the volume folder
    qint64 size = -1;
    QDateTime modified; // UTC; invalid for a missing file
};

struct VolumeCheckResult {
    std::vector<Finding> findings;
    QStringList volumes; // the volumes checked
    QStringList failed;  // "volume: reason" for each volume whose folder could not be listed
    int rows = 0;        // library rows on the checked volumes
    int files = 0;       // files in the checked volume folders
    int missing = 0, orphans = 0, leftovers = 0;
    int versionFindings = 0; // the four kinds of the kept versions together
    int verified = 0;        // files compared by Verify()
    void recount();
    QDateTime checkedAt; // UTC
    int count(FindingKind kind) const;
};

// The number of side files removed and kept by a clean-up, and of orphans moved.
struct CareCounts {
    int removed = 0;
    int kept = 0;
    int failed = 0;
};

namespace VolumeCheckText {
inline const QString AllVolumes = QStringLiteral("全部存储目录");
inline const QString OrphanFolder = QStringLiteral("孤立文件");
inline const QString LogCheck = QStringLiteral("存储目录检查");
inline const QString LogCleanUp = QStringLiteral("清理遗留文件");
inline const QString LogMoveOrphans = QStringLiteral("移动孤立文件");
QString KindName(FindingKind kind);
// "缺失文件2个，孤立文件1个，遗留文件3个"
QString Counts(const VolumeCheckResult& result);
} // namespace VolumeCheckText

// Whether a file name is a leftover of an interrupted transfer, and the stored name it belongs to.
bool IsLeftoverName(const QString& fileName, QString* storedName = nullptr);

// The office setting: how many versions of a drawing to keep, the current one among them; 0 keeps all.
inline const QString kKeepVersionsSetting = QStringLiteral("保留版本数");

// Compares the library rows of each volume with one listing of its folder. Plain logic: a dialog or a
// command-line tool runs it with its own transfer runner and shows the outcome.
class VolumeCheck final {
public:
    VolumeCheck(Session& session, TransferRunner runner);

    // volume empty: every volume. progress(done, total, volume) before each volume and at the end.
    Outcome Run(const QString& volume, VolumeCheckResult& result);

    // 校验: downloads each current file (allVersions: each kept version too) of the volumes checked and
    // compares its SHA-256 and size with its version row; a difference becomes a Mismatch finding.
    // progress(done, total, file) before each file; stop() asked before each, ends the run early.
    Outcome Verify(VolumeCheckResult& result, bool allVersions, const std::function<bool()>& stop = {});

    // Leftovers older than an hour (by the session's clock) that are still leftovers now: never a file a
    // row names, never a .dwg, never the staged file of a drawing's last check-in.
    int RemovableCount(const VolumeCheckResult& result) const;
    // Removed files leave the result's list. Versions beyond keeping go too, with their rows, when the
    // setting still says so at clean-up time; never a drawing's current version.
    Outcome CleanUp(VolumeCheckResult& result, CareCounts& counts);

    // Moves the orphans found into the folder 孤立文件 of their volume; a name a row took meanwhile stays.
    // Moved files leave the result's list.
    Outcome MoveOrphans(VolumeCheckResult& result, CareCounts& counts);

    // The list as a tab-separated text file (UTF-8), a heading line first.
    static Outcome ExportText(const VolumeCheckResult& result, const QString& path);
    // The same list as a workbook: the counts in the first rows, then one row per finding.
    static Outcome ExportWorkbook(const VolumeCheckResult& result, const QString& path);

    std::function<void(int done, int total, const QString& volume)> onProgress;

    static constexpr int kLeftoverAgeSeconds = 3600;

private:
    // The version findings of one volume, its folder's files listed in `present`.
    void checkVersions(Database& db, const QString& volume, const QString& url, const QHash<QString, QString>& named,
                       const std::vector<VersionRow>& versions, const QSet<QString>& present,
                       VolumeCheckResult& result);
    bool removable(const Finding& f) const;
    Outcome dropBeyondKeeping(Database& db, const Finding& f);
    bool keepNow(Database& db, const Finding& f) const;
    Outcome closeCare(const Outcome& outcome, const CareCounts& counts, const QString& logPattern,
                      const QString& logWord, const QString& doneText, const QString& failedPattern);

    Session& m_session;
    TransferRunner m_run;
};

} // namespace velda
