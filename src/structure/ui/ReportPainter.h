#pragma once

#include "structure/ReportModel.h"

class QPagedPaintDevice;

namespace velda {

// Paints the report's pages, one printed page each, with the layout the workbook has: the same
// blocks, borders and texts. Serves the print preview, the printer and PDF files alike.
void PaintReport(const ReportDocument& doc, QPagedPaintDevice& device);

} // namespace velda
