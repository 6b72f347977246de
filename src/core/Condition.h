#pragma once

#include "core/Feedback.h"
#include "core/Outcome.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <optional>

namespace velda {

class Database;
class Session;

// What one dialog's condition panel searches and how it behaves; the three dialogs that carry the
// panel differ only in these points.
struct ConditionConfig {
    QString table;                 // the searched table; its columns are the attributes offered
    QString selectPrefix;          // put before the condition text
    QString orderSuffix;           // put after it
    bool upperCaseValues = false;  // letters typed into the value box become capitals
    QStringList excludedColumns;   // columns of the table never offered as attributes
    QString caption;               // the frame's caption
    bool showsCount = true;        // whether the dialog shows the count label at all
    bool clearsCountOnRun = false; // whether the count label is emptied when a search starts
    // How "no matching record" is reported: the dialogs do not agree on icon and title.
    Icon noRowsIcon = Icon::Stop;
    QString noRowsTitle = kTitleFeedback;

    // The item search over 图纸信息 ("ByDrawing") or 零件信息 (any other mode).
    static ConditionConfig itemSearch(const QString& seekMode);
    // The batch check-out: the same tables as the item search, no count label.
    static ConditionConfig batchCheckOut(const QString& seekMode);
    // The activity-log viewer over PDM日志, without its 序号.
    static ConditionConfig activityLog();
};

namespace ConditionText {
inline const QString Greater = QStringLiteral(">");
inline const QString GreaterOrEqual = QStringLiteral(">=");
inline const QString Less = QStringLiteral("<");
inline const QString LessOrEqual = QStringLiteral("<=");
inline const QString Equal = QStringLiteral("=");
inline const QString Contains = QStringLiteral("包含");
inline const QString And = QStringLiteral("And");
inline const QString Or = QStringLiteral("Or");
inline const QString Not = QStringLiteral("Not");

inline const QString EmptyCondition = QStringLiteral("请先输入查询条件！");
inline const QString NoRows = QStringLiteral("库中不存在符合查询条件的记录");
inline const QString Refused = QStringLiteral("查询条件中含有不允许的内容：");
} // namespace ConditionText

// The six comparison words in the order the comparison box offers them.
QStringList ComparisonWords();

// One clause for attribute, comparison word and value, ending with a blank. The value is taken
// exactly as typed; its quotes are doubled so it stays one literal, and for 包含 its % and _ are
// escaped so it is matched as plain text.
QString ComposeClause(const QString& attribute, const QString& comparison, const QString& value);
// A joining word (And, Or, Not) followed by a blank.
QString JoinWord(const QString& word);

// The columns of a table in the database's own order, spelled as the program's schema spells them
// (the server folds ASCII names to lower case). No row is read.
QStringList TableColumns(const Database& db, const QString& table);
// The attributes a panel offers: the table's columns without the excluded ones.
QStringList OfferedColumns(const Database& db, const ConditionConfig& config);

// The verdict on a condition text before it may run: nullopt when it holds only the searched
// table's columns, comparison words, literals, numbers, joining words, parentheses and blanks;
// otherwise the message that tells the user what is not allowed.
std::optional<QString> CheckConditionText(const QString& text, const QStringList& columns);

// The rows a search found, with column names spelled as the schema spells them.
struct FoundRows {
    QStringList columns;
    QList<QVariantList> rows;

    int count() const { return static_cast<int>(rows.size()); }
    int columnIndex(const QString& column) const; // -1 when there is no such column
    QVariant value(int row, const QString& column) const;
    QString text(int row, const QString& column) const; // null as the empty text
};

// The search: checks the condition text, runs prefix + text + suffix and fills found with the rows.
// Every way it can end short (empty text, refused text, no rows, the database's error) is an outcome
// worded for the dialog, with the icon and title the configuration gives "no rows". onStart runs once
// the text has been accepted and before the query, where the dialogs empty their result lists.
Outcome RunConditionSearch(Session& session, const ConditionConfig& config, const QString& conditionText,
                           FoundRows& found, const std::function<void()>& onStart = {});

// "共" + n + "条记录".
QString CountText(int rows);

// The statement around a condition text: prefix, text, then the suffix, with a blank where the text
// would otherwise run into it.
QString JoinStatement(const QString& prefix, const QString& conditionText, const QString& suffix);

} // namespace velda
