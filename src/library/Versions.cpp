#include "library/Versions.h"

#include "core/ActivityLog.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "store/Database.h"
#include "store/ManyRows.h"
#include "transfer/TransferCommand.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <algorithm>

namespace velda {

QString HistoryFolder(const QString& volume) { return RemotePath(volume, kHistoryFolderName); }

QString HistoryPath(const QString& volume, qint64 number, const QString& storedName) {
    return HistoryFolder(volume) + QLatin1Char('/') + QString::number(number) + QLatin1Char('-') + storedName;
}

qint64 HistoryFileNumber(const QString& fileName) {
    const qsizetype dash = fileName.indexOf(QLatin1Char('-'));
    if (dash <= 0)
        return 0;
    bool ok = false;
    const qint64 n = fileName.left(dash).toLongLong(&ok);
    return ok && n > 0 ? n : 0;
}

QString VersionText::CommentTooLong(qsizetype length) {
    return QStringLiteral("入库说明过长，最多%1个字，此说明有%2个字，入库无法完成！")
        .arg(kMaxVersionComment)
        .arg(length);
}
QString VersionText::HistoryNotWritable(const QString& volume, const QString& reason) {
    return QStringLiteral("存储目录<%1>的“%2”文件夹无法写入，被替换的版本无处保存，操作被中断！\r\n%3")
        .arg(volume, kHistoryFolderName, reason);
}
QString VersionText::VersionFileMissing(const QString& code, qint64 number, const QString& volume) {
    return QStringLiteral("图纸<%1>第%2版的文件在存储目录<%3>中不存在，操作被中断！").arg(code).arg(number).arg(volume);
}
QString VersionText::NoSuchVersion(const QString& code, qint64 number) {
    return QStringLiteral("图纸<%1>没有第%2版！").arg(code).arg(number);
}
QString VersionText::RestoredFrom(qint64 number) { return QStringLiteral("恢复为第%1版").arg(number); }

std::optional<QString> CleanComment(const QString& comment) {
    if (comment.size() > kMaxVersionComment)
        return std::nullopt;
    QString kept;
    kept.reserve(comment.size());
    for (QChar c : comment)
        if (c.unicode() >= 0x20 || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            kept += c;
    return kept.trimmed();
}

namespace {
const QStringList kColumns{QStringLiteral("代号"),     QStringLiteral("版本号"),       QStringLiteral("入库帐号"),
                           QStringLiteral("入库时间"), QStringLiteral("文件大小"),     QStringLiteral("摘要"),
                           QStringLiteral("目录名称"), QStringLiteral("入库文件名称"), QStringLiteral("说明"),
                           QStringLiteral("删除帐号"), QStringLiteral("删除时间")};
const QString kSelect = QStringLiteral("select v.代号,v.版本号,v.入库帐号,v.入库时间,v.文件大小,v.摘要,v.目录名称,"
                                       "v.入库文件名称,v.说明,v.删除帐号,v.删除时间,s.服务器IP from 图纸版本 v "
                                       "left join PDM存储目录 s on s.目录名称=v.目录名称 ");

QVariant OrNull(const QString& s) { return s.isEmpty() ? QVariant() : QVariant(s); }

VersionRow RowAt(const QSqlQuery& q) {
    VersionRow r;
    r.code = q.value(0).toString();
    r.number = q.value(1).toLongLong();
    r.user = q.value(2).toString();
    r.time = q.value(3).toString();
    r.size = q.value(4).isNull() ? -1 : q.value(4).toLongLong();
    r.sha256 = q.value(5).toString();
    r.volume = q.value(6).toString();
    r.storedName = q.value(7).toString();
    r.comment = q.value(8).toString();
    r.deletedBy = q.value(9).toString();
    r.deletedAt = q.value(10).toString();
    r.server = q.value(11).toString();
    return r;
}
} // namespace

QVariantList VersionRow::values() const {
    return {code,
            number,
            OrNull(user),
            OrNull(time),
            size < 0 ? QVariant() : QVariant(size),
            OrNull(sha256),
            OrNull(volume),
            OrNull(storedName),
            OrNull(comment),
            OrNull(deletedBy),
            OrNull(deletedAt)};
}

void VersionStore::insert(const VersionRow& row) { insertMany({row}); }

void VersionStore::insertMany(const QList<VersionRow>& rows) {
    QList<QVariantList> values;
    for (const VersionRow& r : rows)
        values << r.values();
    if (!values.isEmpty())
        InsertRows(m_db, QStringLiteral("图纸版本"), kColumns, values);
}

void VersionStore::describeCurrent(const QHash<QString, qint64>& numberOf) {
    if (numberOf.isEmpty())
        return;
    QHash<QString, qint64> newest;
    SelectSliced(m_db, QStringLiteral("select 代号,max(版本号) from 图纸版本 where 代号 in (%1) group by 代号"), {},
                 numberOf.keys(),
                 [&](const QSqlQuery& q) { newest.insert(q.value(0).toString(), q.value(1).toLongLong()); });
    QVariantList undescribed; // code, number, ...
    for (auto it = numberOf.cbegin(); it != numberOf.cend(); ++it)
        if (newest.value(it.key(), -1) != it.value())
            undescribed << it.key() << it.value();
    // A slice of codes a statement: the first batch on a library another client kept describes every
    // file it replaces, and a statement each cost a database server more than the batch's uploads.
    const qsizetype slice = 2 * std::max(1, SliceSize(m_db) / 2);
    for (qsizetype at = 0; at < undescribed.size(); at += slice) {
        const QVariantList values = undescribed.mid(at, slice);
        QStringList pairs;
        for (qsizetype k = 0; k < values.size(); k += 2)
            pairs << (k == 0 ? QStringLiteral("select ? as c,cast(? as integer) as n")
                             : QStringLiteral("select ?,cast(? as integer)"));
        m_db.exec(QStringLiteral("insert into 图纸版本 (代号,版本号,入库帐号,入库时间,目录名称,入库文件名称) "
                                 "select d.代号,v.n,d.入库帐号,d.入库时间,d.目录名称,d.入库文件名称 from "
                                 "PDM入库图纸信息 d join (%1) v on v.c=d.代号 where not exists "
                                 "(select 1 from 图纸版本 w where w.代号=v.c and w.版本号=v.n)")
                      .arg(pairs.join(QStringLiteral(" union all "))),
                  values);
    }
}

std::vector<VersionRow> VersionStore::ofCode(const QString& code) const {
    std::vector<VersionRow> out;
    QSqlQuery q = m_db.exec(kSelect + QStringLiteral("where v.代号=? order by v.版本号 desc"), {code});
    while (q.next())
        out.push_back(RowAt(q));
    return out;
}

std::optional<VersionRow> VersionStore::one(const QString& code, qint64 number) const {
    QSqlQuery q = m_db.exec(kSelect + QStringLiteral("where v.代号=? and v.版本号=?"), {code, number});
    if (!q.next())
        return std::nullopt;
    return RowAt(q);
}

QHash<QString, VersionRow> VersionStore::previousOf(const QStringList& codes) const {
    QHash<QString, VersionRow> out;
    SelectSliced(m_db,
                 kSelect + QStringLiteral("join (select 代号 c,max(序号) n from PDM日志 where 方式=? and 代号 in (%1) "
                                          "group by 代号) l on l.c=v.代号 where v.版本号=(select max(w.版本号) from "
                                          "图纸版本 w where w.代号=v.代号 and w.版本号<l.n)"),
                 {LogWord::CheckIn}, codes, [&](const QSqlQuery& q) {
                     VersionRow r = RowAt(q);
                     out.insert(r.code, std::move(r));
                 });
    return out;
}

std::optional<VersionRow> VersionStore::before(const QString& code, qint64 number) const {
    QSqlQuery q = m_db.exec(kSelect + QStringLiteral("where v.代号=? and v.版本号<? order by v.版本号 desc limit 1"),
                            {code, number});
    if (!q.next())
        return std::nullopt;
    return RowAt(q);
}

void VersionStore::markDeleted(const QString& code, const QString& user, const QString& time) {
    m_db.exec(QStringLiteral("update 图纸版本 set 删除帐号=?,删除时间=? where 代号=? and 删除时间 is null"),
              {user, time, code});
}

void VersionStore::revive(const QStringList& codes) {
    const int size = SliceSize(m_db);
    for (qsizetype at = 0; at < codes.size(); at += size) {
        const QStringList slice = codes.mid(at, size);
        QVariantList values;
        for (const QString& c : slice)
            values << c;
        m_db.exec(QStringLiteral("update 图纸版本 set 删除帐号=null,删除时间=null where 删除时间 is not null and "
                                 "代号 in (%1)")
                      .arg(Marks(slice.size())),
                  values);
    }
}

std::vector<DeletedDrawing> VersionStore::deleted() const {
    std::vector<DeletedDrawing> out;
    QSqlQuery q =
        m_db.exec(QStringLiteral("select v.代号,max(v.删除帐号),max(v.删除时间),max(v.版本号),count(*) from 图纸版本 v "
                                 "where v.删除时间 is not null and not exists (select 1 from PDM入库图纸信息 d where "
                                 "d.代号=v.代号) group by v.代号 order by max(v.删除时间) desc,v.代号"));
    while (q.next())
        out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toLongLong(),
                       q.value(4).toInt()});
    return out;
}

std::vector<VersionRow> VersionStore::onVolume(const QString& volume) const {
    std::vector<VersionRow> out;
    QSqlQuery q = m_db.exec(kSelect + QStringLiteral("where v.目录名称=? order by v.版本号 desc"), {volume});
    while (q.next())
        out.push_back(RowAt(q));
    return out;
}

bool VersionStore::namesStoredFile(const QString& volume, const QString& storedName) const {
    return m_db.scalar(QStringLiteral("select count(*) from 图纸版本 where 目录名称=? and 入库文件名称=?"),
                       {volume, storedName})
               .toLongLong() > 0;
}

void VersionStore::remove(const QString& code, qint64 number) {
    m_db.exec(QStringLiteral("delete from 图纸版本 where 代号=? and 版本号=?"), {code, number});
}

TransferResult KeepInHistory(FtpClient& c, const QString& url, const QString& volume, const QString& storedName,
                             qint64 number, bool recovering) {
    // A recovery never replaces a kept file: what lies under the stored name by then may be a newer
    // version that another client's recovery has just put in place.
    if (recovering) {
        const TransferResult kept = c.IsFile(url, HistoryPath(volume, number, storedName));
        if (!kept || kept.kind == RemoteKind::File)
            return kept;
    }
    TransferResult moved = c.Rename(url, RemotePath(volume, storedName), HistoryPath(volume, number, storedName));
    if (!moved && moved.failure == TransferFailure::RemoteMissing) {
        moved.ok = true;
        moved.wasAbsent = true;
    }
    return moved;
}

TransferResult PromoteKeeping(FtpClient& c, const QString& url, const QString& finalPath, qint64 number,
                              const std::optional<VersionRow>& previous, const QString& previousUrl) {
    if (!previous)
        return rows::promoteOn(c, url, finalPath, number);
    // Every replacing check-in asks this of the check-in before it; the answer serves promoteOn too.
    const TransferResult staged = c.IsFile(url, StagedName(finalPath, number));
    if (!staged)
        return staged;
    if (staged.kind == RemoteKind::File) {
        const TransferResult kept =
            KeepInHistory(c, previousUrl, previous->volume, previous->storedName, previous->number, true);
        if (!kept)
            return kept;
    }
    return rows::promoteOn(c, url, finalPath, number, &staged);
}

TransferResult ProbeHistoryFolder(FtpClient& c, const QString& url, const QString& volume) {
    const QString probe = HistoryFolder(volume) + QStringLiteral("/.probe-") +
                          QString::number(QRandomGenerator::system()->generate64(), 36);
    TransferResult made = c.MakeFolder(url, probe);
    if (made)
        c.RemoveFolder(url, probe);
    else
        made.message = VersionText::HistoryNotWritable(volume, made.message);
    return made;
}

} // namespace velda
