#pragma once

#include "core/Outcome.h"
#include "library/Versions.h"
#include "transfer/TransferRunner.h"

#include <QString>

#include <vector>

namespace velda {

class Session;

namespace HistoryText {
inline const QString Fetched = QStringLiteral("取出完毕！");
inline const QString Restored = QStringLiteral("恢复完毕！");
inline const QString AdminOnly = QStringLiteral("只有管理员才能查看和恢复已删除的图纸！");
inline QString NoHistory(const QString& code) { return QStringLiteral("图纸<%1>没有保存的版本！").arg(code); }
inline QString CodeTaken(const QString& code) {
    return QStringLiteral("库中已有零件<%1>的图纸，不能恢复已删除的同代号图纸！").arg(code);
}
inline QString NotDeleted(const QString& code) { return QStringLiteral("图纸<%1>不在已删除图纸中！").arg(code); }
inline QString FetchedAs(const QString& path) { return QStringLiteral("取出完毕！\r\n文件已保存为%1").arg(path); }
} // namespace HistoryText

// The kept versions of the library's drawings: the list of one drawing's versions, fetching one of
// them, making one current again, and the deleted drawings with their way back. Fetching writes no
// hold; making a version current, or bringing back a deleted drawing, is a check-in of that version's
// content (DrawingLibrary::CheckIn), in the same loss-free order, so the version it replaces is kept
// like any other.
class DrawingHistory final {
public:
    DrawingHistory(Session& session, TransferRunner runner);

    // Newest first. A live drawing needs the read right; a deleted one, an administrator.
    Outcome Versions(const QString& code, std::vector<VersionRow>& out);
    // Saves the version's file into the folder as "<code>-v<number>.dwg" ("/" in the code as "-"); the
    // path it took in *savedAs.
    Outcome Fetch(const QString& code, qint64 number, const QString& folder, QString* savedAs = nullptr);
    // The version's file into localPath for a look at its picture: no log row, no hold.
    Outcome Preview(const QString& code, qint64 number, const QString& localPath);
    // The version becomes the current one as a new check-in: the write right, the drawing not held by
    // another, as for any check-in.
    Outcome Restore(const QString& code, qint64 number, const QString& comment = {});
    // Administrators only; newest deletion first.
    Outcome Deleted(std::vector<DeletedDrawing>& out);
    // The deleted drawing's newest version checked in again, with the restoring user's default rights;
    // refused while a drawing holds the code or the stored name.
    Outcome Undelete(const QString& code, const QString& comment = {});

    // The file name Fetch gives a version.
    static QString FetchName(const QString& code, qint64 number);

private:
    Outcome readable(const QString& code, bool* deleted);
    // The version's file into a local path; the failure names the version and its volume.
    Outcome download(const VersionRow& v, const QString& localPath);
    Outcome checkInVersion(const QString& code, qint64 number, const QString& comment, bool undelete);

    Session& m_session;
    TransferRunner m_run;
};

} // namespace velda
