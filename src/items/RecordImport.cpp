#include "items/RecordImport.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "core/TextRules.h"
#include "store/Database.h"
#include "store/ManyRows.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <optional>

namespace velda {

namespace {

using Values = std::array<QString, kRecordFieldCount>;

// A header as written, reduced to what names it: no blanks, no unit in brackets, no colon or star.
QString HeaderKey(const QString& header) {
    static const QRegularExpression unit(QStringLiteral("[（(][^）)]*[）)]"));
    QString key = header;
    key.remove(unit);
    QString out;
    for (const QChar c : key)
        if (!c.isSpace() && c != QLatin1Char(':') && c != QChar(u'：') && c != QLatin1Char('*'))
            out += c.toLower();
    return out;
}

// The names offices' lists give the fields, beside the stored column names.
const QHash<QString, int>& Variants() {
    static const QHash<QString, int> map = [] {
        const std::pair<int, const char16_t*> pairs[] = {
            {FieldCode, u"零件代号"},   {FieldCode, u"图号"},          {FieldCode, u"图样代号"},
            {FieldCode, u"零件图号"},   {FieldCode, u"代号/图号"},     {FieldCode, u"code"},
            {FieldName, u"零件名称"},   {FieldName, u"品名"},          {FieldName, u"name"},
            {FieldWeight, u"单重"},     {FieldWeight, u"质量"},        {FieldWeight, u"weight"},
            {FieldMaterial, u"材质"},   {FieldMaterial, u"材料名称"},  {FieldMaterial, u"material"},
            {FieldDesign, u"设计者"},   {FieldDesign, u"设计人"},      {FieldVerify, u"校对者"},
            {FieldVerify, u"校对人"},   {FieldVerify, u"校核"},        {FieldMain, u"主管"},
            {FieldMain, u"主管设计师"}, {FieldHead, u"审定人"},        {FieldHead, u"批准"},
            {FieldStandard, u"标准化"}, {FieldStandard, u"标审"},      {FieldStandard, u"标准化审查"},
            {FieldProcess, u"工艺"},    {FieldProcess, u"工艺审核"},   {FieldDate, u"设计日期"},
            {FieldDate, u"date"},       {FieldScale, u"scale"},        {FieldCoding, u"物料编码"},
            {FieldSheetSize, u"图幅"},  {FieldSheetSize, u"图纸幅面"}, {FieldPages, u"张数"},
            {FieldPages, u"总页数"},    {FieldMark, u"图样标记"},      {FieldMark, u"标记"},
            {FieldKind, u"零件类型"},
        };
        QHash<QString, int> m;
        for (int f = 0; f < kRecordFieldCount; ++f)
            m.insert(HeaderKey(RecordFieldNames()[f]), f);
        for (const auto& [field, name] : pairs)
            m.insert(HeaderKey(QString::fromUtf16(name)), field);
        return m;
    }();
    return map;
}

// A line break or a tab in a cell is data the spreadsheet shows and the database keeps; NUL, other
// control characters and lone surrogates are not. Most cells have none of the three: those are
// checked as they are, without a copy.
bool Unstorable(const QString& text) {
    const auto kept = [](QChar c) {
        return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t');
    };
    if (std::none_of(text.begin(), text.end(), kept))
        return HasUnstorableCharacter(text);
    QString bare = text;
    bare.removeIf(kept);
    return HasUnstorableCharacter(bare);
}

Values ToValues(const ItemEntry& e) {
    const PartFields& p = e.part;
    const DrawingFields& d = e.drawing;
    return {e.code,    p.name, p.weight, p.material, d.design,    d.verify, d.main, d.head,          d.standard,
            d.process, d.date, d.scale,  d.coding,   d.sheetSize, d.pages,  d.mark, PartKind(e.code)};
}

ItemEntry ToEntry(const Values& v) {
    ItemEntry e;
    e.code = v[FieldCode];
    e.part = {v[FieldName], v[FieldWeight], v[FieldMaterial]};
    e.drawing = {v[FieldDesign], v[FieldVerify], v[FieldMain],   v[FieldHead],      v[FieldStandard], v[FieldProcess],
                 v[FieldDate],   v[FieldScale],  v[FieldCoding], v[FieldSheetSize], v[FieldPages],    v[FieldMark]};
    return e;
}

QString Text(const QSqlQuery& q, int column) {
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}

const QString kPartColumns = QStringLiteral("select 代号,名称,重量,材料 from 零件信息");
const QString kDrawingColumns =
    QStringLiteral("select 代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,页数,图样 from 图纸信息");

// The stored records of the file's codes. A long list is matched against each table read once, when
// the table is not much larger than the list; otherwise the codes are asked for a slice at a time. The
// step is asked between statements whether to go on.
QHash<QString, ItemRecords> LoadMany(const Database& db, const QStringList& codes, const std::function<bool()>& goOn) {
    QHash<QString, ItemRecords> out;
    if (codes.isEmpty())
        return out;
    out.reserve(codes.size());
    const auto part = [&](const QSqlQuery& p) {
        out[Text(p, 0)].part = PartFields{Text(p, 1), Text(p, 2), Text(p, 3)};
    };
    const auto drawing = [&](const QSqlQuery& d) {
        out[Text(d, 0)].drawing =
            DrawingFields{Text(d, 1), Text(d, 2), Text(d, 3), Text(d, 4),  Text(d, 5),  Text(d, 6),
                          Text(d, 7), Text(d, 8), Text(d, 9), Text(d, 10), Text(d, 11), Text(d, 12)};
    };
    constexpr qsizetype kWholeFrom = 2000;
    const bool whole = codes.size() >= kWholeFrom &&
                       db.scalar(QStringLiteral("select count(*) from 零件信息")).toLongLong() <= 4 * codes.size();
    if (whole) {
        const QSet<QString> wanted(codes.begin(), codes.end());
        for (const auto& [sql, take] : {std::pair{kPartColumns, std::function<void(const QSqlQuery&)>(part)},
                                        std::pair{kDrawingColumns, std::function<void(const QSqlQuery&)>(drawing)}}) {
            if (goOn && !goOn())
                return out;
            QSqlQuery q = db.exec(sql);
            while (q.next())
                if (wanted.contains(Text(q, 0)))
                    take(q);
        }
        return out;
    }
    const int slice = SliceSize(db);
    for (qsizetype at = 0; at < codes.size(); at += slice) {
        if (goOn && !goOn())
            return out;
        const QStringList chunk = codes.mid(at, slice);
        const QVariantList values(chunk.begin(), chunk.end());
        const QString in = QStringLiteral(" where 代号 in (%1)").arg(Marks(chunk.size()));
        QSqlQuery p = db.exec(kPartColumns + in, values);
        while (p.next())
            part(p);
        QSqlQuery d = db.exec(kDrawingColumns + in, values);
        while (d.next())
            drawing(d);
    }
    return out;
}

QVariant Stored(const QString& value) {
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

// Changes the records of a code that has at least one of them; the one it lacks is added.
Outcome UpdateItemRecords(Session& session, Database& db, const ImportRow& row) {
    return Guarded([&] {
        Transaction tx(db);
        const ItemEntry& e = row.next;
        const PartFields& p = e.part;
        const DrawingFields& d = e.drawing;
        const QVariantList drawing = {Stored(d.design),   Stored(d.verify),    Stored(d.main),  Stored(d.head),
                                      Stored(d.standard), Stored(d.process),   Stored(d.date),  Stored(d.scale),
                                      Stored(d.coding),   Stored(d.sheetSize), Stored(d.pages), Stored(d.mark)};
        int touched = 0;
        if (row.hadPart) {
            touched += db.exec(QStringLiteral("update 零件信息 set 名称=?,重量=?,材料=? where 代号=?"),
                               {Stored(p.name), Stored(p.weight), Stored(p.material), e.code})
                           .numRowsAffected();
        } else {
            db.exec(QStringLiteral("insert into 零件信息 (代号,名称,重量,材料,类型) values (?,?,?,?,?)"),
                    {e.code, Stored(p.name), Stored(p.weight), Stored(p.material), PartKind(e.code)});
        }
        if (row.hadDrawing) {
            touched +=
                db.exec(QStringLiteral("update 图纸信息 set 设计=?,校对=?,主管设计=?,审定=?,标准审查=?,工艺审查=?,"
                                       "日期=?,比例=?,编码=?,幅面=?,页数=?,图样=? where 代号=?"),
                        drawing + QVariantList{e.code})
                    .numRowsAffected();
        } else {
            db.exec(
                QStringLiteral("insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,"
                               "幅面,页数,图样,页码) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                QVariantList{e.code} + drawing + QVariantList{QStringLiteral("1")});
        }
        // Deleted by somebody else since the dry run: nothing is put back in its place.
        if (touched < int(row.hadPart) + int(row.hadDrawing))
            return Outcome::failure(QStringLiteral("代号为%1的记录已被删除，未修改").arg(e.code));
        AppendLogRow(session, db, session.ctx.UserId, e.code, LogWord::AddItemInfo);
        tx.commit();
        return Outcome::success();
    });
}

// A new pair and its log row in one statement: on the server a statement is a transaction of its own, so
// the pair and its row stand or fall together as the records dialog's transaction makes them.
const QString kNewPairStatement = QStringLiteral(
    "with p as (insert into 零件信息 (代号,名称,重量,材料,类型) values (?,?,?,?,?)), "
    "d as (insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,页数,图样,页码) "
    "values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)) "
    "insert into PDM日志 (ID, 代号, 时间, 方式) values (?,?,?,?)");

QVariantList NewPairValues(const ItemEntry& e, const QString& user, const QString& when) {
    const PartFields& p = e.part;
    const DrawingFields& d = e.drawing;
    return {e.code,
            Stored(p.name),
            Stored(p.weight),
            Stored(p.material),
            PartKind(e.code),
            e.code,
            Stored(d.design),
            Stored(d.verify),
            Stored(d.main),
            Stored(d.head),
            Stored(d.standard),
            Stored(d.process),
            Stored(d.date),
            Stored(d.scale),
            Stored(d.coding),
            Stored(d.sheetSize),
            Stored(d.pages),
            Stored(d.mark),
            QStringLiteral("1"),
            user,
            e.code,
            when,
            LogWord::AddItemInfo};
}

const QString kPartInsert = QStringLiteral("insert into 零件信息 (代号,名称,重量,材料,类型) values (?,?,?,?,?)");
const QString kDrawingInsert = QStringLiteral(
    "insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,页数,图样,页码) "
    "values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
const QString kLogInsert = QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?,?,?,?)");

// New pairs into the local file: the pair and its log row in a transaction of their own, as the
// records dialog writes them, through three statements prepared once for the whole import (preparing
// them for each pair cost more than running them).
class LocalPairWriter final {
public:
    explicit LocalPairWriter(Database& db) : m_db(db), m_part(db.handle()), m_drawing(db.handle()), m_log(db.handle()) {
        for (auto [q, sql] : {std::pair{&m_part, &kPartInsert}, {&m_drawing, &kDrawingInsert}, {&m_log, &kLogInsert}})
            if (!q->prepare(*sql))
                throw Error(QStringLiteral("数据库语句有误：%1").arg(q->lastError().text()));
    }

    Outcome add(const ItemEntry& e, const QString& user, const QString& when) {
        return Guarded([&] {
            Transaction tx(m_db);
            const QVariantList values = NewPairValues(e, user, when);
            if (!run(m_part, values, 0, 5))
                return Outcome::failure(ItemText::AlreadyThere(e.code));
            if (!run(m_drawing, values, 5, 14))
                return Outcome::failure(ItemText::AlreadyThere(e.code));
            run(m_log, values, 19, 4);
            tx.commit();
            return Outcome::success();
        });
    }

private:
    // The values from..from+count of the pair's list; false for a code already stored.
    static bool run(QSqlQuery& q, const QVariantList& values, int from, int count) {
        for (int k = 0; k < count; ++k)
            q.bindValue(k, values[from + k]);
        if (q.exec())
            return true;
        const QSqlError e = q.lastError();
        if (Database::isUniqueViolation(e))
            return false;
        const QString why = e.databaseText().trimmed();
        throw Error(QStringLiteral("数据库操作失败：%1").arg(why.isEmpty() ? e.text() : why));
    }

    Database& m_db;
    QSqlQuery m_part, m_drawing, m_log;
};

// The local file's settings for the length of an import: each commit is kept whole by its write to the
// log file, which is not synced to the disk until a checkpoint; checkpoints (each syncing both files)
// come every 10,000 pages instead of every 1,000, which for thousands of small transactions was most of
// their time. A power cut may lose the last commits, never half of one. The settings are given back after.
class LocalImportSettings final {
public:
    explicit LocalImportSettings(Database& db) : m_db(db) {
        if (db.dialect() != Dialect::SQLite)
            return;
        Guarded([&] {
            m_synchronous = db.scalar(QStringLiteral("PRAGMA synchronous")).toInt();
            m_checkpoint = db.scalar(QStringLiteral("PRAGMA wal_autocheckpoint")).toInt();
            db.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
            db.exec(QStringLiteral("PRAGMA wal_autocheckpoint = 10000"));
            return Outcome::success();
        });
    }
    ~LocalImportSettings() {
        if (m_synchronous < 0)
            return;
        Guarded([&] {
            m_db.exec(QStringLiteral("PRAGMA synchronous = %1").arg(m_synchronous));
            m_db.exec(QStringLiteral("PRAGMA wal_autocheckpoint = %1").arg(m_checkpoint));
            return Outcome::success();
        });
    }
    LocalImportSettings(const LocalImportSettings&) = delete;
    LocalImportSettings& operator=(const LocalImportSettings&) = delete;

private:
    Database& m_db;
    int m_synchronous = -1, m_checkpoint = 1000;
};

} // namespace

const QStringList& RecordFieldNames() {
    static const QStringList names =
        QStringLiteral("代号 名称 重量 材料 设计 校对 主管设计 审定 标准审查 工艺审查 日期 "
                       "比例 编码 幅面 页数 图样 类型")
            .split(QLatin1Char(' '));
    return names;
}

int RecordFieldOf(const QString& header) { return Variants().value(HeaderKey(header), -1); }

std::array<QString, kRecordFieldCount> RecordValues(const QString& code, const ItemRecords& records) {
    ItemEntry e;
    e.code = code;
    if (records.part)
        e.part = *records.part;
    if (records.drawing)
        e.drawing = *records.drawing;
    return ToValues(e);
}

QString ImportText::Summary(int added, int updated, int unchanged, int skipped, int refused, int failed) {
    QString text = QStringLiteral("导入完成：新增%1条，修改%2条，不变%3条").arg(added).arg(updated).arg(unchanged);
    if (skipped > 0)
        text += QStringLiteral("，%1条有变化但未选择更新已有记录").arg(skipped);
    if (refused > 0)
        text += QStringLiteral("，拒绝%1行").arg(refused);
    if (failed > 0)
        text += QStringLiteral("，失败%1条").arg(failed);
    return text;
}

QString ImportText::StoppedSummary(int finished, int left) {
    return QStringLiteral("导入已停止：已完成%1条，其余%2条未导入").arg(finished).arg(left);
}

ImportMapping MatchColumns(const SheetTable& table) {
    ImportMapping best;
    int bestCount = 0;
    // The headers are in one of the first rows; above them a title or a merged group caption may stand.
    for (size_t i = 0; i < table.rows.size() && i < 10; ++i) {
        ImportMapping m;
        m.headerRow = table.rows[i].number;
        m.headers = table.rows[i].cells;
        int count = 0;
        for (qsizetype c = 0; c < m.headers.size(); ++c) {
            const int f = RecordFieldOf(m.headers[c]);
            if (f >= 0 && m.column[f] < 0) {
                m.column[f] = int(c);
                ++count;
            }
        }
        if (count > bestCount) {
            best = m;
            bestCount = count;
        }
    }
    if (bestCount == 0 && !table.rows.empty()) {
        best.headerRow = table.rows.front().number;
        best.headers = table.rows.front().cells;
    }
    return best;
}

QString MapColumn(ImportMapping& mapping, const QString& field, const QString& column) {
    const int f = RecordFieldOf(field);
    if (f < 0)
        return ImportText::UnknownField.arg(field);
    if (column.isEmpty()) {
        mapping.column[f] = -1;
        return {};
    }
    qsizetype c = mapping.headers.indexOf(column);
    static const QRegularExpression letters(QStringLiteral("^[A-Za-z]{1,3}$"));
    if (c < 0 && letters.match(column).hasMatch()) {
        c = 0;
        for (const QChar ch : column)
            c = c * 26 + (ch.toUpper().unicode() - u'A' + 1);
        --c;
    }
    if (c < 0)
        return ImportText::UnknownColumn.arg(column);
    mapping.column[f] = int(c);
    return {};
}

int ImportPlan::count(RowVerdict verdict) const {
    return int(std::count_if(rows.begin(), rows.end(), [&](const ImportRow& r) { return r.verdict == verdict; }));
}

int ImportPlan::count(RowResult result) const {
    return int(std::count_if(rows.begin(), rows.end(), [&](const ImportRow& r) { return r.result == result; }));
}

ImportPlan PlanImport(const Database& db, const SheetTable& table, const ImportMapping& mapping,
                      const ImportStep& step) {
    ImportPlan plan;
    plan.rows.reserve(table.rows.size());
    const QStringList materials = MaterialList(db);
    const QSet<QString> materialSet(materials.begin(), materials.end());
    const QStringList kinds = {ItemText::KindWeldedAssembly, ItemText::KindWeldedPart, ItemText::KindAssembly,
                               ItemText::KindPart};
    QHash<QString, int> firstRow;
    QStringList codes;
    codes.reserve(qsizetype(table.rows.size()));
    std::vector<const SheetRow*> sources;
    sources.reserve(table.rows.size());
    for (const SheetRow& source : table.rows) {
        if (source.number <= mapping.headerRow)
            continue;
        ImportRow row;
        row.row = source.number;
        sources.push_back(&source);
        auto refuse = [&](const QString& why) {
            row.verdict = RowVerdict::Refused;
            row.reason = why;
        };
        QString bad;
        for (int f = 0; f < kRecordFieldCount && bad.isEmpty(); ++f) {
            const int c = mapping.column[f];
            if (c >= 0 && Unstorable(source.cell(c)))
                bad = ImportText::Unstorable.arg(SheetText::At(source.number, c));
        }
        row.code = UpperCaseCode(TypedCode(source.cell(mapping.column[FieldCode])));
        if (!bad.isEmpty())
            refuse(bad);
        else if (row.code.isEmpty())
            refuse(ImportText::EmptyCode);
        else if (!CodeFits(row.code))
            refuse(ImportText::CodeTooLong.arg(kMaxCodeBytes));
        else if (const auto seen = firstRow.constFind(row.code); seen != firstRow.cend())
            refuse(ImportText::Duplicate.arg(*seen));
        else {
            firstRow.insert(row.code, row.row);
            codes << row.code;
            row.verdict = RowVerdict::New; // for now: decided once the stored records are known
        }
        plan.rows.push_back(std::move(row));
    }

    // The reading of the stored records is half the work, the comparing the other half.
    const int total = int(plan.rows.size());
    const auto stop = [&](int done) {
        plan.stopped = plan.stopped || (step && !step(done, total));
        return plan.stopped;
    };
    const QHash<QString, ItemRecords> stored = LoadMany(db, codes, [&] { return !stop(0); });
    if (plan.stopped)
        return plan;
    for (size_t i = 0; i < plan.rows.size(); ++i) {
        if (i % 1000 == 0 && stop(int(i)))
            return plan;
        ImportRow& row = plan.rows[i];
        if (row.verdict == RowVerdict::Refused)
            continue;
        const SheetRow& source = *sources[i];
        const ItemRecords existing = stored.value(row.code);
        row.hadPart = existing.part.has_value();
        row.hadDrawing = existing.drawing.has_value();
        // What the dialog offers for a new record, then what is stored, then what the file says.
        ItemEntry base;
        base.code = row.code;
        base.drawing.scale = kDefaultScale;
        base.drawing.sheetSize = kDefaultSheetSize;
        base.drawing.pages = PageCountList().constFirst();
        base.drawing.mark = DrawingMarkList().constFirst();
        if (existing.part)
            base.part = *existing.part;
        if (existing.drawing)
            base.drawing = *existing.drawing;
        const Values before = ToValues(base);
        Values after = before;
        for (int f = FieldName; f < FieldKind; ++f)
            if (mapping.column[f] >= 0)
                after[f] = source.cell(mapping.column[f]);
        const QString kind =
            mapping.column[FieldKind] >= 0 ? source.cell(mapping.column[FieldKind]).trimmed() : QString();
        auto refuse = [&](const QString& why) {
            row.verdict = RowVerdict::Refused;
            row.reason = why;
        };
        if (after[FieldName].isEmpty())
            refuse(ImportText::EmptyName);
        else if (after[FieldScale].isEmpty())
            refuse(ImportText::EmptyScale);
        else if (!after[FieldMaterial].isEmpty() && !materialSet.contains(after[FieldMaterial]))
            refuse(ImportText::UnknownMaterial.arg(after[FieldMaterial]));
        else if (!kind.isEmpty() && !kinds.contains(kind))
            refuse(ImportText::UnknownKind.arg(kind));
        else if (!kind.isEmpty() && kind != PartKind(row.code))
            refuse(ImportText::WrongKind.arg(kind, PartKind(row.code)));
        if (row.verdict == RowVerdict::Refused)
            continue;
        row.next = ToEntry(after);
        if (!row.hadPart && !row.hadDrawing) {
            row.verdict = RowVerdict::New;
            continue;
        }
        const Values old = RecordValues(row.code, existing);
        for (int f = FieldName; f < FieldKind; ++f)
            if (old[f] != after[f])
                row.changes.push_back({f, old[f], after[f]});
        row.verdict =
            row.changes.empty() && row.hadPart && row.hadDrawing ? RowVerdict::Unchanged : RowVerdict::Changed;
    }
    return plan;
}

Outcome ApplyImport(Session& session, ImportPlan& plan, bool update, const ImportStep& step) {
    return Guarded([&] { return ApplyImport(session, session.db(), plan, update, step); });
}

Outcome ApplyImport(Session& session, Database& db, ImportPlan& plan, bool update, const ImportStep& step) {
    std::vector<ImportRow*> wanted;
    for (ImportRow& row : plan.rows) {
        row.result = RowResult::Pending;
        row.message.clear();
        if (row.verdict == RowVerdict::New || (row.verdict == RowVerdict::Changed && update))
            wanted.push_back(&row);
        else if (row.verdict == RowVerdict::Changed)
            row.result = RowResult::Skipped;
    }
    const int total = int(wanted.size());
    int finished = 0;
    bool stopped = false;
    QString firstFailure;
    auto done = [&](ImportRow& row, const Outcome& o) {
        if (o.done()) {
            row.result = row.verdict == RowVerdict::New ? RowResult::Added : RowResult::Updated;
        } else {
            row.result = RowResult::Failed;
            row.message = o.text;
            if (firstFailure.isEmpty())
                firstFailure = o.text;
        }
        ++finished;
        if (step && !step(finished, total))
            stopped = true;
    };
    const bool server = db.dialect() == Dialect::PostgreSQL;
    const LocalImportSettings settings(db);
    std::optional<LocalPairWriter> local;
    if (!server) {
        const Outcome prepared = Guarded([&] {
            local.emplace(db);
            return Outcome::success();
        });
        if (!prepared.done()) {
            for (ImportRow* row : wanted)
                row->result = RowResult::NotReached;
            return prepared;
        }
    }
    for (size_t at = 0; at < wanted.size() && !stopped;) {
        ImportRow& row = *wanted[at];
        if (row.verdict != RowVerdict::New) {
            done(row, UpdateItemRecords(session, db, row));
            ++at;
            continue;
        }
        if (local) {
            done(row, local->add(row.next, session.ctx.UserId, LogTimeText(session.clock().now())));
            ++at;
            continue;
        }
        // On the server a new pair and its log row go as one statement, which is its own transaction: one
        // round trip a pair instead of eleven. A run of new pairs shares the prepared statement.
        std::vector<ImportRow*> run;
        for (; at < wanted.size() && run.size() < 64 && wanted[at]->verdict == RowVerdict::New; ++at)
            run.push_back(wanted[at]);
        size_t next = 0;
        while (next < run.size() && !stopped) {
            const QString when = LogTimeText(session.clock().now());
            QList<QVariantList> values;
            for (size_t k = next; k < run.size(); ++k)
                values << NewPairValues(run[k]->next, session.ctx.UserId, when);
            // A stop between two pairs ends the run at once: the pairs not yet sent stay out.
            struct StopRun {};
            Outcome o = Outcome::success();
            try {
                db.execEach(kNewPairStatement, values, [&](QSqlQuery&) {
                    done(*run[next++], Outcome::success());
                    if (stopped)
                        throw StopRun{};
                });
            } catch (const StopRun&) {
            } catch (const DuplicateKeyError&) {
                o = Outcome::failure(ItemText::AlreadyThere(run[next]->code));
            } catch (const Error& e) {
                o = Outcome::failure(e.description());
            }
            if (!o.done() && next < run.size())
                done(*run[next++], o);
        }
        // Stopped inside the run: the rest of it was never sent.
        if (stopped)
            break;
    }
    for (ImportRow* row : wanted)
        if (row->result == RowResult::Pending)
            row->result = RowResult::NotReached;
    const int failed = plan.count(RowResult::Failed);
    QString text = ImportText::Summary(plan.count(RowResult::Added), plan.count(RowResult::Updated),
                                       plan.count(RowVerdict::Unchanged), plan.count(RowResult::Skipped),
                                       plan.count(RowVerdict::Refused), failed);
    if (stopped && finished < total)
        text = ImportText::StoppedSummary(finished, total - finished) + QStringLiteral("。") + text;
    if (failed > 0)
        return Outcome::failure(text + QStringLiteral("。") + firstFailure);
    return Outcome::success(text, Icon::None, kTitleFeedback);
}

QList<QStringList> ImportReportRows(const ImportPlan& plan) {
    QList<QStringList> out;
    for (const ImportRow& r : plan.rows) {
        QString word;
        QString note = r.reason;
        switch (r.result) {
        case RowResult::Added:
            word = ImportText::WordAdded;
            break;
        case RowResult::Updated:
            word = ImportText::WordUpdated;
            break;
        case RowResult::Skipped:
            word = ImportText::WordSkipped;
            break;
        case RowResult::Failed:
            word = ImportText::WordFailed;
            note = r.message;
            break;
        case RowResult::NotReached:
            word = ImportText::WordNotReached;
            break;
        case RowResult::Pending:
            word = r.verdict == RowVerdict::New         ? ImportText::WordNew
                   : r.verdict == RowVerdict::Changed   ? ImportText::WordChanged
                   : r.verdict == RowVerdict::Unchanged ? ImportText::WordUnchanged
                                                        : ImportText::WordRefused;
            break;
        }
        if (note.isEmpty() && !r.changes.empty()) {
            QStringList parts;
            for (const FieldChange& c : r.changes)
                parts << QStringLiteral("%1：%2→%3").arg(RecordFieldNames()[c.field], c.before, c.after);
            note = parts.join(QStringLiteral("；"));
        }
        out << QStringList{QString::number(r.row), r.code, word, note};
    }
    return out;
}

} // namespace velda
