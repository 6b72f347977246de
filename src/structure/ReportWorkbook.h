#pragma once

#include "structure/ReportModel.h"

#include <QString>

namespace velda {

// Writes the report's pages to an .xlsx workbook: one sheet, each page a block of rows ending in a
// manual page break, A4, print area over all pages. The file appears only once complete: it is
// written under a side name and renamed over any older one. Throws velda::Error when it cannot.
void WriteReportWorkbook(const ReportDocument& doc, const QString& path);

} // namespace velda
