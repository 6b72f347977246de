#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace velda {

// Reading a table of texts out of a workbook (.xlsx) or a comma-separated file (.csv), as an office's
// spreadsheet program shows it: shared and inline strings, a formula's last computed value, numbers
// without the binary noise of their stored form, dates stored as day numbers written yyyy/MM/dd.
// Nothing here starts another program: the workbook is unpacked with zlib and read with Qt's streaming
// XML reader.

enum class TextEncoding {
    Detect, // UTF-8 (with or without its byte-order mark) when the bytes are UTF-8, otherwise GBK
    Utf8,
    Gbk,
};

struct SheetRow {
    int number = 0;    // as the spreadsheet counts, from 1
    QStringList cells; // from column A; the row's last cells may be missing when empty
    QString cell(int column) const { return cells.value(column); }
};

struct SheetTable {
    QString error;              // why the file cannot be read, in Chinese, naming row and column; empty when read
    QStringList sheetNames;     // a workbook's sheets in order; empty for a .csv
    QString sheet;              // the sheet read
    QString encoding;           // a .csv's: "UTF-8" or "GBK"
    std::vector<SheetRow> rows; // rows holding at least one cell that is not empty, in order
    QStringList merges;         // merged ranges ("A1:C1"); their value is in each of their cells

    bool ok() const { return error.isEmpty(); }
};

struct SheetReadOptions {
    QString sheet; // the workbook's sheet by name; empty: the first
    TextEncoding encoding = TextEncoding::Detect;
};

namespace SheetText {
// The longest text a cell may hold, as the spreadsheet programs take it.
inline constexpr int kMaxCellChars = 32767;
QString At(int row, int column);
inline const QString Unreadable = QStringLiteral("无法打开文件%1");
inline const QString NotWorkbook = QStringLiteral("文件%1不是.xlsx工作簿，或已损坏");
inline const QString Protected = QStringLiteral(
    "工作簿%1设有打开密码（或是旧的.xls格式），无法读取：请在电子表格程序中去掉密码，另存为.xlsx后再导入");
inline const QString NoSuchSheet = QStringLiteral("工作簿中没有名为“%1”的工作表");
inline const QString NoSheet = QStringLiteral("工作簿中没有工作表");
inline const QString Damaged = QStringLiteral("工作簿已损坏：%1读到%2时出错（%3）");
inline const QString CellTooLong = QStringLiteral("%1的单元格超过%2个字符，无法导入");
inline const QString BadEncoding = QStringLiteral("%1的文字不是%2编码，请另选文件的编码");
inline const QString OpenQuote = QStringLiteral("%1的引号没有结束");
} // namespace SheetText

// "A", "B", ..., "Z", "AA", ...; columns counted from 0.
QString SheetColumnName(int column);

// The file by its ending: .csv (and .txt) as text, anything else as a workbook.
SheetTable ReadSheetFile(const QString& path, const SheetReadOptions& options = {});
SheetTable ReadWorkbook(const QString& path, const SheetReadOptions& options = {});
SheetTable ReadCsv(const QByteArray& bytes, TextEncoding encoding = TextEncoding::Detect);

// One member of a zip package (a workbook's "xl/workbook.xml"), or nothing when the package or the member
// cannot be read.
std::optional<QByteArray> ZipMember(const QString& path, const QString& member);

} // namespace velda
