#include "library/DrawingLibrary.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/CheckInSteps.h"
#include "library/CheckOutRules.h"
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
    : m_session(session), m_run(std::move(runner)) {}

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
            TransferResult there = c.Exists(url, StagedName(d.remotePath(), last));
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

namespace {
// Removes the staged file when the check-in that made it does not get to commit it.
class StagedFileGuard final {
public:
    StagedFileGuard(const TransferRunner& run, CheckInSteps& steps) : m_run(run), m_steps(steps) {}
    ~StagedFileGuard() {
        if (m_armed)
            m_run([&](FtpClient& c, const TransferProgress&) { return m_steps.discard(c); });
    }
    StagedFileGuard(const StagedFileGuard&) = delete;
    StagedFileGuard& operator=(const StagedFileGuard&) = delete;

    void dismiss() { m_armed = false; }

private:
    const TransferRunner& m_run;
    CheckInSteps& m_steps;
    bool m_armed = true;
};
} // namespace

Outcome DrawingLibrary::CheckIn(const QString& code, const QString& localPath, const QString& comment) {
    // Taken once: a change of account while the transfers run must not change whose check-in this is.
    const UserContext ctx = m_session.ctx;
    if (std::optional<Outcome> no = CheckInSteps::refuseFirst(ctx, code, localPath))
        return *no;
    const std::optional<QString> kept = CleanComment(comment);
    if (!kept)
        return Outcome::refusal(VersionText::CommentTooLong(comment.size()));
    return Guarded([&] {
        try {
            return checkIn(ctx, code, localPath, *kept);
        } catch (const DuplicateKeyError&) {
            return Outcome::failure(QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code));
        }
    });
}

// The check-in's steps one after the other, in the order that loses nothing (see the class comment).
Outcome DrawingLibrary::checkIn(const UserContext& ctx, const QString& code, const QString& localPath,
                                const QString& comment) {
    Database& db = m_session.db();
    CheckInSteps steps(m_session, ctx, code, localPath, comment);
    // The rules on the rows as they are now: before the upload, a cheap early refusal; again once the
    // code is locked, since another client may act in between.
    struct Now {
        Holder holder;
        StoredDrawing old;
        QString otherCode;
    };
    auto readNow = [&] {
        const LibraryStore store(db);
        return Now{store.holderOf(code), store.readDrawing(code),
                   store.otherCodeOfFile(code, ctx.VolumeName, steps.storedName())};
    };
    const Now before = readNow();
    if (std::optional<Outcome> no = steps.plan(before.holder, before.old, before.otherCode))
        return *no;

    StagedFileGuard guard(m_run, steps);
    const TransferResult put = m_run([&](FtpClient& c, const TransferProgress& p) { return steps.upload(c, p); });
    if (!put)
        return Outcome::failure(put.message);
    step(u"uploaded");

    // Held until the staged file is in place, past the commit (see CodeLocks).
    const CodeLocks held(db, {code}, ctx.VolumeName, {steps.storedName()});
    Transaction tx(db, Transaction::Kind::Write);
    lockCode(db, code);
    lockStoredName(db, ctx.VolumeName, steps.storedName());
    step(u"locked");
    const Now locked = readNow();
    if (steps.historyUnasked(locked.old)) {
        const TransferResult asked =
            m_run([&](FtpClient& c, const TransferProgress&) { return steps.askHistory(c, locked.old); });
        if (!asked)
            return Outcome::failure(asked.message);
    }
    // A check-in cut off after its commit is finished before this one builds on the row: under the
    // lock, where the check-in that staged it is surely done or gone and its number surely the newest
    // (see BatchCheckIn's recoverCutOff).
    if (locked.old.exists && locked.old.volumeKnown)
        if (const Outcome recovered = finishCutOff(code, locked.old, lastCheckIn(db, code)); !recovered.done())
            return recovered;
    if (std::optional<Outcome> no = steps.lockAndRecord(locked.holder, locked.old, locked.otherCode))
        return *no;
    step(u"recorded");

    const TransferResult stage = m_run([&](FtpClient& c, const TransferProgress&) { return steps.stage(c); });
    if (!stage)
        return Outcome::failure(stage.message);
    step(u"staged");

    // From here the staged file belongs to the commit: should the commit's answer be lost, the
    // row may yet be in, and recovery decides by the log row.
    guard.dismiss();
    tx.commit();
    step(u"committed");

    // After the commit: the previous version's file into the history folder, then the staged file
    // into place. A failure of either loses nothing: recovery finishes both later.
    if (steps.oldFileToKeep()) {
        const TransferResult kept = m_run([&](FtpClient& c, const TransferProgress&) { return steps.keepOld(c); });
        if (!kept)
            return Outcome::success(LibraryText::CheckedIn);
    }
    step(u"kept");
    const TransferResult placed = m_run([&](FtpClient& c, const TransferProgress&) { return steps.place(c); });
    step(u"promoted");
    if (!placed && placed.failure == TransferFailure::RemoteMissing)
        return Outcome::failure(placed.message);
    return Outcome::success(LibraryText::CheckedIn);
}

Outcome DrawingLibrary::CheckOut(const QString& code, const QString& localPath) {
    const UserContext ctx = m_session.ctx;
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    return Guarded([&] {
        Database& db = m_session.db();
        LibraryStore store(db);
        // A re-check-in may replace the file between the fetch and the record; then fetch again so
        // the holder's copy is the version his check-out records.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (const Outcome recovered = Recover(code); !recovered.done())
                return recovered;
            const StoredDrawing d = store.readDrawing(code);
            if (!d.exists || !d.volumeKnown)
                return Outcome::refusal(LibraryText::NotInLibrary);
            if (!Acl::Grants(d.read, ctx))
                return Outcome::refusal(LibraryText::NoRight);
            const qint64 version = lastCheckIn(db, code);
            const QString url = VolumeUrl(ctx.AdminPassword, d.server);
            const QString remote = d.remotePath();
            const TransferResult got =
                m_run([&](FtpClient& c, const TransferProgress& p) { return c.Get(url, remote, localPath, p); });
            if (!got)
                return Outcome::failure(got.message);

            Transaction tx(db, Transaction::Kind::Write);
            lockCode(db, code);
            const StoredDrawing now = store.readDrawing(code);
            const qint64 nowVersion = now.exists ? lastCheckIn(db, code) : 0;
            const CheckOutRule rule =
                CheckOutRuleFor(ctx, code, d, version, now, nowVersion, [&] { return store.holderOf(code); });
            if (rule.kind == CheckOutRule::Kind::Changed)
                continue;
            if (rule.kind == CheckOutRule::Kind::Broken)
                throw Error(rule.outcome.text);
            if (rule.kind == CheckOutRule::Kind::Refused)
                return rule.outcome;
            RecordCheckOut(m_session, db, ctx.UserId, code, rule.takesHold);
            tx.commit();
            return rule.outcome;
        }
        return Outcome::failure(QStringLiteral("图纸<%1>正被他人反复入库，请稍后再出库").arg(code));
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
