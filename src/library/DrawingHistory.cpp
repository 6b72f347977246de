#include "library/DrawingHistory.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "transfer/TransferCommand.h"

#include <QDir>
#include <QTemporaryDir>

namespace velda {

using namespace rows;

DrawingHistory::DrawingHistory(Session& session, TransferRunner runner)
    : m_session(session), m_run(std::move(runner)) {}

QString DrawingHistory::FetchName(const QString& code, qint64 number) {
    QString safe = code;
    safe.replace(QLatin1Char('/'), QLatin1Char('-'));
    return safe + QStringLiteral("-v") + QString::number(number) + QStringLiteral(".dwg");
}

Outcome DrawingHistory::readable(const QString& code, bool* deleted) {
    if (code.isEmpty())
        return Outcome::refusal(LibraryText::CodeEmpty);
    const StoredDrawing d = LibraryStore(m_session.db()).readDrawing(code);
    *deleted = !d.exists;
    if (d.exists)
        return Acl::Grants(d.read, m_session.ctx) ? Outcome::success() : Outcome::refusal(LibraryText::NoRight);
    if (!m_session.ctx.isAdministrator())
        return Outcome::refusal(HistoryText::AdminOnly);
    return Outcome::success();
}

Outcome DrawingHistory::Versions(const QString& code, std::vector<VersionRow>& out) {
    out.clear();
    return Guarded([&] {
        bool deleted = false;
        if (Outcome no = readable(code, &deleted); !no.done())
            return no;
        out = VersionStore(m_session.db()).ofCode(code);
        if (out.empty())
            return Outcome::refusal(HistoryText::NoHistory(code));
        return Outcome::success();
    });
}

Outcome DrawingHistory::download(const VersionRow& v, const QString& localPath) {
    Database& db = m_session.db();
    const LibraryStore store(db);
    const StoredDrawing d = store.readDrawing(v.code);
    const bool current = d.exists && d.volume == v.volume && d.fileName == v.storedName && v.number > 0 &&
                         lastCheckIn(db, v.code) == v.number;
    QStringList places;
    if (current) {
        if (const Outcome recovered = DrawingLibrary(m_session, m_run).Recover(v.code); !recovered.done())
            return recovered;
        places << RemotePath(v.volume, v.storedName);
    } else {
        places << v.historyPath();
        // A deletion or check-in cut off before its move left the file under its stored name, which
        // it still has when no later version and no row took that name.
        bool taken = d.exists && d.volume == v.volume && d.fileName == v.storedName;
        taken = taken || !store.otherCodeOfFile(v.code, v.volume, v.storedName).isEmpty();
        for (const VersionRow& later : VersionStore(db).ofCode(v.code))
            taken = taken || (later.number > v.number && later.volume == v.volume && later.storedName == v.storedName);
        if (!taken)
            places << RemotePath(v.volume, v.storedName);
    }
    if (v.server.isEmpty())
        return Outcome::failure(VersionText::VersionFileMissing(v.code, v.number, v.volume));
    const QString url = VolumeUrl(m_session.ctx.AdminPassword, v.server);
    for (const QString& remote : places) {
        const TransferResult got =
            m_run([&](FtpClient& c, const TransferProgress& p) { return c.Get(url, remote, localPath, p); });
        if (got)
            return Outcome::success();
        if (got.failure != TransferFailure::RemoteMissing)
            return Outcome::failure(got.message);
    }
    return Outcome::failure(VersionText::VersionFileMissing(v.code, v.number, v.volume));
}

Outcome DrawingHistory::Fetch(const QString& code, qint64 number, const QString& folder, QString* savedAs) {
    return Guarded([&] {
        bool deleted = false;
        if (Outcome no = readable(code, &deleted); !no.done())
            return no;
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return Outcome::refusal(QStringLiteral("文件夹%1不存在！").arg(folder));
        const std::optional<VersionRow> v = VersionStore(m_session.db()).one(code, number);
        if (!v)
            return Outcome::refusal(VersionText::NoSuchVersion(code, number));
        const QString target = QDir(folder).filePath(FetchName(code, number));
        if (Outcome got = download(*v, target); !got.done())
            return got;
        AppendLogRow(m_session, m_session.db(), m_session.ctx.UserId, code, LogWord::FetchVersion);
        if (savedAs)
            *savedAs = target;
        return Outcome::success(HistoryText::FetchedAs(target));
    });
}

Outcome DrawingHistory::Preview(const QString& code, qint64 number, const QString& localPath) {
    return Guarded([&] {
        bool deleted = false;
        if (Outcome no = readable(code, &deleted); !no.done())
            return no;
        const std::optional<VersionRow> v = VersionStore(m_session.db()).one(code, number);
        if (!v)
            return Outcome::refusal(VersionText::NoSuchVersion(code, number));
        return download(*v, localPath);
    });
}

Outcome DrawingHistory::checkInVersion(const QString& code, qint64 number, const QString& comment, bool undelete) {
    const Outcome prepared = Guarded([&] {
        bool deleted = false;
        if (Outcome no = readable(code, &deleted); !no.done())
            return no;
        if (undelete && !deleted)
            return Outcome::refusal(HistoryText::CodeTaken(code));
        if (!undelete && deleted)
            return Outcome::refusal(LibraryText::NotInLibrary);
        return Outcome::success();
    });
    if (!prepared.done())
        return prepared;
    std::optional<VersionRow> v;
    const Outcome found = Guarded([&] {
        VersionStore versions(m_session.db());
        if (undelete) {
            const std::vector<VersionRow> all = versions.ofCode(code);
            if (all.empty() || all.front().deletedAt.isEmpty())
                return Outcome::refusal(HistoryText::NotDeleted(code));
            v = all.front();
        } else {
            v = versions.one(code, number);
        }
        return v ? Outcome::success() : Outcome::refusal(VersionText::NoSuchVersion(code, number));
    });
    if (!found.done())
        return found;
    const std::optional<QString> kept = CleanComment(comment);
    if (!kept)
        return Outcome::refusal(VersionText::CommentTooLong(comment.size()));
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return Outcome::failure(QStringLiteral("无法建立临时文件夹：%1").arg(scratch.errorString()));
    const QString local = scratch.filePath(FetchName(code, v->number));
    if (Outcome got = download(*v, local); !got.done())
        return got;

    // The rights the check-in writes: the stored lists of a live drawing, the user's default list for
    // one that comes back; the session's pending lists are the dialog's and stay as they were.
    UserContext& ctx = m_session.ctx;
    const QStringList pending{ctx.PendingRead, ctx.PendingWrite, ctx.PendingDelete, ctx.PendingChange};
    DrawingLibrary library(m_session, m_run);
    const DrawingLibrary::Choice choice = library.PrepareCheckIn(code);
    Outcome out = choice.refusal;
    if (out.done())
        out = library.CheckIn(code, local, kept->isEmpty() ? VersionText::RestoredFrom(v->number) : *kept);
    Acl::SetPending(ctx, pending[0], pending[1], pending[2], pending[3]);
    if (out.done())
        out = Outcome::success(HistoryText::Restored);
    return out;
}

Outcome DrawingHistory::Restore(const QString& code, qint64 number, const QString& comment) {
    return checkInVersion(code, number, comment, false);
}

Outcome DrawingHistory::Undelete(const QString& code, const QString& comment) {
    return checkInVersion(code, 0, comment, true);
}

Outcome DrawingHistory::Deleted(std::vector<DeletedDrawing>& out) {
    out.clear();
    if (!m_session.ctx.isAdministrator())
        return Outcome::refusal(HistoryText::AdminOnly);
    return Guarded([&] {
        out = VersionStore(m_session.db()).deleted();
        return Outcome::success();
    });
}

} // namespace velda
