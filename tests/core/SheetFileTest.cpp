#include "TestSupport.h"

#include "core/CodePage.h"
#include "core/SheetFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <zlib.h>

using namespace velda;

namespace {

// A workbook made of the given members, stored without compression, as a zip package lays it out.
QString WriteZip(const QString& path, const QList<std::pair<QString, QByteArray>>& members) {
    auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b += char((v >> (8 * i)) & 0xFF);
        return b;
    };
    QByteArray body, directory;
    for (const auto& [name, bytes] : members) {
        const QByteArray n = name.toUtf8();
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
        const QByteArray common = le(20, 2) + le(0x800, 2) + le(0, 2) + le(0, 4) + le(crc, 4) +
                                  le(quint32(bytes.size()), 4) + le(quint32(bytes.size()), 4) +
                                  le(quint32(n.size()), 2) + le(0, 2);
        directory += le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                     le(quint32(body.size()), 4) + n;
        body += le(0x04034b50, 4) + common + n + bytes;
    }
    const QByteArray end = le(0x06054b50, 4) + le(0, 4) + le(quint32(members.size()), 2) +
                           le(quint32(members.size()), 2) + le(quint32(directory.size()), 4) +
                           le(quint32(body.size()), 4) + le(0, 2);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(body + directory + end);
    return path;
}

QStringList Cells(const SheetTable& t, int row) {
    for (const SheetRow& r : t.rows)
        if (r.number == row)
            return r.cells;
    return {};
}

const QByteArray kWorkbook = R"(<?xml version="1.0" encoding="UTF-8"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"
 xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="说明" sheetId="1" r:id="rId1"/><sheet name="零件" sheetId="2" r:id="rId2"/></sheets></workbook>)";
const QByteArray kRels = R"(<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/a.xml"/>
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/b.xml"/>
<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>
<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>
</Relationships>)";
const QByteArray kShared = R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<si><t>代号</t></si><si><r><t>名</t></r><r><t>称</t></r><rPh><t>めい</t></rPh></si><si><t>零件信息</t></si></sst>)";
// Style 1: a built-in date; style 2: a format of the workbook's own that is a date; style 3: a number.
const QByteArray kStyles = R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts><numFmt numFmtId="164" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/>
<numFmt numFmtId="165" formatCode="[Red]0.00"/><numFmt numFmtId="166" formatCode="General"/></numFmts>
<cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/>
</cellXfs></styleSheet>)";
const QByteArray kSheet = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row r="1"><c r="A1" t="s"><v>2</v></c></row>
<row r="2"><c r="A2" t="s"><v>0</v></c><c r="B2" t="s"><v>1</v></c><c r="C2" t="inlineStr"><is><t>日期</t></is></c></row>
<row r="4"><c r="A4" t="str"><f>"GB-"&amp;1</f><v>GB-1</v></c><c r="B4"><f>1/10</f><v>0.10000000000000001</v></c>
<c r="C4" s="1"><v>45356</v></c><c r="D4" s="2"><v>45356.75</v></c><c r="E4" s="3"><v>12</v></c>
<c r="F4" t="s"><v>0</v></c><c r="G4" s="4"><v>1.5</v></c></row>
<row r="5"><c r="A5"/><c r="B5" t="inlineStr"><is><t></t></is></c></row>
<row r="6"><c r="B6" t="b"><v>1</v></c><c r="C6" t="e"><v>#N/A</v></c></row>
</sheetData><mergeCells count="1"><mergeCell ref="A1:C1"/></mergeCells></worksheet>)";

} // namespace

TEST(SheetFile, WorkbookCellsReadAsTheSpreadsheetShowsThem) {
    QTemporaryDir dir;
    const QString path =
        WriteZip(dir.filePath(QStringLiteral("a.xlsx")), {{QStringLiteral("xl/workbook.xml"), kWorkbook},
                                                          {QStringLiteral("xl/_rels/workbook.xml.rels"), kRels},
                                                          {QStringLiteral("xl/sharedStrings.xml"), kShared},
                                                          {QStringLiteral("xl/styles.xml"), kStyles},
                                                          {QStringLiteral("xl/worksheets/a.xml"), "<worksheet/>"},
                                                          {QStringLiteral("xl/worksheets/b.xml"), kSheet}});
    EXPECT_TRUE(ReadWorkbook(path).ok());
    EXPECT_TRUE(ReadWorkbook(path).rows.empty());
    const SheetTable t = ReadWorkbook(path, {QStringLiteral("零件")});
    ASSERT_TRUE(t.ok()) << t.error.toStdString();
    EXPECT_EQ(t.sheetNames, (QStringList{QStringLiteral("说明"), QStringLiteral("零件")}));
    // The merged header is in each of its cells; rich text without its phonetic guide; empty rows go.
    EXPECT_EQ(Cells(t, 1), QStringList(3, QStringLiteral("零件信息")));
    EXPECT_EQ(Cells(t, 2), (QStringList{QStringLiteral("代号"), QStringLiteral("名称"), QStringLiteral("日期")}));
    EXPECT_EQ(Cells(t, 4), (QStringList{QStringLiteral("GB-1"), QStringLiteral("0.1"), QStringLiteral("2024/03/05"),
                                        QStringLiteral("2024/03/05"), QStringLiteral("12"), QStringLiteral("代号"),
                                        QStringLiteral("1.5")}));
    EXPECT_EQ(Cells(t, 6), (QStringList{QString(), QStringLiteral("TRUE"), QStringLiteral("#N/A")}));
    ASSERT_EQ(t.rows.size(), 4u);

    EXPECT_EQ(ReadWorkbook(path, {QStringLiteral("没有")}).error, QStringLiteral("工作簿中没有名为“没有”的工作表"));
}

// The sheets spreadsheet programs write are read straight from their bytes; any other XML (here the
// same sheet with its elements prefixed, or with a comment and CDATA in a value) goes through the XML
// reader. Both read a cell the same way.
TEST(SheetFile, PlainAndPrefixedSheetsReadAlike) {
    QTemporaryDir dir;
    auto read = [&](const QString& name, const QByteArray& sheet) {
        return ReadWorkbook(WriteZip(dir.filePath(name), {{QStringLiteral("xl/workbook.xml"), kWorkbook},
                                                          {QStringLiteral("xl/_rels/workbook.xml.rels"), kRels},
                                                          {QStringLiteral("xl/sharedStrings.xml"), kShared},
                                                          {QStringLiteral("xl/worksheets/a.xml"), sheet}}));
    };
    const QByteArray plain =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension ref=\"A1\"/>"
        "<sheetData><row r=\"2\" spans=\"1:3\"><c r=\"A2\" t=\"inlineStr\"><is><t>a&lt;b&amp;c&#x4E2D;&#25991;"
        "\r\n&quot;</t></is></c><c r=\"AB2\" t=\"s\"><v>1</v></c></row>\n<row><c t=\"inlineStr\"><is><r><t "
        "xml:space=\"preserve\"> x </t></r><rPh><t>y</t></rPh></is></c><c><v>2.50</v></c><c t=\"str\"><f>A1</f>"
        "<v/></c></row></sheetData><mergeCells count=\"1\"><mergeCell ref=\"A4:B4\"/></mergeCells></worksheet>";
    QByteArray prefixed = plain;
    prefixed.replace("<worksheet xmlns=", "<x:worksheet xmlns:x=");
    static const QRegularExpression tag(QStringLiteral("<(/?)(?!x:|\\?)([A-Za-z]+)"));
    prefixed = QString::fromUtf8(prefixed).replace(tag, QStringLiteral("<\\1x:\\2")).toUtf8();
    QByteArray commented = plain;
    commented.replace("<v>1</v>", "<v><!-- 第二个 --><![CDATA[1]]></v>");
    const SheetTable a = read(QStringLiteral("plain.xlsx"), plain);
    ASSERT_TRUE(a.ok()) << a.error.toStdString();
    QStringList second(28);
    second[0] = QStringLiteral("a<b&c中文\n\"");
    second[27] = QStringLiteral("名称");
    EXPECT_EQ(Cells(a, 2), second);
    EXPECT_EQ(Cells(a, 3), (QStringList{QStringLiteral(" x "), QStringLiteral("2.5")}));
    EXPECT_EQ(a.merges, QStringList{QStringLiteral("A4:B4")});
    ASSERT_EQ(a.rows.size(), 2u);
    for (const auto& [name, xml] :
         {std::pair{QStringLiteral("x.xlsx"), prefixed}, std::pair{QStringLiteral("c.xlsx"), commented}}) {
        const SheetTable b = read(name, xml);
        ASSERT_TRUE(b.ok()) << b.error.toStdString();
        ASSERT_EQ(b.rows.size(), a.rows.size()) << name.toStdString();
        for (size_t r = 0; r < a.rows.size(); ++r) {
            EXPECT_EQ(b.rows[r].number, a.rows[r].number);
            EXPECT_EQ(b.rows[r].cells, a.rows[r].cells) << name.toStdString() << " row " << r;
        }
        EXPECT_EQ(b.merges, a.merges);
    }
    // A control character is not XML: refused, whichever way the sheet would be read.
    QByteArray control = plain;
    control.replace("a&lt;b", "a\x01b");
    EXPECT_TRUE(read(QStringLiteral("bad.xlsx"), control).error.startsWith(QStringLiteral("工作簿已损坏")));
}

TEST(SheetFile, BrokenWorkbooksAreRefusedSayingWhere) {
    QTemporaryDir dir;
    auto sheet = [&](const QString& name, const QByteArray& xml) {
        return WriteZip(dir.filePath(name), {{QStringLiteral("xl/workbook.xml"), kWorkbook},
                                             {QStringLiteral("xl/_rels/workbook.xml.rels"), kRels},
                                             {QStringLiteral("xl/sharedStrings.xml"), kShared},
                                             {QStringLiteral("xl/worksheets/a.xml"), xml}});
    };
    const QByteArray longCell = "<worksheet><sheetData><row r=\"7\"><c r=\"C7\" t=\"inlineStr\"><is><t>" +
                                QByteArray(SheetText::kMaxCellChars + 1, 'x') +
                                "</t></is></c></row></sheetData></worksheet>";
    EXPECT_EQ(ReadWorkbook(sheet(QStringLiteral("long.xlsx"), longCell)).error,
              QStringLiteral("第7行第C列的单元格超过32767个字符，无法导入"));
    const SheetTable cut = ReadWorkbook(sheet(
        QStringLiteral("cut.xlsx"), "<worksheet><sheetData><row r=\"3\"><c r=\"B3\"><v>1</v></c><c r=\"C3\"><v>2"));
    EXPECT_TRUE(cut.error.startsWith(QStringLiteral("工作簿已损坏：xl/worksheets/a.xml读到第3行第C列时出错")))
        << cut.error.toStdString();
    EXPECT_TRUE(cut.rows.empty());
    EXPECT_TRUE(ReadWorkbook(sheet(QStringLiteral("s.xlsx"), "<worksheet><sheetData><row r=\"2\"><c r=\"A2\" "
                                                             "t=\"s\"><v>9</v></c></row></sheetData></worksheet>"))
                    .error.contains(QStringLiteral("第2行第A列")));

    QFile f(dir.filePath(QStringLiteral("locked.xlsx")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(600, '\0'));
    f.close();
    EXPECT_TRUE(ReadWorkbook(f.fileName()).error.contains(QStringLiteral("设有打开密码")));
    QFile g(dir.filePath(QStringLiteral("junk.xlsx")));
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("PK\x03\x04 not really a zip");
    g.close();
    EXPECT_TRUE(ReadWorkbook(g.fileName()).error.contains(QStringLiteral("不是.xlsx工作簿，或已损坏")));
}

TEST(SheetFile, CsvReadsUtf8AndGbkWithQuotedBreaksAndNamesWhatItCannotRead) {
    const QString body = QStringLiteral("代号,名称\r\nGB-1,\"轴承\n座,\"\"甲\"\"\"\r\n\r\n,\t\nGB-2,垫圈");
    const SheetTable bom = ReadCsv("\xEF\xBB\xBF" + body.toUtf8());
    ASSERT_TRUE(bom.ok()) << bom.error.toStdString();
    EXPECT_EQ(bom.encoding, QStringLiteral("UTF-8"));
    ASSERT_EQ(bom.rows.size(), 4u);
    EXPECT_EQ(bom.rows[1].cells, (QStringList{QStringLiteral("GB-1"), QStringLiteral("轴承\n座,\"甲\"")}));
    EXPECT_EQ(bom.rows[3].number, 5);
    EXPECT_EQ(bom.rows[2].cells, (QStringList{QString(), QStringLiteral("\t")}));

    const SheetTable gbk = ReadCsv(ToAnsi(body));
    EXPECT_EQ(gbk.encoding, QStringLiteral("GBK"));
    EXPECT_EQ(gbk.rows[1].cells, bom.rows[1].cells);
    // Told it is UTF-8, the GBK file is refused at its first cell that is not.
    EXPECT_EQ(ReadCsv(ToAnsi(body), TextEncoding::Utf8).error,
              QStringLiteral("第1行第A列的文字不是UTF-8编码，请另选文件的编码"));
    EXPECT_EQ(ReadCsv("a,b\nc,\xFF\xFF").error, QStringLiteral("第2行第B列的文字不是UTF-8或GBK编码，请另选文件的编码"));
    EXPECT_EQ(ReadCsv("a,b\nc,\"d\ne").error, QStringLiteral("第2行第B列的引号没有结束"));
    EXPECT_EQ(ReadCsv("a\tb\nc\td").rows[1].cells, (QStringList{QStringLiteral("c"), QStringLiteral("d")}));
    const QByteArray nul("x,\0y", 4);
    EXPECT_EQ(ReadCsv(nul).rows[0].cells.value(1), QString(QChar(0)) + QLatin1Char('y'));
}
