#include "structure/ReportWorkbook.h"

#include "store/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <cstdio>
#include <map>
#include <vector>

namespace velda {

namespace {

lxw_format* makeFormat(lxw_workbook* wb, ReportBlock::Style style) {
    lxw_format* f = workbook_add_format(wb);
    format_set_font_name(f, "Noto Sans CJK SC");
    format_set_font_size(f, 10);
    format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
    switch (style) {
    case ReportBlock::Style::Title:
        format_set_font_size(f, 16);
        format_set_bold(f);
        format_set_align(f, LXW_ALIGN_CENTER);
        break;
    case ReportBlock::Style::Heading:
        format_set_bold(f);
        format_set_align(f, LXW_ALIGN_CENTER);
        format_set_border(f, LXW_BORDER_THIN);
        format_set_bg_color(f, 0xE8E8E8);
        break;
    case ReportBlock::Style::Data:
        format_set_border(f, LXW_BORDER_THIN);
        format_set_shrink(f);
        break;
    case ReportBlock::Style::Label:
        format_set_align(f, LXW_ALIGN_RIGHT);
        break;
    case ReportBlock::Style::Value:
        format_set_border(f, LXW_BORDER_THIN);
        format_set_shrink(f);
        break;
    case ReportBlock::Style::Page:
        format_set_align(f, LXW_ALIGN_CENTER);
        format_set_shrink(f);
        break;
    }
    return f;
}

void check(lxw_error e, const char* what) {
    if (e != LXW_NO_ERROR)
        throw Error(QStringLiteral("无法写入报表文件（%1：%2）")
                        .arg(QString::fromLatin1(what), QString::fromUtf8(lxw_strerror(e))));
}

// A workbook written under a private side name, so that two reports of one section never write into
// each other's file, and renamed over the target once complete.
struct SideWorkbook {
    QString path, side;
    QByteArray sideName;
    lxw_workbook* wb = nullptr;

    explicit SideWorkbook(const QString& target_) : path(target_) {
        const QFileInfo target(path);
        if (!QDir().mkpath(target.absolutePath()))
            throw Error(QStringLiteral("无法创建报表文件夹%1").arg(target.absolutePath()));
        side = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
               QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        sideName = QFile::encodeName(side);
        wb = workbook_new(sideName.constData());
        if (!wb)
            throw Error(QStringLiteral("无法创建报表文件%1").arg(side));
    }
    ~SideWorkbook() {
        // Left unfinished by a fault: nothing of it stays behind.
        if (wb) {
            workbook_close(wb);
            QFile::remove(side);
        }
    }
    SideWorkbook(const SideWorkbook&) = delete;
    SideWorkbook& operator=(const SideWorkbook&) = delete;
    void finish() {
        const lxw_error closed = workbook_close(wb);
        wb = nullptr;
        if (closed != LXW_NO_ERROR) {
            QFile::remove(side);
            check(closed, "close");
        }
        // The complete file takes the place of any older one in one step.
        if (std::rename(sideName.constData(), QFile::encodeName(path).constData()) != 0) {
            QFile::remove(side);
            throw Error(QStringLiteral("无法写入报表文件%1，该文件可能正被其他程序打开").arg(path));
        }
    }
};

} // namespace

void WriteReportWorkbook(const ReportDocument& doc, const QString& path) {
    const ReportLayout& l = doc.layout();
    SideWorkbook book(path);
    lxw_workbook* wb = book.wb;
    const QByteArray sheetName = l.sheet.toUtf8();
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetName.constData());
    std::map<ReportBlock::Style, lxw_format*> formats;
    for (auto s : {ReportBlock::Style::Title, ReportBlock::Style::Heading, ReportBlock::Style::Data,
                   ReportBlock::Style::Label, ReportBlock::Style::Value, ReportBlock::Style::Page})
        formats[s] = makeFormat(wb, s);

    for (int c = 0; c < l.columnWidths.size(); ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), l.columnWidths[c], nullptr);
    worksheet_set_paper(ws, 9); // A4
    worksheet_set_portrait(ws);
    worksheet_set_margins(ws, 0.4, 0.4, 0.4, 0.4);
    worksheet_center_horizontally(ws);

    const int pages = static_cast<int>(doc.pages.size());
    std::vector<lxw_row_t> breaks;
    for (int p = 0; p < pages; ++p) {
        const lxw_row_t base = lxw_row_t(p * l.pageRows);
        for (int r = 0; r < l.pageRows; ++r)
            worksheet_set_row(ws, base + r, l.rowHeights[r], nullptr);
        for (const ReportBlock& b : l.blocks) {
            const QByteArray text = l.blockText(b, doc.pages[p]).toUtf8();
            const lxw_row_t row = base + lxw_row_t(b.row - 1);
            lxw_format* f = formats[b.style];
            if (b.firstCol == b.lastCol)
                check(worksheet_write_string(ws, row, lxw_col_t(b.firstCol - 1), text.constData(), f), "cell");
            else
                check(worksheet_merge_range(ws, row, lxw_col_t(b.firstCol - 1), row, lxw_col_t(b.lastCol - 1),
                                            text.constData(), f),
                      "merge");
        }
        if (p > 0 && breaks.size() < 1023)
            breaks.push_back(base);
    }
    breaks.push_back(0);
    if (breaks.size() > 1)
        worksheet_set_h_pagebreaks(ws, breaks.data());
    if (pages > 0)
        worksheet_print_area(ws, 0, 0, lxw_row_t(pages * l.pageRows - 1), lxw_col_t(l.columnWidths.size() - 1));
    book.finish();
}

void WriteTableWorkbook(const std::vector<TableSheet>& sheets, const QString& path) {
    SideWorkbook book(path);
    lxw_format* heading = makeFormat(book.wb, ReportBlock::Style::Heading);
    lxw_format* data = makeFormat(book.wb, ReportBlock::Style::Data);
    for (const TableSheet& sheet : sheets) {
        const QByteArray name = sheet.name.toUtf8();
        lxw_worksheet* ws = workbook_add_worksheet(book.wb, name.constData());
        for (int c = 0; c < sheet.headings.size(); ++c) {
            worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), 16, nullptr);
            check(worksheet_write_string(ws, 0, lxw_col_t(c), sheet.headings[c].toUtf8().constData(), heading),
                  "cell");
        }
        lxw_row_t r = 1;
        for (const QStringList& row : sheet.rows) {
            for (int c = 0; c < row.size(); ++c)
                check(worksheet_write_string(ws, r, lxw_col_t(c), row[c].toUtf8().constData(), data), "cell");
            ++r;
        }
        worksheet_freeze_panes(ws, 1, 0);
    }
    book.finish();
}

} // namespace velda
