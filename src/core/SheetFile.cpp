#include "core/SheetFile.h"

#include "core/CodePage.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

namespace velda {

namespace {

const QString kNsRelationships = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// The members of a zip package, read with zlib. (QuaZip carries its own copy of minizip's functions
// under their usual names, and libxlsxwriter, which writes the reports, calls Debian's libminizip by
// the same names: in one program the reports would call QuaZip's copy and crash.)
class ZipPackage final {
public:
    enum class State { Ok, Unreadable, NotZip };
    // The largest member unpacked: far beyond any sheet of a million rows, short of exhausting memory.
    static constexpr qint64 kMaxMember = qint64(1) << 31;

    explicit ZipPackage(const QString& path) : m_file(path) {
        if (!m_file.open(QIODevice::ReadOnly)) {
            m_state = State::Unreadable;
            return;
        }
        const uchar* mapped = m_file.map(0, m_file.size());
        if (mapped) {
            m_data = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(m_file.size()));
        } else {
            m_data = m_file.readAll();
        }
        m_state = readDirectory() ? State::Ok : State::NotZip;
    }

    State state() const { return m_state; }
    bool has(const QString& name) const { return m_entries.contains(name); }
    // Whether a member is encrypted: the package was saved with a password.
    bool encrypted(const QString& name) const { return m_entries.value(name).flags & 1; }

    // The unpacked member; nothing when it is missing, damaged or encrypted.
    std::optional<QByteArray> member(const QString& name) const {
        const auto it = m_entries.constFind(name);
        if (it == m_entries.cend() || (it->flags & 1) || it->size > kMaxMember)
            return std::nullopt;
        const qint64 local = it->offset;
        if (local + 30 > m_data.size() || u32(local) != 0x04034b50)
            return std::nullopt;
        const qint64 start = local + 30 + u16(local + 26) + u16(local + 28);
        if (start + it->packed > m_data.size())
            return std::nullopt;
        const char* packed = m_data.constData() + start;
        QByteArray out;
        if (it->method == 0) {
            out = QByteArray(packed, qsizetype(it->packed));
        } else if (it->method == 8) {
            out.resize(qsizetype(it->size));
            z_stream z{};
            if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
                return std::nullopt;
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed));
            z.avail_in = uInt(it->packed);
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = uInt(out.size());
            const int r = inflate(&z, Z_FINISH);
            const uLong produced = z.total_out;
            inflateEnd(&z);
            if (r != Z_STREAM_END || qint64(produced) != it->size)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (crc32(0, reinterpret_cast<const Bytef*>(out.constData()), uInt(out.size())) != it->crc)
            return std::nullopt;
        return out;
    }

private:
    struct Entry {
        quint16 flags = 0, method = 0;
        quint32 crc = 0;
        qint64 packed = 0, size = 0, offset = 0;
    };

    quint16 u16(qint64 at) const {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return quint16(p[0] | (p[1] << 8));
    }
    quint32 u32(qint64 at) const { return quint32(u16(at)) | (quint32(u16(at + 2)) << 16); }
    qint64 u64(qint64 at) const { return qint64(u32(at)) | (qint64(u32(at + 4)) << 32); }

    bool readDirectory() {
        const qint64 n = m_data.size();
        qint64 end = -1;
        for (qint64 at = n - 22; at >= 0 && at >= n - 22 - 65535; --at)
            if (u32(at) == 0x06054b50) {
                end = at;
                break;
            }
        if (end < 0)
            return false;
        qint64 count = u16(end + 10);
        qint64 offset = u32(end + 16);
        // A package past four gigabytes or sixty-five thousand members says where in its zip64 record.
        if (end >= 20 && u32(end - 20) == 0x07064b50) {
            const qint64 record = u64(end - 20 + 8);
            if (record < 0 || record + 56 > n || u32(record) != 0x06064b50)
                return false;
            count = u64(record + 32);
            offset = u64(record + 48);
        }
        qint64 at = offset;
        for (qint64 i = 0; i < count; ++i) {
            if (at < 0 || at + 46 > n || u32(at) != 0x02014b50)
                return false;
            Entry e;
            e.flags = u16(at + 8);
            e.method = u16(at + 10);
            e.crc = u32(at + 16);
            e.packed = u32(at + 20);
            e.size = u32(at + 24);
            const int nameLength = u16(at + 28), extraLength = u16(at + 30), commentLength = u16(at + 32);
            e.offset = u32(at + 42);
            if (at + 46 + nameLength + extraLength > n)
                return false;
            // Sizes and offset too large for their fields are in the zip64 extra field, in this order.
            for (qint64 x = at + 46 + nameLength; x + 4 <= at + 46 + nameLength + extraLength;) {
                const int id = u16(x), length = u16(x + 2);
                if (id == 0x0001) {
                    qint64 f = x + 4;
                    if (e.size == 0xFFFFFFFF && f + 8 <= x + 4 + length)
                        e.size = u64(f), f += 8;
                    if (e.packed == 0xFFFFFFFF && f + 8 <= x + 4 + length)
                        e.packed = u64(f), f += 8;
                    if (e.offset == 0xFFFFFFFF && f + 8 <= x + 4 + length)
                        e.offset = u64(f);
                }
                x += 4 + length;
            }
            const QByteArray name = m_data.mid(at + 46, nameLength);
            m_entries.insert((u16(at + 8) & 0x800) ? QString::fromUtf8(name) : QString::fromLatin1(name), e);
            at += 46 + nameLength + extraLength + commentLength;
        }
        return true;
    }

    QFile m_file;
    QByteArray m_data;
    QHash<QString, Entry> m_entries;
    State m_state = State::Ok;
};

// "xl/worksheets/sheet1.xml" from a relationship's target, which is relative to xl/ or absolute.
QString PartPath(const QString& target) {
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1);
    QString t = target;
    QString base = QStringLiteral("xl");
    while (t.startsWith(QStringLiteral("../"))) {
        t = t.mid(3);
        base.clear();
    }
    return base.isEmpty() ? t : base + QLatin1Char('/') + t;
}

// Column from a cell reference ("AB12" -> 27) and its row (12); -1 when the reference has none.
std::pair<int, int> ParseRef(QStringView ref) {
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && ref[i].isLetter(); ++i)
        col = col * 26 + (ref[i].toUpper().unicode() - u'A' + 1);
    bool ok = false;
    const int row = ref.mid(i).toInt(&ok);
    return {col - 1, ok ? row : -1};
}

bool IsDateFormat(int id, const QString& code) {
    if ((id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return true;
    if (code.isEmpty())
        return false;
    // Quoted text, [colour] and [$-locale] parts and escaped characters say nothing about dates.
    QString bare;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('['))
            ++bracket;
        else if (c == QLatin1Char(']'))
            bracket = std::max(0, bracket - 1);
        else if (c == QLatin1Char('\\'))
            ++i;
        else if (bracket == 0)
            bare += c.toLower();
    }
    // "General" names no date, and its letters must not count as one.
    bare.remove(QStringLiteral("general"));
    return bare.contains(QLatin1Char('y')) || bare.contains(QLatin1Char('d')) ||
           (bare.contains(QLatin1Char('m')) && !bare.contains(QLatin1Char('h')) && !bare.contains(QLatin1Char('s')));
}

// A number as the spreadsheet shows it in a general cell: no binary noise ("0.1", not
// "0.10000000000000001"), whole numbers without a point.
QString NumberText(const QString& stored) {
    bool ok = false;
    const double d = stored.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return stored;
    if (d == std::floor(d) && std::fabs(d) < 1e15)
        return QString::number(qint64(d));
    return QString::number(d, 'g', 15);
}

QString DateText(const QString& stored, bool date1904) {
    bool ok = false;
    const double d = stored.toDouble(&ok);
    if (!ok || d < 0 || d > 2958465)
        return NumberText(stored);
    const qint64 days = qint64(std::floor(d));
    if (date1904)
        return QDate(1904, 1, 1).addDays(days).toString(QStringLiteral("yyyy/MM/dd"));
    // Day 60 is the 29th of February 1900 that never was; the days before it count from the 31st of December.
    const QDate date = days < 61 ? QDate(1899, 12, 31).addDays(days) : QDate(1899, 12, 30).addDays(days);
    return date.toString(QStringLiteral("yyyy/MM/dd"));
}

// The texts of <si> or <is>: every <t> of its runs, not the phonetic guides (<rPh>).
QString RichText(QXmlStreamReader& x) {
    const QString end = x.name().toString();
    QString text;
    int phonetic = 0;
    while (!x.atEnd()) {
        const auto t = x.readNext();
        if (t == QXmlStreamReader::StartElement) {
            if (x.name() == QLatin1String("rPh"))
                ++phonetic;
            else if (x.name() == QLatin1String("t") && phonetic == 0)
                text += x.readElementText();
        } else if (t == QXmlStreamReader::EndElement) {
            if (x.name() == QLatin1String("rPh"))
                --phonetic;
            else if (x.name() == end)
                break;
        }
    }
    return text;
}

struct Styles {
    std::vector<bool> dateStyle; // by the cell's s attribute
};

Styles ReadStyles(const QByteArray& xml) {
    Styles s;
    QHash<int, QString> codes;
    QXmlStreamReader x(xml);
    bool inCellXfs = false;
    while (!x.atEnd()) {
        const auto t = x.readNext();
        if (t == QXmlStreamReader::StartElement) {
            if (x.name() == QLatin1String("numFmt"))
                codes.insert(x.attributes().value(QStringLiteral("numFmtId")).toInt(),
                             x.attributes().value(QStringLiteral("formatCode")).toString());
            else if (x.name() == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (inCellXfs && x.name() == QLatin1String("xf")) {
                const int id = x.attributes().value(QStringLiteral("numFmtId")).toInt();
                s.dateStyle.push_back(IsDateFormat(id, codes.value(id)));
            }
        } else if (t == QXmlStreamReader::EndElement && x.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
    return s;
}

// Rows by number while the sheet is read; merged ranges are filled before the empty ones go.
using RowMap = std::map<int, QStringList>;

void FillMerges(RowMap& rows, const QStringList& merges) {
    for (const QString& range : merges) {
        const QStringList ends = range.split(QLatin1Char(':'));
        if (ends.size() != 2)
            continue;
        const auto [c1, r1] = ParseRef(ends[0]);
        const auto [c2, r2] = ParseRef(ends[1]);
        // A range over whole columns or of absurd size is left as it is.
        if (r1 < 1 || r2 < r1 || c1 < 0 || c2 < c1 || qint64(r2 - r1 + 1) * (c2 - c1 + 1) > 100000)
            continue;
        const auto top = rows.find(r1);
        const QString value = top == rows.end() ? QString() : top->second.value(c1);
        if (value.isEmpty())
            continue;
        for (int r = r1; r <= r2; ++r) {
            QStringList& cells = rows[r];
            while (cells.size() <= c2)
                cells << QString();
            for (int c = c1; c <= c2; ++c)
                cells[c] = value;
        }
    }
}

void KeepFilledRows(RowMap& rows, SheetTable& table) {
    table.rows.reserve(rows.size());
    for (auto& [number, cells] : rows) {
        while (!cells.isEmpty() && cells.constLast().isEmpty())
            cells.removeLast();
        if (!cells.isEmpty())
            table.rows.push_back(SheetRow{number, std::move(cells)});
    }
}

// A cell's text from its type, style and stored value, as the spreadsheet shows it; nothing for a
// shared string that is not there.
std::optional<QString> CellText(QLatin1StringView type, int style, const QString& value, const QStringList& shared,
                                const Styles& styles, bool date1904) {
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = value.toInt(&ok);
        if (!ok || index < 0 || index >= shared.size())
            return std::nullopt;
        return shared[index];
    }
    if (type == QLatin1String("b"))
        return value == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    if (type.isEmpty() || type == QLatin1String("n"))
        return size_t(style) < styles.dateStyle.size() && styles.dateStyle[size_t(style)] ? DateText(value, date1904)
                                                                                          : NumberText(value);
    return value; // str (a formula's text), inlineStr, e (an error value shown as its text)
}

// The sheets and shared strings that spreadsheet programs write, read straight from their bytes: for a
// sheet of a hundred thousand rows Qt's XML reader took seconds, most of it in making and dropping a
// text for every name and attribute. The subset read here: UTF-8, the sheet's own elements without a
// prefix, no DTD or CDATA, the five named entities and numeric ones. Anything else, and anything not
// well formed, is left to the XML reader (read() returns false), which reads every sheet and says where
// a damaged one breaks.
class PlainSheetXml final {
public:
    // A sheet: its cells by row, and its merged ranges. cell() turns a cell's type, style and value into
    // its text; it returns nothing for a value it cannot place (the XML reader then says why).
    using Cell = std::function<std::optional<QString>(QByteArrayView type, int style, const QString& value)>;
    bool readSheet(const QByteArray& xml, const Cell& cell, RowMap& rows, QStringList& merges) {
        m_cell = &cell;
        m_rows = &rows;
        m_merges = &merges;
        return read(xml) && m_sawSheetData;
    }
    // Shared strings: the text of each <si>.
    bool readShared(const QByteArray& xml, QStringList& shared) {
        m_shared = &shared;
        return read(xml);
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // Text as XML gives it: entities replaced, line ends made \n; false for what the subset lacks.
    static bool decode(QByteArrayView raw, QString& out) {
        if (!raw.contains('&') && !raw.contains('\r')) {
            out = QString::fromUtf8(raw);
            return !out.contains(QChar::ReplacementCharacter);
        }
        QByteArray plain;
        plain.reserve(raw.size());
        for (qsizetype i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (c == '\r') {
                plain += '\n';
                if (i + 1 < raw.size() && raw[i + 1] == '\n')
                    ++i;
                continue;
            }
            if (c != '&') {
                plain += c;
                continue;
            }
            const qsizetype semi = raw.indexOf(';', i);
            if (semi < 0)
                return false;
            const QByteArrayView name = raw.sliced(i + 1, semi - i - 1);
            i = semi;
            if (name == "lt")
                plain += '<';
            else if (name == "gt")
                plain += '>';
            else if (name == "amp")
                plain += '&';
            else if (name == "quot")
                plain += '"';
            else if (name == "apos")
                plain += '\'';
            else if (name.startsWith('#')) {
                bool ok = false;
                const uint code = name.startsWith("#x") ? name.sliced(2).toUInt(&ok, 16) : name.sliced(1).toUInt(&ok);
                const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code < 0xD800) ||
                                     (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
                if (!ok || !allowed)
                    return false;
                const char32_t one = char32_t(code);
                plain += QString::fromUcs4(&one, 1).toUtf8();
            } else {
                return false;
            }
        }
        out = QString::fromUtf8(plain);
        return !out.contains(QChar::ReplacementCharacter);
    }

    // Characters XML does not allow, as bytes: control characters other than tab and line ends.
    static bool clean(QByteArrayView text) {
        for (const char c : text)
            if (uchar(c) < 0x20 && !isSpace(c))
                return false;
        return true;
    }

    bool read(const QByteArray& xml) {
        const char* p = xml.constData();
        const char* const end = p + xml.size();
        if (xml.startsWith("\xEF\xBB\xBF"))
            p += 3;
        bool seenRoot = false;
        while (p < end) {
            if (*p != '<') {
                const char* lt = static_cast<const char*>(memchr(p, '<', size_t(end - p)));
                const char* stop = lt ? lt : end;
                const QByteArrayView text(p, stop - p);
                if (!clean(text))
                    return false;
                if (m_stack.empty() && !std::all_of(text.begin(), text.end(), isSpace))
                    return false;
                if (m_collect)
                    m_raw += text;
                else if (text.contains('&') && !m_stack.empty()) {
                    QString ignored;
                    if (!decode(text, ignored))
                        return false;
                }
                p = stop;
                continue;
            }
            const qsizetype left = end - p;
            if (left >= 2 && p[1] == '?') {
                const char* close = static_cast<const char*>(memmem(p, size_t(left), "?>", 2));
                if (!close)
                    return false;
                const QByteArrayView pi(p, close - p);
                // Only UTF-8 is read here.
                if (pi.startsWith("<?xml") && pi.contains("encoding") && !pi.contains("UTF-8") && !pi.contains("utf-8"))
                    return false;
                p = close + 2;
                continue;
            }
            if (left >= 4 && memcmp(p, "<!--", 4) == 0) {
                const char* close = static_cast<const char*>(memmem(p + 4, size_t(left - 4), "-->", 3));
                if (!close || m_collect)
                    return false;
                p = close + 3;
                continue;
            }
            if (left >= 2 && p[1] == '!')
                return false;
            const char* gt = static_cast<const char*>(memchr(p, '>', size_t(left)));
            if (!gt)
                return false;
            if (p[1] == '/') {
                QByteArrayView name(p + 2, gt - p - 2);
                while (!name.isEmpty() && isSpace(name.back()))
                    name.chop(1);
                if (m_stack.empty() || m_stack.back() != name || !endElement(name))
                    return false;
                m_stack.pop_back();
                p = gt + 1;
                continue;
            }
            // A start tag: its name, its attributes, and whether it closes itself.
            const char* q = p + 1;
            while (q < gt && !isSpace(*q) && *q != '/')
                ++q;
            const QByteArrayView name(p + 1, q - p - 1);
            if (name.isEmpty() || (m_stack.empty() && seenRoot))
                return false;
            seenRoot = true;
            m_attributes.clear();
            bool closes = false;
            for (;;) {
                while (q < end && isSpace(*q))
                    ++q;
                if (q >= end)
                    return false;
                if (*q == '>') {
                    p = q + 1;
                    break;
                }
                if (*q == '/') {
                    if (q + 1 >= end || q[1] != '>')
                        return false;
                    closes = true;
                    p = q + 2;
                    break;
                }
                const char* n = q;
                while (q < end && *q != '=' && !isSpace(*q) && *q != '>' && *q != '/')
                    ++q;
                const QByteArrayView attribute(n, q - n);
                while (q < end && isSpace(*q))
                    ++q;
                if (q + 1 >= end || *q != '=')
                    return false;
                ++q;
                while (q < end && isSpace(*q))
                    ++q;
                if (q >= end || (*q != '"' && *q != '\''))
                    return false;
                const char quote = *q++;
                const char* v = static_cast<const char*>(memchr(q, quote, size_t(end - q)));
                if (!v)
                    return false;
                const QByteArrayView value(q, v - q);
                // Entities and line ends in the values read here would need the XML reader's handling.
                if (attribute.isEmpty() || value.contains('<') || value.contains('&') || !clean(value) ||
                    value.contains('\n') || value.contains('\r') || value.contains('\t'))
                    return false;
                m_attributes.push_back({attribute, value});
                q = v + 1;
            }
            m_stack.push_back(name);
            if (!startElement(name))
                return false;
            if (closes) {
                if (!endElement(name))
                    return false;
                m_stack.pop_back();
            }
        }
        return seenRoot && m_stack.empty();
    }

    QByteArrayView attribute(QByteArrayView name) const {
        for (const auto& [n, v] : m_attributes)
            if (n == name)
                return v;
        return {};
    }

    bool startElement(QByteArrayView name) {
        if (m_collect)
            return false; // an element inside <v> or <t>: the XML reader's affair
        const bool inText = m_shared ? m_inItem : m_inCell;
        if (name.contains(':'))
            return !(m_inSheetData || inText || (m_shared && m_stack.size() == 2));
        if (m_shared) {
            if (m_stack.size() == 2 && name == "si") {
                m_inItem = true;
                m_text.clear();
            } else if (m_inItem) {
                return rich(name);
            }
            return true;
        }
        if (name == "sheetData" && m_stack.size() == 2) {
            m_inSheetData = m_sawSheetData = true;
        } else if (name == "row" && m_inSheetData && m_stack.size() == 3) {
            const int r = attribute("r").toInt();
            m_row = r > 0 ? r : m_row + 1;
            m_column = -1;
            m_cells = &(*m_rows)[m_row];
        } else if (name == "c" && m_cells && m_stack.size() == 4) {
            const QByteArrayView ref = attribute("r");
            int c = 0;
            qsizetype i = 0;
            for (; i < ref.size() && QChar::isLetter(uchar(ref[i])); ++i)
                c = c * 26 + (QChar::toUpper(uchar(ref[i])) - u'A' + 1);
            m_column = i > 0 ? c - 1 : m_column + 1;
            m_type = attribute("t");
            m_style = attribute("s").toInt();
            m_inCell = true;
            m_hasValue = false;
            m_text.clear();
        } else if (m_inCell && name == "v" && m_stack.size() == 5) {
            m_collect = true;
            m_raw.clear();
        } else if (m_inCell && name == "is" && m_stack.size() == 5) {
            m_inItem = true;
            m_hasValue = true;
        } else if (m_inItem) {
            return rich(name);
        } else if (name == "mergeCell") {
            *m_merges << QString::fromUtf8(attribute("ref"));
        }
        return true;
    }

    // Inside <si> or <is>: every <t> of its runs, not the phonetic guides (<rPh>).
    bool rich(QByteArrayView name) {
        if (name == "rPh")
            ++m_phonetic;
        else if (name == "t" && m_phonetic == 0) {
            m_collect = true;
            m_raw.clear();
        }
        return true;
    }

    bool endElement(QByteArrayView name) {
        if (m_collect) {
            m_collect = false;
            QString text;
            if (!decode(m_raw, text))
                return false;
            if (m_inItem)
                m_text += text;
            else
                m_text = text;
            if (!m_inItem)
                m_hasValue = true;
            return true;
        }
        if (name.contains(':'))
            return true;
        if (m_inItem && name == "rPh") {
            --m_phonetic;
        } else if (m_shared && m_inItem && name == "si" && m_stack.size() == 2) {
            m_inItem = false;
            *m_shared << m_text;
        } else if (!m_shared && m_inItem && name == "is" && m_stack.size() == 5) {
            m_inItem = false;
        } else if (name == "c" && m_inCell && m_stack.size() == 4) {
            m_inCell = false;
            if (!m_hasValue)
                return true;
            const std::optional<QString> text = (*m_cell)(m_type, m_style, m_text);
            if (!text)
                return false;
            while (m_cells->size() <= m_column)
                *m_cells << QString();
            (*m_cells)[m_column] = *text;
        } else if (name == "sheetData" && m_stack.size() == 2) {
            m_inSheetData = false;
            m_cells = nullptr;
        }
        return true;
    }

    const Cell* m_cell = nullptr;
    RowMap* m_rows = nullptr;
    QStringList* m_merges = nullptr;
    QStringList* m_shared = nullptr;
    std::vector<QByteArrayView> m_stack;
    std::vector<std::pair<QByteArrayView, QByteArrayView>> m_attributes;
    bool m_sawSheetData = false, m_inSheetData = false, m_inCell = false, m_inItem = false, m_collect = false,
         m_hasValue = false;
    int m_phonetic = 0, m_row = 0, m_column = -1, m_style = 0;
    QStringList* m_cells = nullptr;
    QByteArrayView m_type;
    QByteArray m_raw;
    QString m_text;
};

SheetTable Fail(SheetTable table, const QString& why) {
    table.error = why;
    table.rows.clear();
    return table;
}

} // namespace

QString SheetText::At(int row, int column) {
    return QStringLiteral("第%1行第%2列").arg(row).arg(SheetColumnName(column));
}

QString SheetColumnName(int column) {
    QString name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

std::optional<QByteArray> ZipMember(const QString& path, const QString& member) {
    const ZipPackage zip(path);
    return zip.state() == ZipPackage::State::Ok ? zip.member(member) : std::nullopt;
}

SheetTable ReadSheetFile(const QString& path, const SheetReadOptions& options) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt")) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            SheetTable t;
            t.error = SheetText::Unreadable.arg(path);
            return t;
        }
        return ReadCsv(f.readAll(), options.encoding);
    }
    return ReadWorkbook(path, options);
}

SheetTable ReadWorkbook(const QString& path, const SheetReadOptions& options) {
    SheetTable table;
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return Fail(table, SheetText::Unreadable.arg(path));
        // An encrypted workbook is a compound document, as the old .xls is, not a zip package.
        if (f.read(8) == QByteArray::fromHex("d0cf11e0a1b11ae1"))
            return Fail(table, SheetText::Protected.arg(path));
    }
    const ZipPackage zip(path);
    if (zip.state() == ZipPackage::State::Unreadable)
        return Fail(table, SheetText::Unreadable.arg(path));
    if (zip.encrypted(QStringLiteral("xl/workbook.xml")))
        return Fail(table, SheetText::Protected.arg(path));
    const std::optional<QByteArray> workbook =
        zip.state() == ZipPackage::State::Ok ? zip.member(QStringLiteral("xl/workbook.xml")) : std::nullopt;
    if (!workbook)
        return Fail(table, SheetText::NotWorkbook.arg(path));

    QStringList sheetIds;
    bool date1904 = false;
    {
        QXmlStreamReader x(*workbook);
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == QLatin1String("sheet")) {
                table.sheetNames << x.attributes().value(QStringLiteral("name")).toString();
                sheetIds << x.attributes().value(kNsRelationships, QStringLiteral("id")).toString();
            } else if (x.name() == QLatin1String("workbookPr")) {
                const auto v = x.attributes().value(QStringLiteral("date1904"));
                date1904 = v == QLatin1String("1") || v == QLatin1String("true");
            }
        }
        if (x.hasError())
            return Fail(table, SheetText::Damaged.arg(QStringLiteral("xl/workbook.xml"), QStringLiteral("开头"),
                                                      x.errorString()));
    }
    if (table.sheetNames.isEmpty())
        return Fail(table, SheetText::NoSheet);
    const qsizetype chosen = options.sheet.isEmpty() ? 0 : table.sheetNames.indexOf(options.sheet);
    if (chosen < 0)
        return Fail(table, SheetText::NoSuchSheet.arg(options.sheet));
    table.sheet = table.sheetNames[chosen];

    QString sheetPath = QStringLiteral("xl/worksheets/sheet%1.xml").arg(chosen + 1);
    QString sharedPath = QStringLiteral("xl/sharedStrings.xml");
    QString stylesPath = QStringLiteral("xl/styles.xml");
    if (const auto rels = zip.member(QStringLiteral("xl/_rels/workbook.xml.rels"))) {
        QXmlStreamReader x(*rels);
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement || x.name() != QLatin1String("Relationship"))
                continue;
            const QString id = x.attributes().value(QStringLiteral("Id")).toString();
            const QString type = x.attributes().value(QStringLiteral("Type")).toString();
            const QString target = PartPath(x.attributes().value(QStringLiteral("Target")).toString());
            if (id == sheetIds[chosen])
                sheetPath = target;
            else if (type.endsWith(QStringLiteral("/sharedStrings")))
                sharedPath = target;
            else if (type.endsWith(QStringLiteral("/styles")))
                stylesPath = target;
        }
    }

    QStringList shared;
    if (const auto xml = zip.member(sharedPath); xml && !PlainSheetXml().readShared(*xml, shared)) {
        shared.clear();
        QXmlStreamReader x(*xml);
        while (!x.atEnd()) {
            if (x.readNext() == QXmlStreamReader::StartElement && x.name() == QLatin1String("si"))
                shared << RichText(x);
        }
        if (x.hasError())
            return Fail(table, SheetText::Damaged.arg(sharedPath, QStringLiteral("第%1个文字").arg(shared.size() + 1),
                                                      x.errorString()));
    }
    const Styles styles = ReadStyles(zip.member(stylesPath).value_or(QByteArray()));

    const std::optional<QByteArray> sheetXml = zip.member(sheetPath);
    if (!sheetXml)
        return Fail(table, SheetText::Damaged.arg(sheetPath, QStringLiteral("开头"), QStringLiteral("无法解压")));
    RowMap rows;
    const PlainSheetXml::Cell cell = [&](QByteArrayView type, int style,
                                         const QString& value) -> std::optional<QString> {
        std::optional<QString> text = CellText(QLatin1StringView(type), style, value, shared, styles, date1904);
        // Refused by the XML reader below, which names the row and column.
        if (text && text->size() > SheetText::kMaxCellChars)
            return std::nullopt;
        return text;
    };
    if (PlainSheetXml().readSheet(*sheetXml, cell, rows, table.merges)) {
        FillMerges(rows, table.merges);
        KeepFilledRows(rows, table);
        return table;
    }
    rows.clear();
    table.merges.clear();
    QXmlStreamReader x(*sheetXml);
    int rowNumber = 0, column = -1;
    QStringList* cells = nullptr;
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = x.name();
        if (name == QLatin1String("row")) {
            const int r = x.attributes().value(QStringLiteral("r")).toInt();
            rowNumber = r > 0 ? r : rowNumber + 1;
            column = -1;
            cells = &rows[rowNumber];
        } else if (name == QLatin1String("c") && cells) {
            const QXmlStreamAttributes a = x.attributes();
            const auto [c, r] = ParseRef(a.value(QStringLiteral("r")));
            column = c >= 0 ? c : column + 1;
            (void)r;
            const QString type = a.value(QStringLiteral("t")).toString();
            const int style = a.value(QStringLiteral("s")).toInt();
            QString value;
            bool hasValue = false;
            while (!x.atEnd()) {
                const auto t = x.readNext();
                if (t == QXmlStreamReader::EndElement && x.name() == QLatin1String("c"))
                    break;
                if (t != QXmlStreamReader::StartElement)
                    continue;
                if (x.name() == QLatin1String("v")) {
                    value = x.readElementText();
                    hasValue = true;
                } else if (x.name() == QLatin1String("is")) {
                    value = RichText(x);
                    hasValue = true;
                }
            }
            if (!hasValue || x.hasError())
                continue;
            const std::optional<QString> converted =
                CellText(QLatin1StringView(type.toLatin1()), style, value, shared, styles, date1904);
            if (!converted)
                return Fail(table, SheetText::Damaged.arg(sheetPath, SheetText::At(rowNumber, column),
                                                          QStringLiteral("共享文字的编号%1不存在").arg(value)));
            const QString& text = *converted;
            if (text.size() > SheetText::kMaxCellChars)
                return Fail(table,
                            SheetText::CellTooLong.arg(SheetText::At(rowNumber, column)).arg(SheetText::kMaxCellChars));
            while (cells->size() <= column)
                *cells << QString();
            (*cells)[column] = text;
        } else if (name == QLatin1String("mergeCell")) {
            table.merges << x.attributes().value(QStringLiteral("ref")).toString();
        }
    }
    if (x.hasError()) {
        const QString where = rowNumber > 0 && column >= 0 ? SheetText::At(rowNumber, column) : QStringLiteral("开头");
        return Fail(table, SheetText::Damaged.arg(sheetPath, where, x.errorString()));
    }
    FillMerges(rows, table.merges);
    KeepFilledRows(rows, table);
    return table;
}

SheetTable ReadCsv(const QByteArray& input, TextEncoding encoding) {
    SheetTable table;
    QByteArray bytes = input;
    bool bom = false;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
        bom = true;
    }
    // A byte-order mark settles it: only UTF-8 starts so.
    bool utf8 = bom || encoding != TextEncoding::Gbk;
    const bool detect = encoding == TextEncoding::Detect && !bom;
    QString text;
    bool broken = false;
    if (utf8) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder(bytes);
        broken = decoder.hasError();
        if (broken && detect) {
            qsizetype bad = -1;
            const QString gbk = FromAnsi(bytes, &bad);
            if (bad < 0) {
                text = gbk;
                broken = false;
                utf8 = false;
            }
        }
    } else {
        qsizetype bad = -1;
        text = FromAnsi(bytes, &bad);
        broken = bad >= 0;
    }
    table.encoding = utf8 ? QStringLiteral("UTF-8") : QStringLiteral("GBK");

    // The separator is the comma; a file with tabs and no comma in its first line was saved as tab-separated.
    const qsizetype firstEnd = text.indexOf(QLatin1Char('\n'));
    const QStringView firstLine = QStringView(text).left(firstEnd < 0 ? text.size() : firstEnd);
    const QChar separator = !firstLine.contains(QLatin1Char(',')) && firstLine.contains(QLatin1Char('\t'))
                                ? QLatin1Char('\t')
                                : QLatin1Char(',');
    RowMap rows;
    int row = 1, column = 0, quoteRow = 0, quoteColumn = 0;
    QStringList cells;
    QString cell;
    bool quoted = false, wasQuoted = false;
    auto endCell = [&]() -> bool {
        if (cell.size() > SheetText::kMaxCellChars)
            return false;
        cells << cell;
        cell.clear();
        wasQuoted = false;
        ++column;
        return true;
    };
    auto endRow = [&] {
        rows[row] = std::move(cells);
        cells = QStringList();
        ++row;
        column = 0;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && cell.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
            quoteRow = row;
            quoteColumn = column;
        } else if (c == separator) {
            if (!endCell())
                break;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            if (!endCell())
                break;
            endRow();
        } else {
            cell += c;
        }
    }
    if (cell.size() > SheetText::kMaxCellChars)
        return Fail(table, SheetText::CellTooLong.arg(SheetText::At(row, column)).arg(SheetText::kMaxCellChars));
    if (quoted)
        return Fail(table, SheetText::OpenQuote.arg(SheetText::At(quoteRow, quoteColumn)));
    if (!cell.isEmpty() || wasQuoted || !cells.isEmpty()) {
        endCell();
        endRow();
    }
    if (broken) {
        for (const auto& [number, rowCells] : rows)
            for (qsizetype c = 0; c < rowCells.size(); ++c)
                if (rowCells[c].contains(QChar(QChar::ReplacementCharacter)))
                    return Fail(table,
                                SheetText::BadEncoding.arg(SheetText::At(number, int(c)),
                                                           detect ? QStringLiteral("UTF-8或GBK") : table.encoding));
    }
    KeepFilledRows(rows, table);
    return table;
}

} // namespace velda
