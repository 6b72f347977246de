#include "library/DrawingLibrary.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/Acl.h"
#include "store/DatabaseInit.h"
#include "transfer/TransferCommand.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>

#include <optional>

namespace velda {

QString LibraryDate(const QDate& d) { return ShortDateText(d); }

QString CodeLengthProblem(const QString& code) {
    const qsizetype bytes = code.toUtf8().size();
    if (bytes <= kMaxCodeBytes)
        return {};
    return QStringLiteral("零件代号过长，入库无法完成！代号最长%1个字节（字母、数字每个占1个字节，汉字每个占3个字节），"
                          "此代号有%2个字节。")
        .arg(kMaxCodeBytes)
        .arg(bytes);
}

QString StagedName(const QString& remotePath, qint64 logNumber) {
    return remotePath + QStringLiteral(".new-") + QString::number(logNumber);
}

namespace {

const QString kOut = QStringLiteral("出库");

QString text(const QSqlQuery& q, const char* column) { return q.value(QString::fromUtf8(column)).toString(); }

// The drawing's library row with the server of the volume it lies on.
struct StoredDrawing {
    bool exists = false;
    bool volumeKnown = false;
    QString read, write, del, change, state, fileName, volume, server;
    QString remotePath() const { return RemotePath(volume, fileName); }
    bool sameFile(const StoredDrawing& o) const {
        return exists == o.exists && fileName == o.fileName && volume == o.volume && server == o.server;
    }
};

StoredDrawing readDrawing(Database& db, const QString& code) {
    StoredDrawing d;
    QSqlQuery q = db.exec(QStringLiteral("select 读,写,删,改,状态,入库文件名称,目录名称 from PDM入库图纸信息 where 代号=?"),
                          {code});
    if (!q.next())
        return d;
    d.exists = true;
    d.read = text(q, "读");
    d.write = text(q, "写");
    d.del = text(q, "删");
    d.change = text(q, "改");
    d.state = text(q, "状态");
    d.fileName = text(q, "入库文件名称");
    d.volume = text(q, "目录名称");
    q.finish();
    QSqlQuery v = db.exec(QStringLiteral("select 服务器IP from PDM存储目录 where 目录名称=?"), {d.volume});
    if (v.next()) {
        d.volumeKnown = true;
        d.server = v.value(0).toString();
    }
    return d;
}

struct Holder {
    bool exists = false;
    QString account, when;
};

Holder readHolder(Database& db, const QString& code) {
    Holder h;
    QSqlQuery q = db.exec(QStringLiteral("select 出库帐号,出库时间 from PDM出库图纸信息 where 代号=?"), {code});
    if (q.next()) {
        h.exists = true;
        h.account = q.value(0).toString();
        h.when = q.value(1).toString();
    }
    return h;
}

// The number of the code's last committed check-in: its log row's 序号, 0 when there is none. It
// tells one version of a drawing from the next even when both have the same stored name.
qint64 lastCheckIn(Database& db, const QString& code) {
    return db.scalar(QStringLiteral("select max(序号) from PDM日志 where 代号=? and 方式=?"), {code, LogWord::CheckIn})
        .toLongLong();
}

// Another code whose row names the same file on the same volume, or an empty text.
QString otherCodeOfFile(Database& db, const QString& code, const QString& volume, const QString& storedName) {
    QSqlQuery q = db.exec(
        QStringLiteral("select 代号 from PDM入库图纸信息 where 目录名称=? and 入库文件名称=? and 代号<>?"),
        {volume, storedName, code});
    return q.next() ? q.value(0).toString() : QString();
}

// The log row of a library command, written for the user the command started with.
void appendLog(Session& session, Database& db, const QString& user, const QString& code, const QString& word) {
    db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
            {user, code, LogTimeText(session.clock().now()), word});
}

// Serialises the commands on one code (and, for a check-in, on one stored name) across clients. The
// local file admits one writer at a time anyway; the server takes a lock for the transaction's life.
void lockKey(Database& db, int space, const QString& key) {
    if (db.dialect() == Dialect::PostgreSQL)
        db.exec(QStringLiteral("select pg_advisory_xact_lock(?, hashtext(?))"), {space, key});
}
void lockCode(Database& db, const QString& code) { lockKey(db, 7301, code); }
void lockStoredName(Database& db, const QString& volume, const QString& name) {
    lockKey(db, 7302, volume + QLatin1Char('/') + name);
}

// A place beside the stored name that no stored drawing ever has (stored names end in .dwg), unique
// so that two clients uploading the same code never write into each other's file.
QString incomingName(const QString& remotePath) {
    return remotePath + QStringLiteral(".incoming-") +
           QString::number(QRandomGenerator::system()->generate64(), 36);
}

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

// The staged file of the last committed check-in, moved over the stored name. Renaming onto an
// existing name replaces it on most servers; where the server refuses, the old file steps aside first.
TransferResult promote(const TransferRunner& run, const QString& url, const QString& finalPath, qint64 logNumber) {
    const QString staged = StagedName(finalPath, logNumber);
    const TransferResult there = run([&](FtpClient& c, const TransferProgress&) { return c.Exists(url, staged); });
    if (!there || there.kind != RemoteKind::File)
        return there; // nothing staged: already in place (or the probe failed, which it reports)
    TransferResult into = run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, staged, finalPath); });
    if (into)
        return into;
    const QString aside = finalPath + QStringLiteral(".previous-") + QString::number(logNumber);
    const TransferResult moved = run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, finalPath, aside); });
    if (!moved)
        return into;
    into = run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, staged, finalPath); });
    if (!into) {
        run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, aside, finalPath); });
        return into;
    }
    run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, aside); });
    return into;
}

} // namespace

DrawingLibrary::DrawingLibrary(Session& session, TransferRunner runner) : m_session(session), m_run(std::move(runner)) {}

DrawingLibrary::Choice DrawingLibrary::PrepareCheckIn(const QString& code) {
    Choice c;
    UserContext& ctx = m_session.ctx;
    c.refusal = Guarded([&] {
        const StoredDrawing d = readDrawing(m_session.db(), code);
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
        // Read, not locked: a check-in still running has either not committed (its staged number is
        // not the last one) or will move the same file the same way; renames settle either race.
        const StoredDrawing d = readDrawing(db, code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::success();
        const qint64 last = lastCheckIn(db, code);
        if (last <= 0)
            return Outcome::success();
        const TransferResult done =
            promote(m_run, VolumeUrl(m_session.ctx.AdminPassword, d.server), d.remotePath(), last);
        return done ? Outcome::success() : Outcome::failure(done.message);
    });
}

// The check-in, step by step, in the order that loses nothing (see the class comment).
class CheckInSteps final {
public:
    CheckInSteps(DrawingLibrary& library, const UserContext& ctx, const QString& code, const QString& localPath)
        : m_lib(library), m_session(library.m_session), m_db(library.m_session.db()), m_ctx(ctx), m_code(code),
          m_localPath(localPath), m_today(m_session.clock().today()), m_storedName(StoredFileName(m_today, code)),
          m_finalPath(RemotePath(ctx.VolumeName, m_storedName)), m_url(VolumeUrl(ctx.AdminPassword, ctx.VolumeServerIp)) {}

    Outcome run() {
        if (std::optional<Outcome> no = refuseEarly())
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

        Transaction tx(m_db, Transaction::Kind::Write);
        lockCode(m_db, m_code);
        lockStoredName(m_db, m_ctx.VolumeName, m_storedName);
        m_lib.step(u"locked");
        if (std::optional<Outcome> no = refuseLocked())
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

        finish(number);
        return Outcome::success(LibraryText::CheckedIn);
    }

private:
    // Cheap refusals before anything is uploaded; the locked pass repeats them, since another
    // client may act in between.
    std::optional<Outcome> refuseEarly() {
        const Holder h = readHolder(m_db, m_code);
        if (h.exists && h.account != m_ctx.UserId)
            return Outcome::refusal(LibraryText::HeldByOther(h.account, h.when));
        m_old = readDrawing(m_db, m_code);
        if (m_old.exists && !Acl::Grants(m_old.write, m_ctx))
            return Outcome::refusal(LibraryText::NoWriteRight);
        const QString other = otherCodeOfFile(m_db, m_code, m_ctx.VolumeName, m_storedName);
        if (!other.isEmpty())
            return Outcome::refusal(LibraryText::StoredNameTaken(m_code, other, m_storedName));
        return std::nullopt;
    }

    // The rules, on the row as it is now that nobody else can change it.
    std::optional<Outcome> refuseLocked() {
        const Holder h = readHolder(m_db, m_code);
        if (h.exists && h.account != m_ctx.UserId)
            return Outcome::refusal(LibraryText::HeldByOther(h.account, h.when));
        m_old = readDrawing(m_db, m_code);
        // The write right is the check-in's own rule, whatever the dialog let through.
        if (m_old.exists && !Acl::Grants(m_old.write, m_ctx))
            return Outcome::refusal(LibraryText::NoWriteRight);
        const QString other = otherCodeOfFile(m_db, m_code, m_ctx.VolumeName, m_storedName);
        if (!other.isEmpty())
            return Outcome::refusal(LibraryText::StoredNameTaken(m_code, other, m_storedName));
        return std::nullopt;
    }

    // The row, the end of the user's own hold and the log row; returns the log row's number.
    qint64 record() {
        // Without the change right the stored lists stay, whatever the pending lists say.
        QVariantList rights{m_ctx.PendingRead, m_ctx.PendingWrite, m_ctx.PendingDelete, m_ctx.PendingChange};
        if (m_old.exists && !Acl::Grants(m_old.change, m_ctx))
            rights = {m_old.read, m_old.write, m_old.del, m_old.change};
        m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=?"), {m_code, m_ctx.UserId});
        QVariantList values = rights;
        values << m_ctx.UserId << LibraryDate(m_today) << m_storedName << m_ctx.VolumeName;
        if (m_old.exists) {
            values << m_code;
            m_db.exec(QStringLiteral("update PDM入库图纸信息 set 读=?,写=?,删=?,改=?,入库帐号=?,入库时间=?,入库文件名称=?,"
                                     "状态='正常',目录名称=? where 代号=?"),
                      values);
        } else {
            values.prepend(m_code);
            m_db.exec(QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,"
                                     "目录名称) values (?,?,?,?,?,?,?,?,'正常',?)"),
                      values);
        }
        appendLog(m_session, m_db, m_ctx.UserId, m_code, LogWord::CheckIn);
        return lastCheckIn(m_db, m_code);
    }

    // After the commit: the staged file into place, then the previous version's file, when it lay
    // elsewhere, removed. A failure here loses nothing: recovery finishes the move later.
    void finish(qint64 number) {
        const TransferResult placed = promote(m_lib.m_run, m_url, m_finalPath, number);
        m_lib.step(u"promoted");
        if (!placed)
            return;
        const bool samePlace = m_old.exists && m_old.volumeKnown && m_old.server == m_ctx.VolumeServerIp &&
                               m_old.remotePath() == m_finalPath;
        if (!m_old.exists || !m_old.volumeKnown || samePlace)
            return;
        // A file that another row still names (two codes that shared a name before this was
        // refused) stays for that row.
        if (!otherCodeOfFile(m_db, m_code, m_old.volume, m_old.fileName).isEmpty())
            return;
        const QString oldUrl = VolumeUrl(m_ctx.AdminPassword, m_old.server);
        const QString oldPath = m_old.remotePath();
        m_lib.m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(oldUrl, oldPath); });
    }

    DrawingLibrary& m_lib;
    Session& m_session;
    Database& m_db;
    const UserContext& m_ctx;
    const QString m_code;
    const QString m_localPath;
    const QDate m_today;
    const QString m_storedName;
    const QString m_finalPath;
    const QString m_url;
    StoredDrawing m_old;
};

Outcome DrawingLibrary::CheckIn(const QString& code, const QString& localPath) {
    // Taken once: a change of account while the transfers run must not change whose check-in this is.
    const UserContext ctx = m_session.ctx;
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    if (!Acl::PendingComplete(ctx))
        return Outcome::refusal(LibraryText::DefineRightsFirst, kTitleInfo);
    if (const QString tooLong = CodeLengthProblem(code); !tooLong.isEmpty())
        return Outcome::refusal(tooLong);
    if (!QFileInfo(localPath).isFile())
        return Outcome::failure(QStringLiteral("本地文件%1不存在，入库无法完成！").arg(localPath));
    if (ctx.VolumeName.isEmpty() || ctx.VolumeServerIp.isEmpty())
        return Outcome::failure(QStringLiteral("登录所用的组<%1>没有存储目录，入库无法完成！").arg(ctx.LoginGroup));
    return Guarded([&] {
        try {
            return CheckInSteps(*this, ctx, code, localPath).run();
        } catch (const DuplicateKeyError&) {
            return Outcome::failure(QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code));
        }
    });
}

Outcome DrawingLibrary::CheckOut(const QString& code, const QString& localPath) {
    const UserContext ctx = m_session.ctx;
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    return Guarded([&] {
        Database& db = m_session.db();
        // A re-check-in may replace the file between the fetch and the record; then fetch again so
        // the holder's copy is the version his check-out records.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (const Outcome recovered = Recover(code); !recovered.done())
                return recovered;
            const StoredDrawing d = readDrawing(db, code);
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
            const StoredDrawing now = readDrawing(db, code);
            if (!now.exists)
                return Outcome::refusal(LibraryText::NotInLibrary);
            // The copy is the drawing the row describes only if no check-in came in between.
            if (!now.sameFile(d) || lastCheckIn(db, code) != version)
                continue;
            if (!Acl::Grants(now.read, ctx))
                return Outcome::refusal(LibraryText::NoRight);
            // Only a user who may write the drawing back takes the hold; anybody else's hold
            // would lock the drawing against every writer with no way to release it.
            if (!Acl::Grants(now.write, ctx)) {
                const Holder h = readHolder(db, code);
                appendLog(m_session, db, ctx.UserId, code, LogWord::CheckOut);
                tx.commit();
                return Outcome::success(h.exists ? LibraryText::AlreadyOut(code, h.account, h.when)
                                                 : LibraryText::CheckedOutForViewing);
            }
            QString closing;
            if (now.state != kOut) {
                db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号=?"), {code});
                db.exec(QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
                        {code, ctx.UserId, LibraryDate(m_session.clock().today())});
                closing = LibraryText::CheckedOut;
            } else {
                const Holder h = readHolder(db, code);
                if (!h.exists)
                    throw Error(QStringLiteral("图纸<%1>标记为出库，但没有出库记录").arg(code));
                closing = LibraryText::AlreadyOut(code, h.account, h.when);
            }
            appendLog(m_session, db, ctx.UserId, code, LogWord::CheckOut);
            tx.commit();
            return Outcome::success(closing);
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
        if (const Outcome recovered = Recover(code); !recovered.done())
            return recovered;
        StoredDrawing d = readDrawing(db, code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::refusal(LibraryText::NotInLibrary);
        if (!Acl::Grants(d.del, ctx))
            return Outcome::refusal(LibraryText::NoRight);
        if (d.state == kOut)
            return Outcome::refusal(LibraryText::DeleteWhileOut);

        Transaction tx(db, Transaction::Kind::Write);
        lockCode(db, code);
        step(u"locked");
        d = readDrawing(db, code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::refusal(LibraryText::NotInLibrary);
        if (!Acl::Grants(d.del, ctx))
            return Outcome::refusal(LibraryText::NoRight);
        if (d.state == kOut)
            return Outcome::refusal(LibraryText::DeleteWhileOut);
        const QString url = VolumeUrl(ctx.AdminPassword, d.server);
        const QString remote = d.remotePath();
        // The server must answer before the row goes: a deletion against a server that is gone is
        // refused and keeps the row. A file already missing counts as deleted.
        const TransferResult there = m_run([&](FtpClient& c, const TransferProgress&) { return c.Exists(url, remote); });
        if (!there)
            return Outcome::failure(there.message);
        db.exec(QStringLiteral("delete from PDM入库图纸信息 where 代号=?"), {code});
        appendLog(m_session, db, ctx.UserId, code, LogWord::DeleteDrawing);
        step(u"recorded");
        tx.commit();
        step(u"committed");
        // The row is gone; its file follows. Should this fail, the file is left over, never missing.
        if (there.kind == RemoteKind::File && otherCodeOfFile(db, code, d.volume, d.fileName).isEmpty())
            m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, remote); });
        return Outcome::success(LibraryText::Deleted);
    });
}

} // namespace velda
