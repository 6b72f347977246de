#include "library/VolumeCheck.h"

#include "core/ActivityLog.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "library/Versions.h"
#include "store/Database.h"
#include "transfer/Sha256.h"
#include "transfer/TransferCommand.h"
#include "transfer/Volumes.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <optional>

#include <algorithm>

namespace velda {

namespace {

QString VolumeFolder(const QString& volume) { return QStringLiteral("Volume/") + volume; }

// The check-in's side names (see DrawingLibrary) and the client's part files.
const QRegularExpression& SideName() {
    static const QRegularExpression re(QStringLiteral("^(.+)\\.(incoming-[0-9a-z]+|new-[0-9]+|previous-[0-9]+)$"));
    return re;
}
const QRegularExpression& PartName() {
    static const QRegularExpression re(QStringLiteral("^\\.(.+)\\.[0-9a-f]+\\.part$"));
    return re;
}

bool IsDwg(const QString& name) { return name.endsWith(QStringLiteral(".dwg"), Qt::CaseInsensitive); }

// The code and last check-in of the row that names a stored file, if one does.
struct Owner {
    QString code;
    qint64 lastCheckIn = 0;
};

std::optional<Owner> OwnerOf(Database& db, const QString& volume, const QString& storedName) {
    const QStringList codes = LibraryStore(db).codesOfFiles(volume, {storedName}).value(storedName);
    if (codes.isEmpty())
        return std::nullopt;
    Owner o;
    o.code = codes.front();
    o.lastCheckIn = rows::lastCheckIn(db, o.code);
    return o;
}

// Drops the findings a clean-up or a move dealt with.
void Forget(VolumeCheckResult& result, const std::vector<bool>& handled) {
    std::vector<Finding> kept;
    for (size_t i = 0; i < result.findings.size(); ++i) {
        if (!handled[i])
            kept.push_back(std::move(result.findings[i]));
    }
    result.findings = std::move(kept);
    result.recount();
}

} // namespace

int VolumeCheckResult::count(FindingKind kind) const {
    return int(std::count_if(findings.begin(), findings.end(), [kind](const Finding& f) { return f.kind == kind; }));
}

void VolumeCheckResult::recount() {
    missing = count(FindingKind::MissingFile);
    orphans = count(FindingKind::Orphan);
    leftovers = count(FindingKind::Leftover);
    versionFindings = count(FindingKind::MissingVersion) + count(FindingKind::StrayVersion) +
                      count(FindingKind::BeyondKeeping) + count(FindingKind::Mismatch);
}

QString VolumeCheckText::KindName(FindingKind kind) {
    switch (kind) {
    case FindingKind::MissingFile:
        return QStringLiteral("缺失文件");
    case FindingKind::Orphan:
        return QStringLiteral("孤立文件");
    case FindingKind::Leftover:
        return QStringLiteral("遗留文件");
    case FindingKind::MissingVersion:
        return QStringLiteral("缺失历史版本");
    case FindingKind::StrayVersion:
        return QStringLiteral("无记录的历史版本");
    case FindingKind::BeyondKeeping:
        return QStringLiteral("超出保留数的版本");
    case FindingKind::Mismatch:
        return QStringLiteral("校验不符");
    }
    return {};
}

QString VolumeCheckText::Counts(const VolumeCheckResult& r) {
    QString text =
        QStringLiteral("缺失文件%1个，孤立文件%2个，遗留文件%3个").arg(r.missing).arg(r.orphans).arg(r.leftovers);
    if (r.versionFindings > 0)
        text += QStringLiteral("，历史版本问题%1个").arg(r.versionFindings);
    return text;
}

bool IsLeftoverName(const QString& fileName, QString* storedName) {
    QRegularExpressionMatch m = SideName().match(fileName);
    if (!m.hasMatch())
        m = PartName().match(fileName);
    if (m.hasMatch()) {
        if (storedName)
            *storedName = m.captured(1);
        return true;
    }
    if (fileName.endsWith(QStringLiteral(".part"))) {
        if (storedName)
            storedName->clear();
        return true;
    }
    return false;
}

VolumeCheck::VolumeCheck(Session& session, TransferRunner runner) : m_session(session), m_run(std::move(runner)) {}

Outcome VolumeCheck::Run(const QString& volume, VolumeCheckResult& result) {
    result = VolumeCheckResult{};
    result.checkedAt = m_session.clock().now().toUTC();
    const QString password = m_session.ctx.AdminPassword;
    return Guarded([&] {
        Database& db = m_session.db();
        std::vector<Volume> volumes;
        if (volume.isEmpty()) {
            for (const QString& name : VolumeNames(db)) {
                if (auto v = FindVolume(db, name))
                    volumes.push_back(*v);
            }
        } else {
            auto v = FindVolume(db, volume);
            if (!v)
                return Outcome::refusal(QStringLiteral("存储目录<%1>不存在，可能已被删除！").arg(volume));
            volumes.push_back(*v);
        }
        const int total = int(volumes.size());
        for (int i = 0; i < total; ++i) {
            const Volume& v = volumes[size_t(i)];
            if (onProgress)
                onProgress(i, total, v.name);
            result.volumes << v.name;

            // The listing first: rows checked in while it runs then show up as rows whose file is
            // there, never as files that no row names.
            std::vector<RemoteEntry> entries;
            const QString url = VolumeUrl(password, v.serverIp);
            const QString folder = VolumeFolder(v.name);
            const TransferResult listed =
                m_run([&](FtpClient& c, const TransferProgress&) { return c.List(url, folder, entries); });
            if (!listed) {
                result.failed << v.name + QStringLiteral("：") + listed.message;
                continue;
            }

            const QHash<QString, QString> named = LibraryStore(db).filesOn(v.name); // stored name -> code
            result.rows += int(named.size());
            const std::vector<VersionRow> versions = VersionStore(db).onVolume(v.name);
            QSet<QString> versionNamed;
            for (const VersionRow& r : versions)
                versionNamed.insert(r.storedName);

            QSet<QString> present;
            for (const RemoteEntry& e : entries) {
                if (e.kind == RemoteKind::Folder)
                    continue;
                ++result.files;
                present.insert(e.name);
                // A file a version row names waits there for its move into the history folder.
                if (named.contains(e.name) || versionNamed.contains(e.name))
                    continue;
                Finding f;
                f.volume = v.name;
                f.fileName = e.name;
                f.size = e.size;
                f.modified = e.modified;
                QString stored;
                if (IsLeftoverName(e.name, &stored)) {
                    f.kind = FindingKind::Leftover;
                    f.code = named.value(stored);
                } else {
                    f.kind = FindingKind::Orphan;
                }
                result.findings.push_back(std::move(f));
            }
            for (auto it = named.cbegin(); it != named.cend(); ++it) {
                if (present.contains(it.key()))
                    continue;
                Finding f;
                f.kind = FindingKind::MissingFile;
                f.volume = v.name;
                f.code = it.value();
                f.fileName = it.key();
                result.findings.push_back(std::move(f));
            }
            checkVersions(db, v.name, url, named, versions, present, result);
        }
        if (onProgress)
            onProgress(total, total, QString());
        std::stable_sort(result.findings.begin(), result.findings.end(), [](const Finding& a, const Finding& b) {
            if (a.volume != b.volume)
                return a.volume < b.volume;
            if (a.kind != b.kind)
                return int(a.kind) < int(b.kind);
            return a.fileName < b.fileName;
        });
        result.recount();

        const QString scope = volume.isEmpty() ? VolumeCheckText::AllVolumes : volume;
        AppendLogRow(m_session, scope + QStringLiteral("：") + VolumeCheckText::Counts(result),
                     VolumeCheckText::LogCheck);
        if (!result.failed.isEmpty())
            return Outcome::success(QStringLiteral("以下存储目录无法检查：\n") + result.failed.join(u'\n'), Icon::Stop);
        return Outcome::success();
    });
}

namespace {
QString InHistory(const QString& fileName) { return kHistoryFolderName + QLatin1Char('/') + fileName; }
QString HistoryName(const VersionRow& r) { return QString::number(r.number) + QLatin1Char('-') + r.storedName; }
// Whether the version is its drawing's current one: the newest of its code on the volume, in the
// file its library row names.
bool IsCurrent(const VersionRow& r, const QHash<QString, QString>& named, const QHash<QString, qint64>& newest) {
    return named.value(r.storedName) == r.code && newest.value(r.code) == r.number;
}
} // namespace

void VolumeCheck::checkVersions(Database& db, const QString& volume, const QString& url,
                                const QHash<QString, QString>& named, const std::vector<VersionRow>& versions,
                                const QSet<QString>& present, VolumeCheckResult& result) {
    std::vector<RemoteEntry> entries;
    const TransferResult listed =
        m_run([&](FtpClient& c, const TransferProgress&) { return c.List(url, HistoryFolder(volume), entries); });
    if (!listed && listed.failure != TransferFailure::RemoteMissing) {
        result.failed << volume + QStringLiteral("：") + listed.message;
        return;
    }
    QHash<QString, const RemoteEntry*> kept;
    for (const RemoteEntry& e : entries)
        if (e.kind != RemoteKind::Folder)
            kept.insert(e.name, &e);
    QHash<QString, qint64> newest;
    QSet<QString> rowNamed;
    for (const VersionRow& r : versions) {
        if (!newest.contains(r.code))
            newest.insert(r.code, r.number);
        rowNamed.insert(HistoryName(r));
    }
    const qint64 keep = OfficeSettings(db).number(kKeepVersionsSetting, 0);
    QHash<QString, int> seen; // versions of each code met so far, newest first
    for (const VersionRow& r : versions) {
        const int rank = ++seen[r.code];
        if (IsCurrent(r, named, newest))
            continue;
        Finding f;
        f.volume = volume;
        f.code = r.code;
        f.fileName = InHistory(HistoryName(r));
        if (const RemoteEntry* e = kept.value(HistoryName(r))) {
            f.size = e->size;
            f.modified = e->modified;
            if (keep > 0 && rank > keep) {
                f.kind = FindingKind::BeyondKeeping;
                result.findings.push_back(std::move(f));
            }
        } else if (!present.contains(r.storedName) || named.contains(r.storedName)) {
            f.kind = FindingKind::MissingVersion;
            result.findings.push_back(std::move(f));
        }
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
        if (rowNamed.contains(it.key()))
            continue;
        Finding f;
        f.kind = FindingKind::StrayVersion;
        f.volume = volume;
        f.fileName = InHistory(it.key());
        f.size = it.value()->size;
        f.modified = it.value()->modified;
        result.findings.push_back(std::move(f));
    }
}

Outcome VolumeCheck::Verify(VolumeCheckResult& result, bool allVersions, const std::function<bool()>& stop) {
    const QString password = m_session.ctx.AdminPassword;
    return Guarded([&] {
        Database& db = m_session.db();
        QTemporaryDir scratch;
        if (!scratch.isValid())
            return Outcome::failure(QStringLiteral("无法建立临时文件夹：%1").arg(scratch.errorString()));
        struct Item {
            VersionRow row;
            QString remote;
        };
        std::vector<Item> items;
        for (const QString& volume : result.volumes) {
            const QHash<QString, QString> named = LibraryStore(db).filesOn(volume);
            const std::vector<VersionRow> versions = VersionStore(db).onVolume(volume);
            QHash<QString, qint64> newest;
            for (const VersionRow& r : versions)
                if (!newest.contains(r.code))
                    newest.insert(r.code, r.number);
            for (const VersionRow& r : versions) {
                // A version stored before the library kept versions has nothing to compare with.
                if (r.sha256.isEmpty())
                    continue;
                const bool current = IsCurrent(r, named, newest);
                if (current || allVersions)
                    items.push_back({r, current ? RemotePath(volume, r.storedName) : r.historyPath()});
            }
        }
        const int total = int(items.size());
        for (int i = 0; i < total; ++i) {
            if (stop && stop())
                return Outcome::success(QStringLiteral("校验已停止，已校验%1个文件。").arg(result.verified));
            const Item& it = items[size_t(i)];
            if (onProgress)
                onProgress(i, total, it.remote);
            const QString local = scratch.filePath(QString::number(i));
            const QString url = VolumeUrl(password, it.row.server);
            const TransferResult got =
                m_run([&](FtpClient& c, const TransferProgress&) { return c.GetPrivate(url, it.remote, local); });
            if (!got)
                continue; // a missing file is the check's own finding
            QFile f(local);
            Sha256 hash;
            if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
                return Outcome::failure(QStringLiteral("无法读取下载的文件%1").arg(local));
            const qint64 size = f.size();
            f.close();
            QFile::remove(local);
            ++result.verified;
            if (QString::fromLatin1(hash.hexResult()) == it.row.sha256 && (it.row.size < 0 || size == it.row.size))
                continue;
            Finding m;
            m.kind = FindingKind::Mismatch;
            m.volume = it.row.volume;
            m.code = it.row.code;
            m.fileName = it.remote.mid(VolumeFolder(it.row.volume).size() + 1);
            m.size = size;
            result.findings.push_back(std::move(m));
        }
        if (onProgress)
            onProgress(total, total, QString());
        result.recount();
        return Outcome::success();
    });
}

bool VolumeCheck::removable(const Finding& f) const {
    if (f.kind != FindingKind::Leftover || IsDwg(f.fileName) || !f.modified.isValid())
        return false;
    const QDateTime now = m_session.clock().now().toUTC();
    return f.modified.secsTo(now) > kLeftoverAgeSeconds;
}

// The library as it is now, not as it was when the list was made.
bool VolumeCheck::keepNow(Database& db, const Finding& f) const {
    if (OwnerOf(db, f.volume, f.fileName))
        return true;
    QString stored;
    IsLeftoverName(f.fileName, &stored);
    const QRegularExpressionMatch staged = SideName().match(f.fileName);
    if (staged.hasMatch() && staged.captured(2).startsWith(QStringLiteral("new-"))) {
        const qint64 number = staged.captured(2).mid(4).toLongLong();
        // A batch uploads under the number it reserved long before it commits the row that names it.
        if (ReservedNumbers::held(db, number))
            return true;
        // The staged file of a drawing's last check-in is that drawing's committed version, waiting
        // to be moved into place.
        const std::optional<Owner> owner = OwnerOf(db, f.volume, stored);
        if (owner && number >= owner->lastCheckIn)
            return true;
    }
    return false;
}

// A version beyond keeping goes, asked again now: the setting and the versions as they are at this
// moment, never the current one. Its row first: a crash in between leaves a file no row names, which
// the next check lists, never a row without its file. Done with a text when it went.
Outcome VolumeCheck::dropBeyondKeeping(Database& db, const Finding& f) {
    const qint64 keep = OfficeSettings(db).number(kKeepVersionsSetting, 0);
    if (keep <= 0)
        return Outcome::success();
    const qint64 number = HistoryFileNumber(f.fileName.mid(kHistoryFolderName.size() + 1));
    const rows::CodeLocks held(db, {f.code});
    VersionStore store(db);
    const std::vector<VersionRow> all = store.ofCode(f.code);
    const auto at = std::find_if(all.begin(), all.end(), [&](const VersionRow& r) { return r.number == number; });
    if (at == all.end() || at - all.begin() < keep || at == all.begin())
        return Outcome::success();
    const rows::StoredDrawing d = LibraryStore(db).readDrawing(f.code);
    if (d.exists && d.volume == at->volume && d.fileName == at->storedName && rows::lastCheckIn(db, f.code) == number)
        return Outcome::success();
    const auto v = FindVolume(db, f.volume);
    if (!v)
        return Outcome::success();
    store.remove(f.code, number);
    const QString url = VolumeUrl(m_session.ctx.AdminPassword, v->serverIp);
    const QString path = RemotePath(f.volume, f.fileName);
    const TransferResult gone = m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, path); });
    return gone ? Outcome::success(f.fileName) : Outcome::failure(gone.message);
}

int VolumeCheck::RemovableCount(const VolumeCheckResult& result) const {
    int n = 0;
    try {
        Database& db = m_session.db();
        for (const Finding& f : result.findings) {
            if ((removable(f) && !keepNow(db, f)) || f.kind == FindingKind::BeyondKeeping)
                ++n;
        }
    } catch (const Error&) {
        // The clean-up itself reports the database; the question then counts by age alone.
        return int(std::count_if(result.findings.begin(), result.findings.end(),
                                 [this](const Finding& f) { return removable(f); }));
    }
    return n;
}

Outcome VolumeCheck::CleanUp(VolumeCheckResult& result, CareCounts& counts) {
    counts = CareCounts{};
    std::vector<bool> handled(result.findings.size(), false);
    const auto forget = qScopeGuard([&] { Forget(result, handled); });
    const QString password = m_session.ctx.AdminPassword;
    Outcome outcome = Guarded([&] {
        Database& db = m_session.db();
        for (size_t i = 0; i < result.findings.size(); ++i) {
            const Finding& f = result.findings[i];
            if (f.kind == FindingKind::BeyondKeeping) {
                const Outcome dropped = dropBeyondKeeping(db, f);
                if (dropped.done() && !dropped.text.isEmpty()) {
                    ++counts.removed;
                    handled[i] = true;
                } else {
                    ++(dropped.done() ? counts.kept : counts.failed);
                }
                continue;
            }
            if (f.kind != FindingKind::Leftover)
                continue;
            if (!removable(f)) {
                ++counts.kept;
                continue;
            }
            if (keepNow(db, f)) {
                ++counts.kept;
                continue;
            }
            const auto v = FindVolume(db, f.volume);
            if (!v) {
                ++counts.kept;
                continue;
            }
            const QString url = VolumeUrl(password, v->serverIp);
            const QString path = RemotePath(f.volume, f.fileName);
            const TransferResult gone =
                m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, path); });
            if (gone) {
                ++counts.removed;
                handled[i] = true;
            } else {
                ++counts.failed;
            }
        }
        return Outcome::success();
    });
    return closeCare(outcome, counts, QStringLiteral("删除%1个，保留%2个，失败%3个"), VolumeCheckText::LogCleanUp,
                     QStringLiteral("清理完毕：删除遗留文件%1个。").arg(counts.removed),
                     QStringLiteral("另有%1个文件删除失败。"));
}

Outcome VolumeCheck::MoveOrphans(VolumeCheckResult& result, CareCounts& counts) {
    counts = CareCounts{};
    std::vector<bool> handled(result.findings.size(), false);
    const auto forget = qScopeGuard([&] { Forget(result, handled); });
    const QString password = m_session.ctx.AdminPassword;
    Outcome outcome = Guarded([&] {
        Database& db = m_session.db();
        QSet<QString> prepared;
        for (size_t i = 0; i < result.findings.size(); ++i) {
            const Finding& f = result.findings[i];
            if (f.kind != FindingKind::Orphan)
                continue;
            const auto v = FindVolume(db, f.volume);
            if (!v || OwnerOf(db, f.volume, f.fileName)) {
                ++counts.kept;
                continue;
            }
            const QString url = VolumeUrl(password, v->serverIp);
            const QString folder = VolumeFolder(f.volume) + QLatin1Char('/') + VolumeCheckText::OrphanFolder;
            if (!prepared.contains(f.volume)) {
                const TransferResult made =
                    m_run([&](FtpClient& c, const TransferProgress&) { return c.MakeFolder(url, folder); });
                if (!made)
                    return Outcome::failure(made.message);
                prepared.insert(f.volume);
            }
            const QString from = RemotePath(f.volume, f.fileName);
            const QString to = folder + QLatin1Char('/') + f.fileName;
            // A file of that name moved there before stays; this one stays where it is.
            const TransferResult there =
                m_run([&](FtpClient& c, const TransferProgress&) { return c.Exists(url, to); });
            if (!there || there.kind != RemoteKind::Absent) {
                ++counts.failed;
                continue;
            }
            // A check-in holds the name's lock from before its commit until its file is in place, so
            // under that lock a file no row names stays unnamed until it is moved.
            const rows::CodeLocks held(db, {}, f.volume, {f.fileName});
            if (OwnerOf(db, f.volume, f.fileName)) {
                ++counts.kept;
                continue;
            }
            const TransferResult moved =
                m_run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, from, to); });
            if (moved) {
                ++counts.removed;
                handled[i] = true;
            } else {
                ++counts.failed;
            }
        }
        return Outcome::success();
    });
    return closeCare(
        outcome, counts, QStringLiteral("移动%1个，保留%2个，失败%3个"), VolumeCheckText::LogMoveOrphans,
        QStringLiteral("已将%1个孤立文件移入“%2”文件夹。").arg(counts.removed).arg(VolumeCheckText::OrphanFolder),
        QStringLiteral("另有%1个文件未能移动。"));
}

// What a clean-up or a move ends with: one log row with its counts whenever a file was dealt with (also
// after a failure midway, so nothing changes on a volume without a trace), then the outcome.
Outcome VolumeCheck::closeCare(const Outcome& outcome, const CareCounts& counts, const QString& logPattern,
                               const QString& logWord, const QString& doneText, const QString& failedPattern) {
    if (!outcome.done() && counts.removed == 0)
        return outcome;
    return Guarded([&] {
        AppendLogRow(m_session, logPattern.arg(counts.removed).arg(counts.kept).arg(counts.failed), logWord);
        if (!outcome.done())
            return outcome;
        if (counts.failed > 0)
            return Outcome::success(doneText + failedPattern.arg(counts.failed), Icon::Stop);
        return Outcome::success(doneText);
    });
}

} // namespace velda
