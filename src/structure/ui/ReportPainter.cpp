#include "structure/ui/ReportPainter.h"

#include "structure/ui/ReportFont.h"

#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>

#include <cmath>

namespace velda {

namespace {
// A spreadsheet column of w characters is 7w + 5 pixels at 96 dots per inch (12w below one character),
// as the workbook records it.
double columnPoints(double chars) {
    const double pixels = chars < 1.0 ? std::floor(chars * 12.0 + 0.5) : std::floor(chars * 7.0 + 0.5) + 5.0;
    return pixels * 0.75;
}
} // namespace

void PaintReport(const ReportDocument& doc, QPagedPaintDevice& device) {
    const ReportLayout& l = doc.layout();
    device.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(29, 29, 29, 29), QPageLayout::Point));
    QPainter p(&device);
    if (!p.isActive())
        return;
    std::vector<double> x{0.0};
    for (double w : l.columnWidths)
        x.push_back(x.back() + columnPoints(w));
    std::vector<double> y{0.0};
    for (double h : l.rowHeights)
        y.push_back(y.back() + h);
    // Device units per point, shrunk where the page block is wider or taller than the paper.
    const QRectF paper = device.pageLayout().paintRectPoints();
    const double perPoint = device.logicalDpiX() / 72.0;
    const double fit = std::min({1.0, paper.width() / x.back(), paper.height() / y.back()});
    const double scale = perPoint * fit;
    const double left = (paper.width() - x.back() * fit) / 2.0 * perPoint;
    // Latin text in the system's sans serif face: in the CJK face's Latin runs its digits turn into
    // glyphs no code point names, and drop out of the PDF's text.
    const QStringList families{QFontInfo(QFont(QStringLiteral("Sans Serif"))).family(), ReportFontFamily()};

    for (std::size_t n = 0; n < doc.pages.size(); ++n) {
        if (n > 0)
            device.newPage();
        for (const ReportBlock& b : l.blocks) {
            // Points on the sheet to device units on the paper.
            const QRectF cell(QPointF(left + x[b.firstCol - 1] * scale, y[b.row - 1] * scale),
                              QPointF(left + x[b.lastCol] * scale, y[b.row] * scale));
            const bool bordered = b.style == ReportBlock::Style::Heading || b.style == ReportBlock::Style::Data ||
                                  b.style == ReportBlock::Style::Value;
            if (b.style == ReportBlock::Style::Heading)
                p.fillRect(cell, QColor(0xE8, 0xE8, 0xE8));
            if (bordered) {
                p.setPen(QPen(Qt::black, 0.5 * scale));
                p.drawRect(cell);
            }
            const QString text = l.blockText(b, doc.pages[n]);
            if (text.isEmpty())
                continue;
            double size = (b.style == ReportBlock::Style::Title ? 16.0 : 10.0) * fit;
            QFont font;
            font.setFamilies(families);
            font.setBold(b.style == ReportBlock::Style::Title || b.style == ReportBlock::Style::Heading);
            font.setPointSizeF(size);
            // Shrink to fit, as the workbook's cells do.
            const QRectF inner = cell.adjusted(1.5 * scale, 0, -1.5 * scale, 0);
            while (size > 4.0 && QFontMetricsF(font, &device).horizontalAdvance(text) > inner.width()) {
                size -= 0.5;
                font.setPointSizeF(size);
            }
            p.setFont(font);
            Qt::Alignment align = Qt::AlignVCenter;
            if (b.style == ReportBlock::Style::Title || b.style == ReportBlock::Style::Heading ||
                b.style == ReportBlock::Style::Page)
                align |= Qt::AlignHCenter;
            else if (b.style == ReportBlock::Style::Label)
                align |= Qt::AlignRight;
            else
                align |= Qt::AlignLeft;
            p.setPen(Qt::black);
            p.drawText(inner, int(align), text);
        }
    }
}

} // namespace velda
