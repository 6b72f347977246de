#include "core/Condition.h"

#include "core/Session.h"
#include "store/Database.h"
#include "store/DatabaseInit.h"
#include "store/Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace velda {

QString JoinStatement(const QString& prefix, const QString& conditionText, const QString& suffix) {
    // A hand-typed text may end in a digit or a word: the suffix must not glue onto it.
    const bool needsBlank =
        !conditionText.isEmpty() && !conditionText.back().isSpace() && !suffix.isEmpty() && !suffix.front().isSpace();
    return prefix + conditionText + (needsBlank ? QStringLiteral(" ") : QString()) + suffix;
}

namespace {

const QString kDrawingTable = QStringLiteral("图纸信息");
const QString kPartTable = QStringLiteral("零件信息");
const QString kLogTable = QStringLiteral("PDM日志");

ConditionConfig itemTables(const QString& seekMode) {
    ConditionConfig c;
    c.table = seekMode == QLatin1String("ByDrawing") ? kDrawingTable : kPartTable;
    c.selectPrefix = QStringLiteral("select * from ") + c.table + QStringLiteral(" where ");
    // No leading blank: every clause and joining word ends with one.
    c.orderSuffix = QStringLiteral("order by 代号");
    c.upperCaseValues = true;
    return c;
}

QString doubleQuotes(const QString& value) {
    QString out = value;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

// Only the blank character counts: a value of other white space is a value.
bool blankOnly(const QString& value) {
    for (const QChar c : value) {
        if (c != QLatin1Char(' '))
            return false;
    }
    return true;
}

QString canonical(const QString& fieldName, const QStringList& known) {
    for (const QString& k : known) {
        if (k.compare(fieldName, Qt::CaseInsensitive) == 0)
            return k;
    }
    return fieldName;
}

// --- checking a condition text ------------------------------------------------------------------

enum class TokenKind { Word, Literal, Number, Comparison, Open, Close };

struct Token {
    TokenKind kind;
    QString text;
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
}
bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

QString excerpt(const QString& text, qsizetype from) {
    constexpr qsizetype kLength = 20;
    QString part = text.mid(from, kLength);
    if (from + kLength < text.size())
        part += QStringLiteral("…");
    return part;
}

QString refusal(const QString& detail) { return ConditionText::Refused + detail; }

bool isKeyword(const QString& word, const char* keyword) {
    return word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

bool isAllowedKeyword(const QString& word) {
    for (const char* k : {"and", "or", "not", "like", "is", "null", "escape"}) {
        if (isKeyword(word, k))
            return true;
    }
    return false;
}

} // namespace

ConditionConfig ConditionConfig::itemSearch(const QString& seekMode) {
    ConditionConfig c = itemTables(seekMode);
    c.caption = QStringLiteral("查询条件");
    c.showsCount = true;
    c.clearsCountOnRun = true;
    return c;
}

ConditionConfig ConditionConfig::batchCheckOut(const QString& seekMode) {
    ConditionConfig c = itemTables(seekMode);
    c.caption = QStringLiteral("出库条件");
    c.showsCount = false;
    // This dialog's "not found" box carries neither icon nor title.
    c.noRowsIcon = Icon::None;
    c.noRowsTitle = kTitleProgram;
    return c;
}

ConditionConfig ConditionConfig::activityLog() {
    ConditionConfig c;
    c.table = kLogTable;
    c.selectPrefix = QStringLiteral("select * from PDM日志 where ");
    c.orderSuffix = QStringLiteral(" order by ID");
    c.upperCaseValues = false;
    c.excludedColumns = {QStringLiteral("序号")};
    c.caption = QStringLiteral("检索条件");
    c.showsCount = true;
    return c;
}

QStringList ComparisonWords() {
    using namespace ConditionText;
    return {Greater, GreaterOrEqual, Less, LessOrEqual, Equal, Contains};
}

QString ComposeClause(const QString& attribute, const QString& comparison, const QString& value) {
    if (comparison == ConditionText::Contains) {
        // Two blanks before the pattern, as the office's condition texts have always read.
        return attribute + QStringLiteral(" like ") + QStringLiteral(" '%") + doubleQuotes(LikeEscape(value)) +
               QStringLiteral("%'") + QStringLiteral(" escape '\\'") + QStringLiteral(" ");
    }
    if (comparison == ConditionText::Equal && blankOnly(value))
        return attribute + QStringLiteral(" is NULL") + QStringLiteral(" ");
    return attribute + QStringLiteral(" ") + comparison + QStringLiteral(" '") + doubleQuotes(value) +
           QStringLiteral("'") + QStringLiteral(" ");
}

QString JoinWord(const QString& word) { return word + QStringLiteral(" "); }

QStringList TableColumns(const Database& db, const QString& table) { return DatabaseColumns(db, table); }

QStringList OfferedColumns(const Database& db, const ConditionConfig& config) {
    QStringList out;
    for (const QString& column : TableColumns(db, config.table)) {
        if (!config.excludedColumns.contains(column, Qt::CaseInsensitive))
            out << column;
    }
    return out;
}

std::optional<QString> CheckConditionText(const QString& text, const QStringList& columns) {
    QList<Token> tokens;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (isBlank(c)) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('\'')) {
            qsizetype j = i + 1;
            for (;;) {
                if (j >= n)
                    return refusal(excerpt(text, i) + QStringLiteral("（单引号不成对）"));
                if (text[j] == QLatin1Char('\'')) {
                    if (j + 1 < n && text[j + 1] == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            tokens.push_back({TokenKind::Literal, text.mid(i, j + 1 - i)});
            i = j + 1;
            continue;
        }
        const bool afterComparison = !tokens.isEmpty() && tokens.last().kind == TokenKind::Comparison;
        const bool signedNumber = (c == QLatin1Char('-') || c == QLatin1Char('+')) && afterComparison && i + 1 < n &&
                                  isAsciiDigit(text[i + 1]);
        if (isAsciiDigit(c) || signedNumber) {
            qsizetype j = i + 1;
            while (j < n && isAsciiDigit(text[j]))
                ++j;
            if (j + 1 < n && text[j] == QLatin1Char('.') && isAsciiDigit(text[j + 1])) {
                j += 2;
                while (j < n && isAsciiDigit(text[j]))
                    ++j;
            }
            // 1e5, 0x10 and the like are not plain numbers.
            if (j < n && isWordChar(text[j]))
                return refusal(excerpt(text, i));
            tokens.push_back({TokenKind::Number, text.mid(i, j - i)});
            i = j;
            continue;
        }
        if (isWordChar(c)) {
            qsizetype j = i + 1;
            while (j < n && isWordChar(text[j]))
                ++j;
            const QString word = text.mid(i, j - i);
            qsizetype k = j;
            while (k < n && isBlank(text[k]))
                ++k;
            const bool callsSomething = k < n && text[k] == QLatin1Char('(');
            if (isAllowedKeyword(word)) {
                tokens.push_back({TokenKind::Word, word});
            } else if (columns.contains(word, Qt::CaseInsensitive) && !callsSomething) {
                tokens.push_back({TokenKind::Word, word});
            } else {
                return refusal(callsSomething ? word + QStringLiteral("(") : word);
            }
            i = j;
            continue;
        }
        if (c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('=')) {
            qsizetype len = 1;
            if (i + 1 < n) {
                const QChar d = text[i + 1];
                if ((c != QLatin1Char('=') && d == QLatin1Char('=')) ||
                    (c == QLatin1Char('<') && d == QLatin1Char('>')))
                    len = 2;
            }
            tokens.push_back({TokenKind::Comparison, text.mid(i, len)});
            i += len;
            continue;
        }
        if (c == QLatin1Char('(') || c == QLatin1Char(')')) {
            tokens.push_back({c == QLatin1Char('(') ? TokenKind::Open : TokenKind::Close, QString(c)});
            ++i;
            continue;
        }
        return refusal(excerpt(text, i));
    }

    // escape may only name the escape character of a like pattern: like '...' escape '\'.
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.kind != TokenKind::Word || !isKeyword(t.text, "escape"))
            continue;
        const bool afterPattern = k >= 2 && tokens[k - 1].kind == TokenKind::Literal &&
                                  tokens[k - 2].kind == TokenKind::Word && isKeyword(tokens[k - 2].text, "like");
        const bool namesCharacter = k + 1 < tokens.size() && tokens[k + 1].kind == TokenKind::Literal;
        if (!afterPattern || !namesCharacter)
            return refusal(t.text + QStringLiteral("（只能用在like的匹配值之后）"));
    }
    return std::nullopt;
}

int FoundRows::columnIndex(const QString& column) const {
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i].compare(column, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QVariant FoundRows::value(int row, const QString& column) const {
    const int c = columnIndex(column);
    if (row < 0 || row >= count() || c < 0)
        return {};
    return rows[row].value(c);
}

QString FoundRows::text(int row, const QString& column) const {
    const QVariant v = value(row, column);
    return v.isNull() ? QString() : v.toString();
}

Outcome RunConditionSearch(Session& session, const ConditionConfig& config, const QString& conditionText,
                           FoundRows& found, const std::function<void()>& onStart) {
    found = FoundRows{};
    if (conditionText.isEmpty())
        return Outcome::refusal(ConditionText::EmptyCondition, kTitleProgram, Icon::None);
    return Guarded([&] {
        const Database& db = session.db();
        const QStringList columns = TableColumns(db, config.table);
        // The text is typed or edited freely and runs as SQL: it must not reach the database unless it
        // is a plain condition on this table.
        if (const auto refused = CheckConditionText(conditionText, columns))
            return Outcome::refusal(*refused);
        if (onStart)
            onStart();
        QSqlQuery q = db.exec(JoinStatement(config.selectPrefix, conditionText, config.orderSuffix));
        const QSqlRecord record = q.record();
        for (int i = 0; i < record.count(); ++i)
            found.columns << canonical(record.fieldName(i), columns);
        while (q.next()) {
            QVariantList row;
            row.reserve(record.count());
            for (int i = 0; i < record.count(); ++i)
                row << q.value(i);
            found.rows << row;
        }
        // A failure while stepping through the rows must not pass for the end of the rows.
        if (q.lastError().type() != QSqlError::NoError)
            throw Error(QStringLiteral("数据库操作失败：%1").arg(q.lastError().text()));
        if (found.rows.isEmpty())
            return Outcome::refusal(ConditionText::NoRows, config.noRowsTitle, config.noRowsIcon);
        return Outcome::success();
    });
}

QString CountText(int rows) { return QStringLiteral("共") + QString::number(rows) + QStringLiteral("条记录"); }

} // namespace velda
