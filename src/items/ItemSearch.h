#pragma once

#include "core/Condition.h"
#include "core/Outcome.h"
#include "items/ItemRecords.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velda {

class Session;

namespace SeekText {
inline const QString Caption = QStringLiteral("零件信息查询");
inline const QString NotInLibrary = QStringLiteral("图纸目前尚未入库！");
inline const QString InLibrary = QStringLiteral("图纸已入库！");
inline const QString StateNormal = QStringLiteral("正常");
inline const QString StateOut = QStringLiteral("出库");
// "图纸已被" + account + "于" + time + "出库！"
inline QString CheckedOutBy(const QString& account, const QString& when) {
    return QStringLiteral("图纸已被") + account + QStringLiteral("于") + when + QStringLiteral("出库！");
}
// A library row in another state than 正常 says so, rather than keeping the previous drawing's text.
inline QString OtherState(const QString& state) {
    if (state == StateOut)
        return QStringLiteral("图纸已出库！");
    return QStringLiteral("图纸当前状态为“%1”！").arg(state);
}
inline QString PreviewFailed(const QString& code, const QString& reason) {
    return QStringLiteral("图纸<%1>的预览文件获取失败：%2").arg(code, reason);
}
} // namespace SeekText

// The statement of the item search: the found rows' codes are all the window shows, so only they are read.
QString ItemSearchStatement(const ConditionConfig& config, const QString& conditionText);

// The item search: the condition text checked against the searched table's columns, the statement
// run, and the codes of the found rows in their order put into *codes. onStart runs once the text is
// accepted, before the query, for the window to empty its list. The outcome is silent when rows were
// found; otherwise it carries the message (empty text, refused text, no rows, the database's error).
Outcome SearchItemCodes(Session& session, const ConditionConfig& config, const QString& conditionText,
                        QStringList* codes, const std::function<void()>& onStart = {});

// The codes the library tables are searched with, in order: the code as typed (the single check-in
// stores it so), then with every "/" turned into "-" (as stored names and the batch check-in have it).
QStringList LibraryCodes(const QString& code);

// Where the drawing file of a found library row lies, for a user who may read it.
struct PreviewSource {
    QString url;        // the volume URL with the account password
    QString remotePath; // "Volume/" + volume + "/" + stored file name
    QString code;       // the library row's code
    qint64 version = 0; // the number of its last check-in's log row, 0 for none
    // Server, volume, stored name and last check-in: the same key means the same file, so a copy
    // already fetched for the window serves again.
    QString key;
};

struct ItemDetail {
    QString code;
    ItemRecords records; // empty when the records were not loaded
    QString caption;     // the library state for the status label
    std::optional<PreviewSource> preview;
};

// The detail view of a code without the fetch of the picture: the part and drawing records (when
// loadRecords), the library state and the place of the file when the user may read it. Writes one
// "浏览图纸信息" log row. Throws Error.
ItemDetail LoadItemDetail(Session& session, const QString& code, bool loadRecords);

} // namespace velda
