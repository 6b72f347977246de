#include "library/VolumeCheck.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <xlsxwriter.h>

namespace velda {

namespace {
QString SizeText(qint64 size) { return size < 0 ? QString() : QString::number(size); }
QString DateText(const QDateTime& t) {
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) : QString();
}
} // namespace

Outcome VolumeCheck::ExportText(const VolumeCheckResult& result, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return Outcome::failure(QStringLiteral("无法写入文件%1：%2").arg(path, file.errorString()));
    QString text =
        QStringLiteral("存储目录检查 %1\n%2\n").arg(DateText(result.checkedAt), VolumeCheckText::Counts(result));
    for (const QString& failed : result.failed)
        text += QStringLiteral("无法检查：") + failed + QLatin1Char('\n');
    text += QStringLiteral("类别\t存储目录\t零件代号\t文件名称\t大小\t日期\n");
    for (const Finding& f : result.findings) {
        text +=
            QStringList{
                VolumeCheckText::KindName(f.kind), f.volume, f.code, f.fileName, SizeText(f.size), DateText(f.modified)}
                .join(u'\t') +
            QLatin1Char('\n');
    }
    file.write(text.toUtf8());
    if (!file.commit())
        return Outcome::failure(QStringLiteral("无法写入文件%1：%2").arg(path, file.errorString()));
    return Outcome::success(QStringLiteral("导出完毕！"));
}

Outcome VolumeCheck::ExportWorkbook(const VolumeCheckResult& result, const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    lxw_workbook* wb = workbook_new(file.constData());
    if (!wb)
        return Outcome::failure(QStringLiteral("无法写入文件%1").arg(path));
    lxw_worksheet* ws = workbook_add_worksheet(wb, QStringLiteral("存储目录检查").toUtf8().constData());
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    auto put = [&](lxw_row_t row, lxw_col_t col, const QString& text, lxw_format* f = nullptr) {
        if (!text.isEmpty())
            worksheet_write_string(ws, row, col, text.toUtf8().constData(), f);
    };
    lxw_row_t row = 0;
    put(row++, 0, QStringLiteral("存储目录检查 ") + DateText(result.checkedAt), bold);
    put(row++, 0, VolumeCheckText::Counts(result));
    for (const QString& failed : result.failed)
        put(row++, 0, QStringLiteral("无法检查：") + failed);
    const QStringList heads{QStringLiteral("类别"),     QStringLiteral("存储目录"), QStringLiteral("零件代号"),
                            QStringLiteral("文件名称"), QStringLiteral("大小"),     QStringLiteral("日期")};
    for (int c = 0; c < heads.size(); ++c)
        put(row, lxw_col_t(c), heads[c], bold);
    ++row;
    for (const Finding& f : result.findings) {
        put(row, 0, VolumeCheckText::KindName(f.kind));
        put(row, 1, f.volume);
        put(row, 2, f.code);
        put(row, 3, f.fileName);
        if (f.size >= 0)
            worksheet_write_number(ws, row, 4, double(f.size), nullptr);
        put(row, 5, DateText(f.modified));
        ++row;
    }
    worksheet_set_column(ws, 0, 2, 14, nullptr);
    worksheet_set_column(ws, 3, 3, 40, nullptr);
    worksheet_set_column(ws, 4, 5, 20, nullptr);
    const lxw_error closed = workbook_close(wb);
    if (closed != LXW_NO_ERROR)
        return Outcome::failure(
            QStringLiteral("无法写入文件%1：%2").arg(path, QString::fromUtf8(lxw_strerror(closed))));
    return Outcome::success(QStringLiteral("导出完毕！"));
}

} // namespace velda
