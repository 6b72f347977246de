#include "library/DrawingLibrary.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/Batch.h"
#include "library/CheckInSteps.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "library/Versions.h"
#include "store/DatabaseInit.h"
#include "transfer/TransferCommand.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace velda {

QString LibraryDate(const QDate& d) { return ShortDateText(d); }

QString CodeLengthProblem(const QString& code) {
    if (CodeFits(code))
        return {};
    const qsizetype bytes = code.toUtf8().size();
    return QStringLiteral("零件代号过长，入库无法完成！代号最长%1个字节（字母、数字每个占1个字节，汉字每个占3个字节），"
                          "此代号有%2个字节。")
        .arg(kMaxCodeBytes)
        .arg(bytes);
}

QString StagedName(const QString& remotePath, qint64 logNumber) {
    return remotePath + QStringLiteral(".new-") + QString::number(logNumber);
}

using namespace rows;

DrawingLibrary::DrawingLibrary(Session& session, TransferRunner runner)
    : m_session(session), m_run(std::move(runner)),
      m_connections(std::make_shared<std::vector<std::unique_ptr<FtpClient>>>()) {}

DrawingLibrary::Choice DrawingLibrary::PrepareCheckIn(const QString& code) {
    Choice c;
    UserContext& ctx = m_session.ctx;
    c.refusal = Guarded([&] {
        const StoredDrawing d = LibraryStore(m_session.db()).readDrawing(code);
        if (d.exists) {
            if (!Acl::Grants(d.write, ctx))
                return Outcome::refusal(LibraryText::NoWriteRight);
            c.existing = true;
            c.changeAllowed = Acl::Grants(d.change, ctx);
            Acl::SetPending(ctx, d.read, d.write, d.del, d.change);
        } else {
            const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
            Acl::SetPending(ctx, list, list, list, list);
        }
        return Outcome::success();
    });
    return c;
}

Outcome DrawingLibrary::Recover(const QString& code) {
    return Guarded([&] {
        Database& db = m_session.db();
        const StoredDrawing d = LibraryStore(db).readDrawing(code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::success();
        const qint64 last = lastCheckIn(db, code);
        if (last <= 0)
            return Outcome::success();
        const QString url = VolumeUrl(m_session.ctx.AdminPassword, d.server);
        bool staged = false;
        const TransferResult probed = m_run([&](FtpClient& c, const TransferProgress&) {
            TransferResult there = c.IsFile(url, StagedName(d.remotePath(), last));
            staged = there && there.kind == RemoteKind::File;
            return there;
        });
        if (!probed)
            return Outcome::failure(probed.message);
        if (!staged)
            return Outcome::success();
        // Moved only under the lock a check-in holds up to its own move, and only while its number is
        // still the last: a newer file that landed meanwhile must not be overwritten by this one.
        const CodeLocks held(db, {code});
        const LibraryStore store(db);
        const StoredDrawing now = store.readDrawing(code);
        if (!now.exists || !now.volumeKnown)
            return Outcome::success();
        return finishCutOff(code, now, lastCheckIn(db, code));
    });
}

Outcome DrawingLibrary::finishCutOff(const QString& code, const StoredDrawing& now, qint64 number) {
    if (number <= 0)
        return Outcome::success();
    Database& db = m_session.db();
    const LibraryStore store(db);
    // The version before it first, unless another code's row names that file.
    std::optional<VersionRow> previous = VersionStore(db).before(code, number);
    if (previous && !store.otherCodeOfFile(code, previous->volume, previous->storedName).isEmpty())
        previous.reset();
    const QString& password = m_session.ctx.AdminPassword;
    const TransferResult done = m_run([&](FtpClient& c, const TransferProgress&) {
        return PromoteKeeping(c, VolumeUrl(password, now.server), now.remotePath(), number, previous,
                              previous ? VolumeUrl(password, previous->server) : QString());
    });
    return done ? Outcome::success() : Outcome::failure(done.message);
}

// A batch of one: the same steps in the same loss-free order, with the lists the user edited.
Outcome DrawingLibrary::CheckIn(const QString& code, const QString& localPath, const QString& comment) {
    if (std::optional<Outcome> no = CheckInSteps::refuseFirst(m_session.ctx, code, localPath))
        return *no;
    const std::optional<QString> kept = CleanComment(comment);
    if (!kept)
        return Outcome::refusal(VersionText::CommentTooLong(comment.size()));
    return Guarded([&] {
        BatchLibrary one(m_session, m_run, m_connections);
        one.pendingRights = true;
        one.comment = *kept;
        one.onStep = onStep;
        return one.CheckIn({localPath}, {}, {code}).last;
    });
}

Outcome DrawingLibrary::CheckOut(const QString& code, const QString& localPath) {
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    return Guarded([&] {
        BatchLibrary one(m_session, m_run, m_connections);
        one.onStep = onStep;
        return one.CheckOut({code}, QFileInfo(localPath).absolutePath(), {}, {localPath}).last;
    });
}

Outcome DrawingLibrary::Delete(const QString& code) {
    const UserContext ctx = m_session.ctx;
    if (code.isEmpty())
        return Outcome::refusal(LibraryText::CodeEmpty);
    return Guarded([&] {
        Database& db = m_session.db();
        LibraryStore store(db);
        if (const Outcome recovered = Recover(code); !recovered.done())
            return recovered;
        StoredDrawing d = store.readDrawing(code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::refusal(LibraryText::NotInLibrary);
        if (!Acl::Grants(d.del, ctx))
            return Outcome::refusal(LibraryText::NoRight);
        if (d.state == kOut)
            return Outcome::refusal(LibraryText::DeleteWhileOut);

        // Held until the file is gone, past the commit: a check-in of the same code on the same day
        // writes a row naming the same file, which our late removal would otherwise take from it.
        const CodeLocks held(db, {code}, d.volume, {d.fileName});
        Transaction tx(db, Transaction::Kind::Write);
        lockCode(db, code);
        step(u"locked");
        const StoredDrawing before = d;
        d = store.readDrawing(code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::refusal(LibraryText::NotInLibrary);
        if (!d.sameFile(before))
            return Outcome::failure(QStringLiteral("图纸<%1>刚被其他用户重新入库，请稍后再删除").arg(code));
        if (!Acl::Grants(d.del, ctx))
            return Outcome::refusal(LibraryText::NoRight);
        if (d.state == kOut)
            return Outcome::refusal(LibraryText::DeleteWhileOut);
        const QString url = VolumeUrl(ctx.AdminPassword, d.server);
        const QString remote = d.remotePath();
        // The server must answer before the row goes: a deletion against a server that is gone is
        // refused and keeps the row. A file already missing counts as deleted. The history folder
        // must take the file, since after the commit the move cannot be refused.
        TransferResult there = m_run([&](FtpClient& c, const TransferProgress&) {
            const TransferResult writable = ProbeHistoryFolder(c, url, d.volume);
            return writable ? c.Exists(url, remote) : writable;
        });
        if (!there)
            return Outcome::failure(there.message);
        const qint64 number = lastCheckIn(db, code);
        VersionStore versions(db);
        versions.describeCurrent({{code, number}});
        store.deleteDrawing(code);
        AppendLogRow(m_session, db, ctx.UserId, code, LogWord::DeleteDrawing);
        versions.markDeleted(code, ctx.UserId, LogTimeText(m_session.clock().now()));
        step(u"recorded");
        tx.commit();
        step(u"committed");
        // The row is gone; its file follows into the history folder. Should this fail, the file waits
        // under its stored name, where its version row finds it.
        if (there.kind == RemoteKind::File && store.otherCodeOfFile(code, d.volume, d.fileName).isEmpty())
            m_run([&](FtpClient& c, const TransferProgress&) {
                return KeepInHistory(c, url, d.volume, d.fileName, number);
            });
        step(u"kept");
        return Outcome::success(LibraryText::Deleted);
    });
}

} // namespace velda
