#pragma once

#include "structure/ReportModel.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace velda {

// Writes the report's pages to an .xlsx workbook: one sheet, each page a block of rows ending in a
// manual page break, A4, print area over all pages. The file appears only once complete: it is
// written under a side name and renamed over any older one. Throws velda::Error when it cannot.
void WriteReportWorkbook(const ReportDocument& doc, const QString& path);

// A plain table: a heading row and the rows below it.
struct TableSheet {
    QString name;
    QStringList headings;
    std::vector<QStringList> rows;
};
// Writes tables to an .xlsx workbook, one sheet each, in the reports' fonts and the same complete-or-
// nothing way. Throws velda::Error.
void WriteTableWorkbook(const std::vector<TableSheet>& sheets, const QString& path);

} // namespace velda
