#pragma once

#include "core/Outcome.h"
#include "core/TextRules.h"
#include "transfer/TransferRunner.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

namespace velda {

namespace rows {
struct StoredDrawing;
}

class Session;
struct UserContext;

// The single-drawing commands of the library. Each either refuses (changing nothing) or completes;
// a failed transfer or database step leaves the library as it was before the command.
//
// How a check-in stays loss-free: the new file is uploaded as a staged file, under a name of this
// client's own beside the stored name; the row, the end of the user's own hold and the log row are
// written in one transaction; before it commits the staged file is renamed to
// "<stored name>.new-<log number>", the number of the check-in's own log row. The stored file itself is touched only after the commit. So a check-in cut off anywhere
// leaves either the old row with its old file in place, or the new row with its file staged under a
// name that the committed log row gives away: Recover() moves it into place, and every command on
// a code runs it first.
//
// How the replaced version stays: the transaction also writes the new version's row in 图纸版本 (and
// one for the version it replaces, when a client that keeps no versions stored that one). After the
// commit, the replaced file is renamed into the volume's history folder under its version's number
// (see Versions.h), and only then is the staged file renamed over the stored name. A check-in cut off
// before the commit changed no file; cut off after it, it left the staged file, which tells recovery
// to finish both moves in that order: the previous version, the newest version row before the last
// check-in, into the history folder (a file already gone from its stored name is already there), then
// the staged file into place. So the current version and every kept one lie under a name that a
// committed row gives away. The history folder is asked before the upload whether it takes files:
// after the commit the move must not be refused.
//
// A deletion keeps the file too: the transaction removes the row (as ever) and marks the drawing's
// version rows deleted; after the commit its file is renamed into the history folder. Cut off in
// between, the file still lies under its stored name, which its version row names, and fetching that
// version looks there when the history folder does not hold it.
class DrawingLibrary final {
public:
    DrawingLibrary(Session& session, TransferRunner runner);

    // File choice in check-in mode: checks the write right of a stored drawing and fills the
    // pending lists (the stored lists, or the default list for a new code). changeAllowed tells
    // whether the rights button may stay enabled.
    struct Choice {
        Outcome refusal; // done() when the choice may go on
        bool changeAllowed = true;
        bool existing = false; // the code is already in the library
    };
    Choice PrepareCheckIn(const QString& code);

    // comment: what the version's row keeps with it; a refusal names the limit when it is too long.
    Outcome CheckIn(const QString& code, const QString& localPath, const QString& comment = {});
    Outcome CheckOut(const QString& code, const QString& localPath);
    Outcome Delete(const QString& code);

    // Puts the committed version of a drawing in place when a check-in was cut off after its commit
    // (the program killed, the server gone). Done when nothing needed doing, too.
    Outcome Recover(const QString& code);

    // Called after each named step of a check-in ("uploaded", "locked", "recorded", "staged",
    // "committed", "kept", "promoted"), of a check-out ("fetched") and of a deletion ("locked",
    // "recorded", "committed", "kept"); tests stop the program or the server there.
    std::function<void(QStringView step)> onStep;

private:
    // Under the code's lock: the staged file of check-in `number`, if one is there, moved into place,
    // the version before it kept first.
    Outcome finishCutOff(const QString& code, const rows::StoredDrawing& now, qint64 number);
    void step(QStringView name) const {
        if (onStep)
            onStep(name);
    }

    Session& m_session;
    TransferRunner m_run;
    // The connections its check-ins and check-outs move files on, kept from one command to the next
    // (a dialog's library runs many); shared by copies.
    std::shared_ptr<std::vector<std::unique_ptr<FtpClient>>> m_connections;
};

namespace LibraryText {
inline const QString EnterCodeFirst = QStringLiteral("请先输入零件代号");
inline const QString NoWriteRight = QStringLiteral("该代号零件已入库，您无权修改，操作被中断！");
inline const QString CodeOrFileEmpty = QStringLiteral("零件代号/文件名称不能为空！");
inline const QString CodeOrPathEmpty = QStringLiteral("零件代号/文件路径不能为空");
inline const QString CodeWithControlCharacter = QStringLiteral("零件代号中含有换行符等控制字符，入库无法完成！");
inline const QString DefineRightsFirst = QStringLiteral("请在零件图纸入库前先进行权限定义！");
inline const QString CheckedIn = QStringLiteral("入库完毕！");
inline const QString NotInLibrary = QStringLiteral("库中不存在符合条件的零件图！");
inline const QString NoRight = QStringLiteral("您权限不够，操作被中断！");
inline const QString CheckedOut = QStringLiteral("出库完毕！");
inline const QString CheckedOutForViewing =
    QStringLiteral("出库完毕！\r\n     您没有该图纸的“写”权限，此副本仅供查看！");
inline const QString CodeEmpty = QStringLiteral("零件代号不能为空！");
inline const QString DeleteWhileOut = QStringLiteral("图纸已被出库，操作被中断！");
inline const QString Deleted = QStringLiteral("删除完毕！");
inline QString HeldByOther(const QString& holder, const QString& when) {
    return QStringLiteral("图纸已被") + holder + QStringLiteral("在") + when + QStringLiteral("出库，入库无法完成！");
}
inline QString AlreadyOut(const QString& code, const QString& holder, const QString& when) {
    return QStringLiteral("零件<") + code + QStringLiteral(">此前已被") + holder + QStringLiteral("在") + when +
           QStringLiteral("出库！") + QStringLiteral("\r\n") + QStringLiteral("     目前你可以查看但无权修改！");
}
// Two codes that differ only in "/" against "-" would share one stored file.
inline QString StoredNameTaken(const QString& code, const QString& other, const QString& storedName) {
    return QStringLiteral("零件<%1>的存储文件名%2已被零件<%3>使用，两者会互相覆盖，入库无法完成！")
        .arg(code, storedName, other);
}
// A committed check-in whose file is neither staged nor in place on the volume.
inline QString CommittedFileLost(const QString& remotePath, qint64 logNumber) {
    return QStringLiteral("服务器上既没有第%1号入库的暂存文件，也没有文件%2，该图纸文件已丢失！")
        .arg(logNumber)
        .arg(remotePath);
}
} // namespace LibraryText

// The refusal for a code that is too long, or an empty text.
QString CodeLengthProblem(const QString& code);

// year/month/day without leading zeros, as the library's date columns hold it.
QString LibraryDate(const QDate& d);

// The name of a check-in's staged file numbered after its log row.
QString StagedName(const QString& remotePath, qint64 logNumber);

} // namespace velda
