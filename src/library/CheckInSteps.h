#pragma once

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "library/Versions.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <optional>

namespace velda {

using namespace rows;

// One drawing's check-in, step by step, in the order that loses nothing (see DrawingLibrary). Every
// check-in is a batch's (a single one is a batch of one): the batch runs the transfers of many files at
// once over several connections and the database steps of a group of files in one transaction, in
// file order:
//   plan()          caller: the early refusals on the rows as read
//   reserve()       caller, before the upload: the number the log row will take, if it can
//   upload()        any connection: whether a cut-off check-in left its file staged, then the file as
//                   its staged file
//   refuse(), row() caller, inside the transaction, the codes and names locked: the locked refusals,
//                   then recordTogether() writes the group's rows (lockAndRecord(): one file's, when
//                   the group goes again file by file)
//   stage()         any connection, before the commit: the staged file numbered after its log row
//   finish()        any connection, after the commit: the previous version's file into the history
//                   folder, then the staged file into place
//   discard()       any connection: the staged file of a check-in that did not get in, removed
// The staged file is the upload beside the stored name: first under a name of this client's own
// (freshStagedName), or straight under its reserved number, and numbered after its log row
// (StagedName) before the commit, so that recovery finds it by the committed log row.
// The version the check-in replaces is kept: its row in 图纸版本 is written in the transaction (one
// describing the file as it is, when a client that keeps no versions stored it), and after the commit
// its file moves into the history folder before the staged file goes over the stored name. The upload
// asks first whether that folder takes files, since after the commit nothing may be refused.
class CheckInSteps final {
public:
    CheckInSteps(Session& session, const UserContext& ctx, const QString& code, const QString& localPath,
                 const QString& comment = {})
        : m_session(session), m_db(session.db()), m_ctx(ctx), m_code(code), m_localPath(localPath), m_comment(comment),
          m_today(m_session.clock().today()), m_storedName(StoredFileName(m_today, code)),
          m_finalPath(RemotePath(ctx.VolumeName, m_storedName)),
          m_url(VolumeUrl(ctx.AdminPassword, ctx.VolumeServerIp)) {}

    // What is refused before the database is asked at all.
    static std::optional<Outcome> refuseFirst(const UserContext& ctx, const QString& code, const QString& localPath);

    // The rules on the rows as read before the upload, a cheap early refusal.
    std::optional<Outcome> plan(const Holder& holder, const StoredDrawing& old, const QString& otherCode) {
        m_old = old;
        return rules(holder, otherCode);
    }
    // Whether upload() asks whether the history folder takes files; a batch asks once per volume.
    void historyProbed(const QString& volume) {
        m_probeHistory = false;
        m_historyVolume = volume;
    }
    // A check-in planned as new may find, once the code is locked, a file another client stored
    // meanwhile. The history folder of that file must still be asked whether it takes files: after the
    // commit nothing may be refused, and a version that cannot move there would leave this check-in's
    // file staged, out of reach of a recovery that looks only at the newest check-in.
    bool historyUnasked(const StoredDrawing& now) const {
        return m_keepVersions && now.exists && now.volumeKnown && now.volume != m_historyVolume;
    }
    // Replaces the stored file the way a client that keeps no versions does: no version rows, the old
    // file overwritten (the benchmark's measure of what keeping costs).
    void keepNoVersions() { m_keepVersions = m_probeHistory = false; }
    bool keepsVersions() const { return m_keepVersions; }
    bool replacesFile() const { return m_old.exists && m_old.volumeKnown; }
    const StoredDrawing& old() const { return m_old; }
    TransferResult upload(FtpClient& c, const TransferProgress& progress) {
        if (replacesFile() && m_probeHistory) {
            const TransferResult writable =
                ProbeHistoryFolder(c, VolumeUrl(m_ctx.AdminPassword, m_old.server), m_old.volume);
            if (!writable)
                return writable;
            m_historyVolume = m_old.volume;
        }
        if (m_lastNumber > 0) {
            // Only looked at here: whatever lies staged is moved under the lock (cutOffSettled).
            m_lastStaged =
                c.IsFile(VolumeUrl(m_ctx.AdminPassword, m_old.server), StagedName(m_old.remotePath(), m_lastNumber));
        }
        // With a number reserved for its log row the upload goes straight to the staged name: no row
        // names that number until the commit, and then the file is already where recovery looks.
        m_staged = m_reserved > 0 ? StagedName(m_finalPath, m_reserved) : freshStagedName(m_finalPath);
        TransferResult put = c.PutPrivate(m_url, m_localPath, m_staged, progress);
        if (put) {
            m_sha256 = QString::fromLatin1(put.sha256);
            m_size = put.size;
        }
        return put;
    }
    // Before upload(): the code's last check-in when planned, whose staged file upload() looks for.
    void plannedAfter(qint64 number) { m_lastNumber = m_old.exists && m_old.volumeKnown ? number : 0; }
    // Under the lock, with the code's last check-in now: whether nothing of a cut-off check-in can be
    // left staged. The upload found no staged file of that same check-in after it was committed, and a
    // committed check-in's staged file never comes back once moved.
    bool cutOffSettled(qint64 lastNow) const {
        return lastNow <= 0 || (lastNow == m_lastNumber && m_lastStaged.ok && m_lastStaged.kind != RemoteKind::File);
    }
    // Before upload(): the number the file's log row will take, if its code has no later check-in by then.
    void reserve(qint64 logNumber) { m_reserved = logNumber; }
    qint64 reserved() const { return m_reserved; }
    // Whether the upload still has to be renamed after the log row's number.
    bool needsStage() const { return m_staged != StagedName(m_finalPath, m_number); }
    // The locked rules alone, for a batch that writes the rows of its whole group together.
    std::optional<Outcome> refuse(const Holder& holder, const StoredDrawing& old, const QString& otherCode) {
        m_old = old;
        m_endsHold = holder.exists;
        return rules(holder, otherCode);
    }
    // After refuse(): the file's row as record() writes it, whether it replaces a row, and whether it
    // ends the user's hold.
    CheckInRow row() const {
        const QVariantList r = rights();
        return {m_code,       r[0].toString(),      r[1].toString(), r[2].toString(), r[3].toString(),
                m_ctx.UserId, LibraryDate(m_today), m_storedName,    m_ctx.VolumeName};
    }
    bool replacesRow() const { return m_old.exists; }
    // The rows, the ends of the user's holds and the log rows of files that passed their locked rules,
    // in a few statements for all of them; the log rows are numbered in file order. reserved: the log
    // rows take the numbers the files reserved, under which they were uploaded. last: each stored code's
    // last check-in, read under the lock.
    static void recordTogether(Session& session, Database& db, const std::vector<CheckInSteps*>& steps, bool reserved,
                               const QHash<QString, qint64>& last);
    bool endsHold() const { return m_endsHold; }
    void recorded(qint64 logNumber) { m_number = logNumber; }
    std::optional<Outcome> lockAndRecord(const Holder& holder, const StoredDrawing& old, const QString& otherCode) {
        m_old = old;
        if (std::optional<Outcome> no = rules(holder, otherCode))
            return no;
        m_number = record(holder.exists);
        return std::nullopt;
    }
    // Numbers the staged file after the log row; again, after a transaction that was taken back, for
    // the number the next one gave.
    TransferResult stage(FtpClient& c) {
        const QString numbered = StagedName(m_finalPath, m_number);
        if (m_staged == numbered) {
            TransferResult same;
            same.ok = true;
            return same;
        }
        TransferResult done = c.Rename(m_url, m_staged, numbered);
        if (done)
            m_staged = numbered;
        return done;
    }
    // After the commit: the previous version's file into the history folder (keepOld: no other code's
    // row names it), then the staged file into place. Should the old file not move, the staged one
    // stays staged: recovery keeps and places them later. kept is told between the two.
    TransferResult finish(FtpClient& c, bool keepOld, const std::function<void()>& kept = {}) {
        if (keepOld) {
            const TransferResult done = KeepInHistory(c, VolumeUrl(m_ctx.AdminPassword, m_old.server), m_old.volume,
                                                      m_old.fileName, m_previousNumber);
            if (!done)
                return done;
        }
        if (kept)
            kept();
        // The file was staged by this client a moment ago: try the rename first, and only when it is
        // refused go the careful way, which probes and steps the old file aside.
        TransferResult placed = c.Rename(m_url, StagedName(m_finalPath, m_number), m_finalPath);
        if (!placed)
            placed = promoteOn(c, m_url, m_finalPath, m_number);
        return placed;
    }
    // The staged file of a check-in that ended before its commit.
    TransferResult discard(FtpClient& c) {
        if (m_staged.isEmpty())
            return {};
        return c.Delete(m_url, m_staged);
    }
    const QString& code() const { return m_code; }
    const QString& user() const { return m_ctx.UserId; }
    const QString& storedName() const { return m_storedName; }
    qint64 fileSize() const { return QFileInfo(m_localPath).size(); }
    // The row of the version this check-in stores, once uploaded and numbered.
    VersionRow version() const {
        VersionRow v;
        v.code = m_code;
        v.number = m_number;
        v.user = m_ctx.UserId;
        v.time = LogTimeText(m_session.clock().now());
        v.size = m_size;
        v.sha256 = m_sha256;
        v.volume = m_ctx.VolumeName;
        v.storedName = m_storedName;
        v.comment = m_comment;
        return v;
    }
    void replacing(qint64 previousNumber) { m_previousNumber = previousNumber; }

private:
    // The rules on the rows as read; again once the code is locked, since another client may act in
    // between. The write right is the check-in's own rule, whatever the dialog let through.
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
    // holds: whether the user holds the drawing.
    qint64 record(bool holds);

    // Without the change right the stored lists stay, whatever the pending lists say.
    QVariantList rights() const {
        if (m_old.exists && !Acl::Grants(m_old.change, m_ctx))
            return {m_old.read, m_old.write, m_old.del, m_old.change};
        return {m_ctx.PendingRead, m_ctx.PendingWrite, m_ctx.PendingDelete, m_ctx.PendingChange};
    }

    Session& m_session;
    Database& m_db;
    const UserContext m_ctx; // a copy: a batch gives each file the lists it had when planned
    const QString m_code;
    const QString m_localPath;
    const QString m_comment;
    const QDate m_today;
    const QString m_storedName;
    const QString m_finalPath;
    const QString m_url;
    StoredDrawing m_old;
    bool m_probeHistory = true;
    qint64 m_lastNumber = 0;     // the code's last check-in when planned
    TransferResult m_lastStaged; // whether the upload found that check-in's file staged
    QString m_historyVolume;     // the volume whose history folder was found to take files
    bool m_keepVersions = true;
    QString m_sha256;
    qint64 m_size = -1;
    qint64 m_previousNumber = 0; // the number of the version this check-in replaces
    QString m_staged;            // the staged file's name now: its own, or numbered
    qint64 m_reserved = 0;
    bool m_endsHold = false;
    qint64 m_number = 0;
};

} // namespace velda
