#include "archives/Archives.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "store/Database.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>

namespace velda {

namespace ArchiveText {
QString Duplicate(const QString& code) { return QStringLiteral("产品代号%1的档案已存在，不能重复添加").arg(code); }
} // namespace ArchiveText

namespace {

Outcome refused(const QString& text) { return Outcome::refusal(text, kTitleInfo); }

QString field(const QSqlQuery& q, const char* name) {
    // The server spells ASCII names in lower case; the Chinese ones come back as written.
    const QVariant v = q.value(QString::fromUtf8(name));
    return v.isNull() ? QString() : v.toString();
}

ArchiveRecord readRecord(const QSqlQuery& q) {
    ArchiveRecord r;
    r.code = field(q, "代号");
    r.name = field(q, "名称");
    r.startDate = field(q, "立项时间");
    r.plannedDate = field(q, "预计完成时间");
    r.actualDate = field(q, "实际完成时间");
    r.design = field(q, "主任设计");
    r.process = field(q, "主任工艺");
    r.electrical = field(q, "主任电气");
    r.indicators = field(q, "主要性能指标");
    r.features = field(q, "主要技术特点");
    r.memo = field(q, "备注");
    r.owner = field(q, "入库帐号");
    r.rights = {field(q, "读"), field(q, "写"), field(q, "删"), field(q, "改")};
    return r;
}

// A stored empty text stays empty text: the columns hold what the boxes held.
QVariant text(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

} // namespace

bool IsArchiveDate(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{4})([/.-])(\\d{1,2})\\2(\\d{1,2})\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    return QDate(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt()).isValid();
}

QString ArchiveDateText(const QDate& date) { return date.toString(QStringLiteral("yyyy/MM/dd")); }

Outcome Archives::ReadableCodes(QStringList& codes) {
    codes.clear();
    return Guarded([&]() -> Outcome {
        const UserContext& ctx = m_session.ctx;
        const Acl::SqlTest test = Acl::ColumnTest(QStringLiteral("读"), ctx.UserId, ctx.LoginGroup);
        QSqlQuery q = m_session.db().exec(QStringLiteral("select 代号 from 产品档案库 where ") + test.text +
                                              QStringLiteral(" order by 代号"),
                                          test.values);
        while (q.next())
            codes << q.value(0).toString();
        return Outcome::success();
    });
}

Outcome Archives::Open(const QString& code, std::optional<ArchiveRecord>& found) {
    found.reset();
    return Guarded([&]() -> Outcome {
        QSqlQuery q = m_session.db().exec(QStringLiteral("select * from 产品档案库 where 代号=?"), {code});
        if (!q.next())
            return Outcome::success();
        found = readRecord(q);
        q = QSqlQuery();
        AppendLogRow(m_session, code, LogWord::BrowseArchive);
        return Outcome::success();
    });
}

ArchiveAccess Archives::AccessTo(const ArchiveRecord& record) const {
    const UserContext& ctx = m_session.ctx;
    return {Acl::Grants(record.rights.write, ctx), Acl::Grants(record.rights.del, ctx),
            Acl::Grants(record.rights.change, ctx)};
}

Outcome Archives::Add(const ArchiveRecord& r) {
    if (r.code.isEmpty() || r.name.isEmpty() || r.design.isEmpty() || r.process.isEmpty() || r.electrical.isEmpty())
        return refused(ArchiveText::MissingFields);
    if (!IsArchiveDate(r.startDate) || !IsArchiveDate(r.plannedDate))
        return refused(ArchiveText::BadPlanDates);
    if (!r.actualDate.isEmpty() && !IsArchiveDate(r.actualDate))
        return refused(ArchiveText::BadActualDate);
    if (!r.rights.complete())
        return refused(ArchiveText::NoRights);
    return Guarded([&]() -> Outcome {
        Database& db = m_session.db();
        Transaction tx(db);
        try {
            db.exec(
                QStringLiteral("insert into 产品档案库 (代号, 名称, 立项时间, 预计完成时间, 实际完成时间, 主任设计, "
                               "主任工艺, 主任电气, 主要性能指标, 主要技术特点, 备注, 入库帐号, 读, 写, 删, 改) "
                               "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {r.code, r.name, r.startDate, r.plannedDate,
                 r.actualDate.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(r.actualDate), r.design,
                 r.process, r.electrical, text(r.indicators), text(r.features), text(r.memo), m_session.ctx.UserId,
                 r.rights.read, r.rights.write, r.rights.del, r.rights.change});
        } catch (const DuplicateKeyError&) {
            return Outcome::failure(ArchiveText::Duplicate(r.code));
        }
        AppendLogRow(m_session, r.code, LogWord::AddArchive);
        tx.commit();
        return Outcome::success(ArchiveText::Added, Icon::None, kTitleInfo);
    });
}

Outcome Archives::Edit(const ArchiveRecord& r) {
    if (!r.actualDate.isEmpty() && !IsArchiveDate(r.actualDate))
        return refused(ArchiveText::BadActualDate);
    return Guarded([&]() -> Outcome {
        const UserContext& ctx = m_session.ctx;
        Database& db = m_session.db();
        Transaction tx(db);
        const Acl::SqlTest write = Acl::ColumnTest(QStringLiteral("写"), ctx.UserId, ctx.LoginGroup);
        QVariantList values = {r.code};
        values += write.values;
        QSqlQuery q = db.exec(QStringLiteral("select * from 产品档案库 where 代号=? and ") + write.text, values);
        if (!q.next())
            return refused(ArchiveText::Refused);
        const ArchiveRecord stored = readRecord(q);
        q = QSqlQuery();
        // Rights are redefined only by a holder of the change right; anyone else writes back what is stored.
        const ArchiveRights rights = AccessTo(stored).change && r.rights.complete() ? r.rights : stored.rights;
        QString sql = QStringLiteral("update 产品档案库 set ");
        QVariantList set;
        if (!r.actualDate.isEmpty()) {
            sql += QStringLiteral("实际完成时间=?, ");
            set << r.actualDate;
        }
        sql += QStringLiteral(
            "主任设计=?, 主任工艺=?, 主任电气=?, 主要性能指标=?, 主要技术特点=?, 备注=?, 读=?, 写=?, 删=?, "
            "改=? where 代号=?");
        set << text(r.design) << text(r.process) << text(r.electrical) << text(r.indicators) << text(r.features)
            << text(r.memo) << rights.read << rights.write << rights.del << rights.change << r.code;
        db.exec(sql, set);
        AppendLogRow(m_session, r.code, LogWord::EditArchive);
        tx.commit();
        return Outcome::success(ArchiveText::Edited, Icon::None, kTitleInfo);
    });
}

Outcome Archives::Delete(const QString& code) {
    if (code.isEmpty())
        return Outcome::refusal(ArchiveText::ChooseCode);
    return Guarded([&]() -> Outcome {
        const UserContext& ctx = m_session.ctx;
        Database& db = m_session.db();
        Transaction tx(db);
        const Acl::SqlTest del = Acl::ColumnTest(QStringLiteral("删"), ctx.UserId, ctx.LoginGroup);
        QVariantList values = {code};
        values += del.values;
        // The test and the deletion are one statement: rights changed meanwhile by another client count.
        QSqlQuery q = db.exec(QStringLiteral("delete from 产品档案库 where 代号=? and ") + del.text, values);
        if (q.numRowsAffected() <= 0)
            return refused(ArchiveText::Refused);
        q = QSqlQuery();
        AppendLogRow(m_session, code, LogWord::DeleteArchive);
        tx.commit();
        return Outcome::success(ArchiveText::Deleted);
    });
}

} // namespace velda
