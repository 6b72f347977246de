#include "library/DrawingLibrary.h"

#include "library/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "store/DatabaseInit.h"
#include "transfer/TransferCommand.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>

namespace velda {

QString LibraryDate(const QDate& d) { return ShortDateText(d); }

namespace {

QString text(const QSqlQuery& q, const char* column) {
    return q.value(QString::fromUtf8(column)).toString();
}

// The drawing's library row with the server of the volume it lies on.
struct StoredDrawing {
    bool exists = false;
    bool volumeKnown = false;
    QString read, write, del, change, state, fileName, volume, server;
    QString remotePath() const { return RemotePath(volume, fileName); }
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

LibraryOutcome failure(const QString& description) { return LibraryOutcome::failure(description); }

// A place beside the stored name that no stored drawing ever has (stored names end in .dwg).
QString sideName(const QString& remotePath, const char* tag) {
    return remotePath + QLatin1Char('.') + QString::fromLatin1(tag);
}

// Two clients checking in the same code at once must not upload onto each other's file.
QString uniqueSideName(const QString& remotePath, const char* tag) {
    return sideName(remotePath, tag) + QLatin1Char('-') +
           QString::number(QRandomGenerator::system()->generate64(), 36);
}

} // namespace

DrawingLibrary::DrawingLibrary(Session& session, TransferRunner runner) : m_session(session), m_run(std::move(runner)) {}

bool DrawingLibrary::isAbsent(const QString& url, const QString& remotePath) {
    const TransferResult there =
        m_run([&](FtpClient& c, const TransferProgress&) { return c.Exists(url, remotePath); });
    return there.ok && there.kind == RemoteKind::Absent;
}

DrawingLibrary::Choice DrawingLibrary::PrepareCheckIn(const QString& code) {
    Choice c;
    UserContext& ctx = m_session.ctx;
    try {
        const StoredDrawing d = readDrawing(m_session.db(), code);
        if (d.exists) {
            if (!Acl::Grants(d.write, ctx)) {
                c.refusal = LibraryOutcome::refusal(LibraryText::NoWriteRight);
                return c;
            }
            c.existing = true;
            c.changeAllowed = Acl::Grants(d.change, ctx);
            Acl::SetPending(ctx, d.read, d.write, d.del, d.change);
        } else {
            const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
            Acl::SetPending(ctx, list, list, list, list);
        }
    } catch (const Error& e) {
        c.refusal = failure(e.description());
        return c;
    }
    c.refusal.done = true;
    return c;
}

LibraryOutcome DrawingLibrary::CheckIn(const QString& code, const QString& localPath) {
    UserContext& ctx = m_session.ctx;
    if (code.isEmpty() || localPath.isEmpty())
        return LibraryOutcome::refusal(LibraryText::CodeOrFileEmpty);
    if (!Acl::PendingComplete(ctx))
        return LibraryOutcome::refusal(LibraryText::DefineRightsFirst, kTitleInfo);
    if (!QFileInfo(localPath).isFile())
        return failure(QStringLiteral("本地文件%1不存在，入库无法完成！").arg(localPath));
    if (ctx.VolumeName.isEmpty() || ctx.VolumeServerIp.isEmpty())
        return failure(QStringLiteral("登录所用的组<%1>没有存储目录，入库无法完成！").arg(ctx.LoginGroup));
    Database& db = m_session.db();
    try {
        const Holder before = readHolder(db, code);
        if (before.exists && before.account != ctx.UserId)
            return LibraryOutcome::refusal(LibraryText::HeldByOther(before.account, before.when));
        const StoredDrawing old = readDrawing(db, code);

        const QDate today = m_session.clock().today();
        const QString storedName = StoredFileName(today, code);
        const QString finalPath = RemotePath(ctx.VolumeName, storedName);
        const QString incoming = uniqueSideName(finalPath, "incoming");
        const QString backup = uniqueSideName(finalPath, "previous");
        const QString newUrl = VolumeUrl(ctx.AdminPassword, ctx.VolumeServerIp);
        const bool samePlace = old.exists && old.volumeKnown && old.server == ctx.VolumeServerIp &&
                               old.remotePath() == finalPath;

        // 1. The new file goes beside the library under a name nothing reads.
        const TransferResult put = m_run([&](FtpClient& c, const TransferProgress& p) {
            return c.PutPrivate(newUrl, localPath, incoming, p);
        });
        if (!put)
            return failure(put.message);

        auto discardIncoming = [&] {
            m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(newUrl, incoming); });
        };

        // 2. The row, the end of the user's own check-out and the log row stand or fall together;
        //    the row is locked before anything on the volume is renamed.
        db.begin();
        bool committed = false;
        bool movedOld = false;
        bool movedNew = false;
        try {
            QSqlQuery own = db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=?"),
                                    {code, ctx.UserId});
            const bool heldByMe = own.numRowsAffected() > 0;
            const QVariantList values{ctx.PendingRead, ctx.PendingWrite, ctx.PendingDelete, ctx.PendingChange,
                                      ctx.UserId, LibraryDate(today), storedName, ctx.VolumeName};
            if (old.exists) {
                QVariantList v = values;
                v << code << (heldByMe ? 1 : 0);
                QSqlQuery up = db.exec(
                    QStringLiteral("update PDM入库图纸信息 set 读=?,写=?,删=?,改=?,入库帐号=?,入库时间=?,入库文件名称=?,"
                                   "状态='正常',目录名称=? where 代号=? and (状态<>'出库' or 1=?)"),
                    v);
                if (up.numRowsAffected() != 1) {
                    db.rollback();
                    discardIncoming();
                    const Holder h = readHolder(db, code);
                    return LibraryOutcome::refusal(LibraryText::HeldByOther(h.account, h.when));
                }
            } else {
                QVariantList v{code};
                v += values;
                db.exec(QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,"
                                       "目录名称) values (?,?,?,?,?,?,?,?,'正常',?)"),
                        v);
            }
            const Holder other = readHolder(db, code);
            if (other.exists) {
                db.rollback();
                discardIncoming();
                return LibraryOutcome::refusal(LibraryText::HeldByOther(other.account, other.when));
            }
            AppendLogRow(m_session, code, LogWord::CheckIn);

            // 3. Into place: a same-day re-check-in keeps the old file aside until the row is in.
            if (samePlace) {
                const TransferResult aside = m_run([&](FtpClient& c, const TransferProgress&) {
                    return c.Rename(newUrl, finalPath, backup);
                });
                if (aside)
                    movedOld = true;
                else if (!isAbsent(newUrl, finalPath))
                    throw TransferError(aside);
            }
            const TransferResult into = m_run([&](FtpClient& c, const TransferProgress&) {
                return c.Rename(newUrl, incoming, finalPath);
            });
            if (!into)
                throw TransferError(into);
            movedNew = true;
            db.commit();
            committed = true;
        } catch (...) {
            if (!committed) {
                db.rollback();
                // Put the volume back as the row still describes it.
                m_run([&](FtpClient& c, const TransferProgress&) {
                    if (movedNew)
                        c.Rename(newUrl, finalPath, incoming);
                    if (movedOld)
                        c.Rename(newUrl, backup, finalPath);
                    return c.Delete(newUrl, incoming);
                });
            }
            throw;
        }

        // 4. Only now is the previous version redundant.
        if (samePlace) {
            if (movedOld)
                m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(newUrl, backup); });
        } else if (old.exists && old.volumeKnown) {
            const QString oldUrl = VolumeUrl(ctx.AdminPassword, old.server);
            const QString oldPath = old.remotePath();
            m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(oldUrl, oldPath); });
        }
        return LibraryOutcome::success(LibraryText::CheckedIn);
    } catch (const DuplicateKeyError&) {
        return failure(QStringLiteral("图纸<%1>刚被其他用户入库，请重新选择文件后再入库").arg(code));
    } catch (const TransferError& e) {
        return failure(e.message());
    } catch (const Error& e) {
        return failure(e.description());
    }
}

LibraryOutcome DrawingLibrary::CheckOut(const QString& code, const QString& localPath) {
    UserContext& ctx = m_session.ctx;
    if (code.isEmpty() || localPath.isEmpty())
        return LibraryOutcome::refusal(LibraryText::CodeOrFileEmpty);
    Database& db = m_session.db();
    try {
        // A re-check-in may replace the file between the fetch and the record; then fetch again so
        // the holder's copy is the version his check-out records.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const StoredDrawing d = readDrawing(db, code);
            if (!d.exists || !d.volumeKnown)
                return LibraryOutcome::refusal(LibraryText::NotInLibrary);
            if (!Acl::Grants(d.read, ctx))
                return LibraryOutcome::refusal(LibraryText::NoRight);
            const QString url = VolumeUrl(ctx.AdminPassword, d.server);
            const QString remote = d.remotePath();
            const TransferResult got = m_run([&](FtpClient& c, const TransferProgress& p) {
                return c.Get(url, remote, localPath, p);
            });
            if (!got)
                return failure(got.message);

            Transaction tx(db);
            // Only a user who may write the drawing back takes the hold; anybody else's hold
            // would lock the drawing against every writer with no way to release it.
            if (!Acl::Grants(d.write, ctx)) {
                const Holder h = readHolder(db, code);
                AppendLogRow(m_session, code, LogWord::CheckOut);
                tx.commit();
                return LibraryOutcome::success(h.exists ? LibraryText::AlreadyOut(code, h.account, h.when)
                                                        : LibraryText::CheckedOutForViewing);
            }
            QSqlQuery claim = db.exec(
                QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号=? and 状态<>'出库' and 入库文件名称=? "
                               "and 目录名称=?"),
                {code, d.fileName, d.volume});
            QString closing;
            if (claim.numRowsAffected() == 1) {
                db.exec(QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
                        {code, ctx.UserId, LibraryDate(m_session.clock().today())});
                closing = LibraryText::CheckedOut;
            } else {
                const StoredDrawing now = readDrawing(db, code);
                if (!now.exists)
                    return LibraryOutcome::refusal(LibraryText::NotInLibrary);
                if (now.state != QStringLiteral("出库")) {
                    continue; // replaced meanwhile: the copy is stale
                }
                const Holder h = readHolder(db, code);
                if (!h.exists)
                    throw Error(QStringLiteral("图纸<%1>标记为出库，但没有出库记录").arg(code));
                closing = LibraryText::AlreadyOut(code, h.account, h.when);
            }
            AppendLogRow(m_session, code, LogWord::CheckOut);
            tx.commit();
            return LibraryOutcome::success(closing);
        }
        return failure(QStringLiteral("图纸<%1>正被他人反复入库，请稍后再出库").arg(code));
    } catch (const TransferError& e) {
        return failure(e.message());
    } catch (const Error& e) {
        return failure(e.description());
    }
}

LibraryOutcome DrawingLibrary::Delete(const QString& code) {
    UserContext& ctx = m_session.ctx;
    if (code.isEmpty())
        return LibraryOutcome::refusal(LibraryText::CodeEmpty);
    Database& db = m_session.db();
    try {
        const StoredDrawing d = readDrawing(db, code);
        if (!d.exists || !d.volumeKnown)
            return LibraryOutcome::refusal(LibraryText::NotInLibrary);
        if (!Acl::Grants(d.del, ctx))
            return LibraryOutcome::refusal(LibraryText::NoRight);
        if (d.state == QStringLiteral("出库"))
            return LibraryOutcome::refusal(LibraryText::DeleteWhileOut);
        const QString url = VolumeUrl(ctx.AdminPassword, d.server);
        const QString remote = d.remotePath();
        const QString trash = uniqueSideName(remote, "deleted");

        db.begin();
        bool committed = false;
        bool moved = false;
        try {
            // Locks the row: a check-out that slipped in since the read makes this find nothing.
            QSqlQuery del = db.exec(
                QStringLiteral("delete from PDM入库图纸信息 where 代号=? and 状态<>'出库' and 入库文件名称=? and 目录名称=?"),
                {code, d.fileName, d.volume});
            if (del.numRowsAffected() != 1) {
                db.rollback();
                return LibraryOutcome::refusal(LibraryText::DeleteWhileOut);
            }
            AppendLogRow(m_session, code, LogWord::DeleteDrawing);
            const TransferResult aside = m_run([&](FtpClient& c, const TransferProgress&) {
                return c.Rename(url, remote, trash);
            });
            if (aside)
                moved = true;
            else if (!isAbsent(url, remote)) // already gone from the volume counts as deleted
                throw TransferError(aside);
            db.commit();
            committed = true;
        } catch (...) {
            if (!committed) {
                db.rollback();
                if (moved)
                    m_run([&](FtpClient& c, const TransferProgress&) { return c.Rename(url, trash, remote); });
            }
            throw;
        }
        if (moved)
            m_run([&](FtpClient& c, const TransferProgress&) { return c.Delete(url, trash); });
        return LibraryOutcome::success(LibraryText::Deleted);
    } catch (const TransferError& e) {
        return failure(e.message());
    } catch (const Error& e) {
        return failure(e.description());
    }
}

} // namespace velda
