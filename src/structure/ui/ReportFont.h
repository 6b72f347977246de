#pragma once

#include <QString>

namespace velda {

// The family the report's printed and PDF pages are set in: the workbook's Noto Sans CJK SC, copied
// without the CJK radical code points. Those share their glyphs with the ideographs and are lower, and
// a PDF's text layer names each glyph by its lowest code point, so 输入轴 read back as 输⼊轴 and the
// file could not be searched. Falls back to Noto Sans CJK SC itself where the copy cannot be made.
QString ReportFontFamily();

} // namespace velda
