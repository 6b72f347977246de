#pragma once

#include "core/Feedback.h"
#include "transfer/TransferWait.h"

#include <QString>

#include <functional>

namespace velda {

class Session;

// What a library command ends with: the message box it shows (a refusal, an error or the closing
// message) and whether the library was changed or the file moved.
struct LibraryOutcome {
    bool done = false;
    QString text;
    Icon icon = Icon::Stop;
    QString title = kTitleFeedback;
    // A refusal is the library saying no (rights, a hold); a failure is a step that went wrong.
    bool failed = false;

    static LibraryOutcome refusal(const QString& text, const QString& title = kTitleFeedback) {
        return {false, text, Icon::Stop, title, false};
    }
    static LibraryOutcome failure(const QString& text) { return {false, text, Icon::Stop, kTitleFeedback, true}; }
    static LibraryOutcome success(const QString& text) { return {true, text, Icon::None, kTitleFeedback, false}; }
};

// How a command moves files: the dialog passes its FormTransfer, tests a client of their own.
using TransferRunner = std::function<TransferResult(const TransferOperation&)>;

// The single-drawing commands of the library. Each either refuses (changing nothing) or completes;
// a failed transfer or database step leaves the library as it was before the command.
class DrawingLibrary final {
public:
    DrawingLibrary(Session& session, TransferRunner runner);

    // File choice in check-in mode: checks the write right of a stored drawing and fills the
    // pending lists (the stored lists, or the default list for a new code). changeAllowed tells
    // whether the rights button may stay enabled.
    struct Choice {
        LibraryOutcome refusal; // done == true when the choice may go on
        bool changeAllowed = true;
        bool existing = false;  // the code is already in the library
    };
    Choice PrepareCheckIn(const QString& code);

    LibraryOutcome CheckIn(const QString& code, const QString& localPath);
    LibraryOutcome CheckOut(const QString& code, const QString& localPath);
    LibraryOutcome Delete(const QString& code);

private:
    bool isAbsent(const QString& url, const QString& remotePath);

    Session& m_session;
    TransferRunner m_run;
};

namespace LibraryText {
inline const QString EnterCodeFirst = QStringLiteral("请先输入零件代号");
inline const QString NoWriteRight = QStringLiteral("该代号零件已入库，您无权修改，操作被中断！");
inline const QString CodeOrFileEmpty = QStringLiteral("零件代号/文件名称不能为空！");
inline const QString CodeOrPathEmpty = QStringLiteral("零件代号/文件路径不能为空");
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
} // namespace LibraryText

// year/month/day without leading zeros, as the library's date columns hold it.
QString LibraryDate(const QDate& d);

} // namespace velda
