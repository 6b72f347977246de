#include "items/RecordExport.h"

#include "items/ItemRecords.h"
#include "items/RecordImport.h"
#include "store/Database.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QSqlQuery>

#include <xlsxwriter.h>

namespace velda {

namespace {

const QString kExported = QStringLiteral("导出完毕！");

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Text(const QSqlQuery& q, int column) {
    return q.value(column).isNull() ? QString() : q.value(column).toString();
}

} // namespace

Outcome WriteTableFile(const QString& path, const QString& sheetName, const QStringList& headers,
                       const QList<QStringList>& rows) {
    if (!path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return Outcome::failure(QStringLiteral("无法写入文件%1：%2").arg(path, file.errorString()));
        QString text;
        auto line = [&](const QStringList& cells) {
            QStringList out;
            for (const QString& c : cells)
                out << CsvField(c);
            text += out.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        };
        line(headers);
        for (const QStringList& r : rows)
            line(r);
        file.write("\xEF\xBB\xBF");
        file.write(text.toUtf8());
        if (!file.commit())
            return Outcome::failure(QStringLiteral("无法写入文件%1：%2").arg(path, file.errorString()));
        return Outcome::success(kExported);
    }
    const QByteArray name = QFile::encodeName(path);
    lxw_workbook* wb = workbook_new(name.constData());
    if (!wb)
        return Outcome::failure(QStringLiteral("无法写入文件%1").arg(path));
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetName.toUtf8().constData());
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    auto put = [&](lxw_row_t row, const QStringList& cells, lxw_format* f) {
        for (qsizetype c = 0; c < cells.size(); ++c)
            if (!cells[c].isEmpty())
                worksheet_write_string(ws, row, lxw_col_t(c), cells[c].toUtf8().constData(), f);
    };
    put(0, headers, bold);
    for (qsizetype r = 0; r < rows.size(); ++r)
        put(lxw_row_t(r + 1), rows[r], nullptr);
    worksheet_freeze_panes(ws, 1, 0);
    worksheet_set_column(ws, 0, lxw_col_t(headers.size() - 1), 14, nullptr);
    const lxw_error closed = workbook_close(wb);
    if (closed != LXW_NO_ERROR)
        return Outcome::failure(
            QStringLiteral("无法写入文件%1：%2").arg(path, QString::fromUtf8(lxw_strerror(closed))));
    return Outcome::success(kExported);
}

Outcome ExportItemRecords(const Database& db, const QString& path) {
    return Guarded([&] {
        QMap<QString, ItemRecords> all;
        QSqlQuery p = db.exec(QStringLiteral("select 代号,名称,重量,材料 from 零件信息"));
        while (p.next())
            all[Text(p, 0)].part = PartFields{Text(p, 1), Text(p, 2), Text(p, 3)};
        QSqlQuery d = db.exec(QStringLiteral(
            "select 代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,页数,图样 from 图纸信息"));
        while (d.next())
            all[Text(d, 0)].drawing =
                DrawingFields{Text(d, 1), Text(d, 2), Text(d, 3), Text(d, 4),  Text(d, 5),  Text(d, 6),
                              Text(d, 7), Text(d, 8), Text(d, 9), Text(d, 10), Text(d, 11), Text(d, 12)};
        QList<QStringList> rows;
        rows.reserve(all.size());
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            const auto values = RecordValues(it.key(), it.value());
            rows << QStringList(values.begin(), values.begin() + FieldKind);
        }
        return WriteTableFile(path, QStringLiteral("零件图纸信息"), RecordFieldNames().mid(0, FieldKind), rows);
    });
}

} // namespace velda
