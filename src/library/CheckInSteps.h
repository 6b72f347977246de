#pragma once

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace velda {

using namespace rows;

// Removes a side file when the command that made it does not get to use it.
class SideFileGuard final {
public:
    SideFileGuard(const TransferRunner& run, QString url) : m_run(run), m_url(std::move(url)) {}
    ~SideFileGuard() {
        if (m_path.isEmpty())
            return;
        const QString url = m_url;
        const QString path = m_path;
        m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, path); });
    }
    SideFileGuard(const SideFileGuard&) = delete;
    SideFileGuard& operator=(const SideFileGuard&) = delete;

    void watch(const QString& path) { m_path = path; }
    void dismiss() { m_path.clear(); }

private:
    const TransferRunner& m_run;
    QString m_url;
    QString m_path;
};

// The check-in, step by step, in the order that loses nothing (see the class comment).
class CheckInSteps final {
public:
    CheckInSteps(DrawingLibrary& library, const UserContext& ctx, const QString& code, const QString& localPath)
        : m_lib(library), m_session(library.m_session), m_db(library.m_session.db()), m_ctx(ctx), m_code(code),
          m_localPath(localPath), m_today(m_session.clock().today()), m_storedName(StoredFileName(m_today, code)),
          m_finalPath(RemotePath(ctx.VolumeName, m_storedName)),
          m_url(VolumeUrl(ctx.AdminPassword, ctx.VolumeServerIp)) {}

    Outcome run() {
        if (std::optional<Outcome> no = refuseOnRows())
            return *no;
        // A check-in cut off after its commit is finished before this one builds on the row.
        if (const Outcome recovered = m_lib.Recover(m_code); !recovered.done())
            return recovered;

        SideFileGuard side(m_lib.m_run, m_url);
        const QString incoming = incomingName(m_finalPath);
        side.watch(incoming);
        const TransferResult put = m_lib.m_run(
            [&](FtpClient& c, const TransferProgress& p) { return c.PutPrivate(m_url, m_localPath, incoming, p); });
        if (!put)
            return Outcome::failure(put.message);
        m_lib.step(u"uploaded");

        // Held until the staged file is in place, past the commit (see HeldCodeLocks).
        const HeldCodeLocks held(m_db, {m_code}, m_ctx.VolumeName, {m_storedName});
        Transaction tx(m_db, Transaction::Kind::Write);
        lockCode(m_db, m_code);
        lockStoredName(m_db, m_ctx.VolumeName, m_storedName);
        m_lib.step(u"locked");
        if (std::optional<Outcome> no = refuseOnRows())
            return *no;
        const qint64 number = record();
        m_lib.step(u"recorded");

        const QString staged = StagedName(m_finalPath, number);
        const TransferResult stage =
            m_lib.m_run([&](FtpClient& c, const TransferProgress&) { return c.Rename(m_url, incoming, staged); });
        if (!stage)
            return Outcome::failure(stage.message);
        side.watch(staged);
        m_lib.step(u"staged");

        // From here the staged file belongs to the commit: should the commit's answer be lost, the
        // row may yet be in, and recovery decides by the log row.
        side.dismiss();
        tx.commit();
        m_lib.step(u"committed");

        // Any other failure of the move loses nothing: recovery finishes it later.
        if (const TransferResult placed = finish(number); !placed && placed.failure == TransferFailure::RemoteMissing)
            return Outcome::failure(placed.message);
        return Outcome::success(LibraryText::CheckedIn);
    }

    // What is refused before the database is asked at all.
    static std::optional<Outcome> refuseFirst(const UserContext& ctx, const QString& code, const QString& localPath) {
        if (code.isEmpty() || localPath.isEmpty())
            return Outcome::refusal(LibraryText::CodeOrFileEmpty);
        if (!Acl::PendingComplete(ctx))
            return Outcome::refusal(LibraryText::DefineRightsFirst, kTitleInfo);
        if (const QString tooLong = CodeLengthProblem(code); !tooLong.isEmpty())
            return Outcome::refusal(tooLong);
        // A code taken from a file name may hold a line break, which no stored file's name can.
        if (std::any_of(code.cbegin(), code.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }))
            return Outcome::refusal(LibraryText::CodeWithControlCharacter);
        if (!QFileInfo(localPath).isFile())
            return Outcome::failure(QStringLiteral("本地文件%1不存在，入库无法完成！").arg(localPath));
        if (ctx.VolumeName.isEmpty() || ctx.VolumeServerIp.isEmpty())
            return Outcome::failure(QStringLiteral("登录所用的组<%1>没有存储目录，入库无法完成！").arg(ctx.LoginGroup));
        return std::nullopt;
    }

    // The same steps for a batch, which runs the transfers of many files at once over several
    // connections and the database steps of a group of files in one transaction, in file order:
    //   plan()          caller: the early refusals, and what a cut-off check-in left to finish
    //   upload()        any connection: that recovery, then the file under its private name
    //   lockAndRecord() caller, inside the group's transaction: the locked refusals and the rows
    //   stage()         any connection, before the commit: the upload renamed after its log row
    //   oldFileToGo()   caller, after the commit: whether the previous version's file may go
    //   finish()        any connection, after the commit: the staged file into place, the old one away
    //
    // The batch reads the rows of a whole group in a few statements and hands each file its own:
    // plan() takes them as read before the uploads, lockAndRecord() as read again once the group's
    // codes and names are locked.
    std::optional<Outcome> plan(const Holder& holder, const StoredDrawing& old, const QString& otherCode,
                                qint64 lastNumber) {
        m_old = old;
        std::optional<Outcome> no = rules(holder, otherCode);
        if (!no && m_old.exists && m_old.volumeKnown)
            m_recoverNumber = lastNumber;
        return no;
    }
    TransferResult upload(FtpClient& c, const TransferProgress& progress) {
        if (m_recoverNumber > 0) {
            const TransferResult recovered =
                promoteOn(c, VolumeUrl(m_ctx.AdminPassword, m_old.server), m_old.remotePath(), m_recoverNumber);
            if (!recovered)
                return recovered;
        }
        // With a number reserved for its log row the upload goes straight to the staged name: no row
        // names that number until the commit, and then the file is already where recovery looks.
        m_incoming = m_reserved > 0 ? StagedName(m_finalPath, m_reserved) : incomingName(m_finalPath);
        m_remote = m_incoming;
        return c.PutPrivate(m_url, m_localPath, m_incoming, progress);
    }
    // Before upload(): the number the file's log row will take, if its code has no later check-in by then.
    void reserve(qint64 logNumber) { m_reserved = logNumber; }
    qint64 reserved() const { return m_reserved; }
    // Whether the upload still has to be renamed after the log row's number.
    bool needsStage() const { return m_remote != StagedName(m_finalPath, m_number); }
    // The locked rules alone, for a batch that writes the rows of its whole group together.
    std::optional<Outcome> refuse(const Holder& holder, const StoredDrawing& old, const QString& otherCode) {
        m_old = old;
        m_endsHold = holder.exists;
        return rules(holder, otherCode);
    }
    // After refuse(): the file's row as record() writes it (code, the four lists, account, date,
    // stored name, volume), whether it replaces a row, and whether it ends the user's hold.
    QVariantList rowValues() const {
        QVariantList values{m_code};
        values << rights() << m_ctx.UserId << LibraryDate(m_today) << m_storedName << m_ctx.VolumeName;
        return values;
    }
    bool replacesRow() const { return m_old.exists; }
    bool endsHold() const { return m_endsHold; }
    void recorded(qint64 logNumber) { m_number = logNumber; }
    std::optional<Outcome> lockAndRecord(const Holder& holder, const StoredDrawing& old, const QString& otherCode) {
        m_old = old;
        if (std::optional<Outcome> no = rules(holder, otherCode))
            return no;
        m_number = record(holder.exists);
        return std::nullopt;
    }
    // Renames the upload after the log row's number; again, after a transaction that was taken back,
    // for the number the next one gave.
    TransferResult stage(FtpClient& c) {
        const QString staged = StagedName(m_finalPath, m_number);
        if (m_remote == staged) {
            TransferResult same;
            same.ok = true;
            return same;
        }
        TransferResult done = c.Rename(m_url, m_remote, staged);
        if (done)
            m_remote = staged;
        return done;
    }
    bool oldFileToGo() {
        const bool samePlace = m_old.exists && m_old.volumeKnown && m_old.server == m_ctx.VolumeServerIp &&
                               m_old.remotePath() == m_finalPath;
        if (!m_old.exists || !m_old.volumeKnown || samePlace)
            return false;
        return otherCodeOfFile(m_db, m_code, m_old.volume, m_old.fileName).isEmpty();
    }
    TransferResult finish(FtpClient& c, bool removeOld) {
        // The file was staged by this client a moment ago: try the rename first, and only when it is
        // refused go the careful way, which probes and steps the old file aside.
        TransferResult placed = c.Rename(m_url, StagedName(m_finalPath, m_number), m_finalPath);
        if (!placed)
            placed = promoteOn(c, m_url, m_finalPath, m_number);
        if (placed && removeOld)
            c.Delete(VolumeUrl(m_ctx.AdminPassword, m_old.server), m_old.remotePath());
        return placed;
    }
    // The side file a file left behind when its batch ended before its commit.
    TransferResult discard(FtpClient& c) {
        if (m_remote.isEmpty())
            return {};
        return c.Delete(m_url, m_remote);
    }
    const QString& code() const { return m_code; }
    const QString& user() const { return m_ctx.UserId; }
    const QString& storedName() const { return m_storedName; }
    qint64 fileSize() const { return QFileInfo(m_localPath).size(); }

private:
    // The rules on the rows as they are now: before the upload, a cheap early refusal; again once the
    // code is locked, since another client may act in between. The write right is the check-in's own
    // rule, whatever the dialog let through.
    std::optional<Outcome> refuseOnRows() {
        const Holder h = readHolder(m_db, m_code);
        m_old = readDrawing(m_db, m_code);
        return rules(h, otherCodeOfFile(m_db, m_code, m_ctx.VolumeName, m_storedName));
    }

    // The same rules on rows the batch read for the whole group.
    std::optional<Outcome> rules(const Holder& h, const QString& otherCode) const {
        if (h.exists && h.account != m_ctx.UserId)
            return Outcome::refusal(LibraryText::HeldByOther(h.account, h.when));
        if (m_old.exists && !Acl::Grants(m_old.write, m_ctx))
            return Outcome::refusal(LibraryText::NoWriteRight);
        if (!otherCode.isEmpty())
            return Outcome::refusal(LibraryText::StoredNameTaken(m_code, otherCode, m_storedName));
        return std::nullopt;
    }

    // The row, the end of the user's own hold and the log row; returns the log row's number.
    // holds: whether the user may hold the drawing (a batch knows from its read; the single check-in
    // just removes whatever hold there is).
    qint64 record(std::optional<bool> holds = std::nullopt) {
        const QVariantList rights = this->rights();
        if (holds.value_or(true))
            m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=?"),
                      {m_code, m_ctx.UserId});
        QVariantList values = rights;
        values << m_ctx.UserId << LibraryDate(m_today) << m_storedName << m_ctx.VolumeName;
        if (m_old.exists) {
            values << m_code;
            m_db.exec(
                QStringLiteral("update PDM入库图纸信息 set 读=?,写=?,删=?,改=?,入库帐号=?,入库时间=?,入库文件名称=?,"
                               "状态='正常',目录名称=? where 代号=?"),
                values);
        } else {
            values.prepend(m_code);
            m_db.exec(
                QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,"
                               "目录名称) values (?,?,?,?,?,?,?,?,'正常',?)"),
                values);
        }
        if (holds)
            return appendLogNumbered(m_session, m_db, m_ctx.UserId, m_code, LogWord::CheckIn);
        appendLog(m_session, m_db, m_ctx.UserId, m_code, LogWord::CheckIn);
        return lastCheckIn(m_db, m_code);
    }

    // Without the change right the stored lists stay, whatever the pending lists say.
    QVariantList rights() const {
        if (m_old.exists && !Acl::Grants(m_old.change, m_ctx))
            return {m_old.read, m_old.write, m_old.del, m_old.change};
        return {m_ctx.PendingRead, m_ctx.PendingWrite, m_ctx.PendingDelete, m_ctx.PendingChange};
    }

    // After the commit: the staged file into place, then the previous version's file, when it lay
    // elsewhere, removed. A failure here loses nothing: recovery finishes the move later.
    TransferResult finish(qint64 number) {
        const TransferResult placed = promote(m_lib.m_run, m_url, m_finalPath, number);
        m_lib.step(u"promoted");
        if (!placed)
            return placed;
        const bool samePlace = m_old.exists && m_old.volumeKnown && m_old.server == m_ctx.VolumeServerIp &&
                               m_old.remotePath() == m_finalPath;
        if (!m_old.exists || !m_old.volumeKnown || samePlace)
            return placed;
        // A file that another row still names (two codes that shared a name before this was
        // refused) stays for that row.
        if (!otherCodeOfFile(m_db, m_code, m_old.volume, m_old.fileName).isEmpty())
            return placed;
        const QString oldUrl = VolumeUrl(m_ctx.AdminPassword, m_old.server);
        const QString oldPath = m_old.remotePath();
        m_lib.m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(oldUrl, oldPath); });
        return placed;
    }

    DrawingLibrary& m_lib;
    Session& m_session;
    Database& m_db;
    const UserContext m_ctx; // a copy: a batch gives each file the lists it had when planned
    const QString m_code;
    const QString m_localPath;
    const QDate m_today;
    const QString m_storedName;
    const QString m_finalPath;
    const QString m_url;
    StoredDrawing m_old;
    qint64 m_recoverNumber = 0;
    QString m_incoming;
    QString m_remote; // where the upload is now: its private name, or staged
    qint64 m_reserved = 0;
    bool m_endsHold = false;
    qint64 m_number = 0;
};

} // namespace velda
