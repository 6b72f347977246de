#include "structure/ui/ReportFont.h"

#include <QFont>
#include <QFontDatabase>
#include <QRawFont>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>
#include <vector>

namespace velda {

namespace {

const QString kSourceFamily = QStringLiteral("Noto Sans CJK SC");
// Its own name: a modified font may not go by the original's.
const QString kReportFamily = QStringLiteral("VELDA Report Sans");

// CJK Radicals Supplement and Kangxi Radicals.
constexpr quint32 kRadicalsFirst = 0x2E80;
constexpr quint32 kRadicalsLast = 0x2FDF;

quint16 get16(const QByteArray& d, qint64 at) {
    return at >= 0 && at + 2 <= d.size() ? qFromBigEndian<quint16>(d.constData() + at) : 0;
}
quint32 get32(const QByteArray& d, qint64 at) {
    return at >= 0 && at + 4 <= d.size() ? qFromBigEndian<quint32>(d.constData() + at) : 0;
}
void put16(QByteArray& d, quint16 v) {
    char b[2];
    qToBigEndian(v, b);
    d.append(b, 2);
}
void put32(QByteArray& d, quint32 v) {
    char b[4];
    qToBigEndian(v, b);
    d.append(b, 4);
}

using CodeMap = std::vector<std::pair<quint32, quint32>>; // code point, glyph; ascending code points

// The face's full-range (format 12) Unicode subtable: the only one that holds every code point.
CodeMap readCmap(const QByteArray& cmap) {
    const quint16 count = get16(cmap, 2);
    for (quint16 i = 0; i < count; ++i) {
        const qint64 record = 4 + 8 * qint64(i);
        const quint16 platform = get16(cmap, record);
        const quint16 encoding = get16(cmap, record + 2);
        const qint64 at = get32(cmap, record + 4);
        const bool unicode = (platform == 3 && encoding == 10) || (platform == 0 && (encoding == 4 || encoding == 6));
        if (!unicode || get16(cmap, at) != 12)
            continue;
        const quint32 groups = get32(cmap, at + 12);
        if (at + 16 + 12 * qint64(groups) > cmap.size())
            return {};
        CodeMap map;
        for (quint32 g = 0; g < groups; ++g) {
            const qint64 group = at + 16 + 12 * qint64(g);
            const quint32 first = get32(cmap, group);
            const quint32 last = std::min<quint32>(get32(cmap, group + 4), 0x10FFFF);
            const quint32 glyph = get32(cmap, group + 8);
            for (quint32 c = first; c <= last; ++c)
                map.emplace_back(c, glyph + (c - first));
        }
        return map;
    }
    return {};
}

// Radical code points drawn with a glyph some other code point also has go; radicals with their own
// glyph stay.
CodeMap withoutSharedRadicals(const CodeMap& map) {
    auto radical = [](quint32 c) { return c >= kRadicalsFirst && c <= kRadicalsLast; };
    std::vector<bool> shared;
    for (const auto& [c, glyph] : map) {
        if (radical(c))
            continue;
        if (glyph >= shared.size())
            shared.resize(glyph + 1);
        shared[glyph] = true;
    }
    CodeMap kept;
    for (const auto& [c, glyph] : map) {
        if (!radical(c) || glyph >= shared.size() || !shared[glyph])
            kept.emplace_back(c, glyph);
    }
    return kept;
}

QByteArray writeCmap(const CodeMap& map) {
    std::vector<std::array<quint32, 3>> groups; // first, last, first's glyph
    for (const auto& [c, glyph] : map) {
        if (!groups.empty() && groups.back()[1] + 1 == c && groups.back()[2] + (c - groups.back()[0]) == glyph)
            groups.back()[1] = c;
        else
            groups.push_back({c, c, glyph});
    }
    QByteArray t;
    put16(t, 0);
    put16(t, 2);
    // Both Unicode records name the one subtable.
    put16(t, 0);
    put16(t, 4);
    put32(t, 20);
    put16(t, 3);
    put16(t, 10);
    put32(t, 20);
    put16(t, 12);
    put16(t, 0);
    put32(t, quint32(16 + 12 * groups.size()));
    put32(t, 0);
    put32(t, quint32(groups.size()));
    for (const auto& g : groups) {
        for (quint32 v : g)
            put32(t, v);
    }
    return t;
}

// The original's names but for the family's own, which take the new family name.
QByteArray writeName(const QByteArray& name, const QString& style) {
    struct Record {
        quint16 platform, encoding, language, id;
        QByteArray text;
    };
    std::vector<Record> records;
    const quint16 count = get16(name, 2);
    const qint64 strings = get16(name, 4);
    for (quint16 i = 0; i < count; ++i) {
        const qint64 at = 6 + 12 * qint64(i);
        const Record r{get16(name, at), get16(name, at + 2), get16(name, at + 4), get16(name, at + 6),
                       name.mid(strings + get16(name, at + 10), get16(name, at + 8))};
        const bool naming = r.id <= 6 && r.id != 0 && r.id != 5;
        const bool typographic = r.id == 16 || r.id == 17 || r.id == 18 || r.id == 21 || r.id == 22 || r.id == 25;
        if (!naming && !typographic && r.language < 0x8000)
            records.push_back(r);
    }
    auto add = [&](quint16 id, const QString& text) {
        QByteArray utf16;
        for (QChar ch : text)
            put16(utf16, ch.unicode());
        records.push_back({3, 1, 0x409, id, utf16});
    };
    add(1, kReportFamily);
    add(2, style);
    add(3, kReportFamily + QLatin1Char(' ') + style);
    add(4, kReportFamily + QLatin1Char(' ') + style);
    add(6, QString(kReportFamily).remove(QLatin1Char(' ')) + QLatin1Char('-') + style);
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        return std::tie(a.platform, a.encoding, a.language, a.id) < std::tie(b.platform, b.encoding, b.language, b.id);
    });
    QByteArray t, text;
    put16(t, 0);
    put16(t, quint16(records.size()));
    put16(t, quint16(6 + 12 * records.size()));
    for (const Record& r : records) {
        put16(t, r.platform);
        put16(t, r.encoding);
        put16(t, r.language);
        put16(t, r.id);
        put16(t, quint16(r.text.size()));
        put16(t, quint16(text.size()));
        text += r.text;
    }
    return t + text;
}

quint32 checksum(const QByteArray& d) {
    quint32 sum = 0;
    for (qint64 at = 0; at < d.size(); at += 4)
        sum += get32(d, at);
    return sum;
}

// One standalone font file from its tables, as the font loaders expect it.
QByteArray writeFont(const std::map<QByteArray, QByteArray>& tables) {
    const quint16 n = quint16(tables.size());
    quint16 power = 1, log = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++log;
    }
    QByteArray font;
    put32(font, tables.count("CFF ") ? 0x4F54544F : 0x00010000);
    put16(font, n);
    put16(font, quint16(power * 16));
    put16(font, log);
    put16(font, quint16(n * 16 - power * 16));
    QByteArray body;
    qint64 headAt = -1;
    for (const auto& [tag, data] : tables) {
        QByteArray padded = data;
        if (tag == "head")
            padded.replace(8, 4, QByteArray(4, '\0'));
        padded.append(QByteArray((4 - padded.size() % 4) % 4, '\0'));
        const qint64 at = 12 + 16 * qint64(n) + body.size();
        if (tag == "head")
            headAt = at;
        font += tag;
        put32(font, checksum(padded));
        put32(font, quint32(at));
        put32(font, quint32(data.size()));
        body += padded;
    }
    font += body;
    QByteArray adjustment;
    put32(adjustment, 0xB1B0AFBA - checksum(font));
    font.replace(headAt + 8, 4, adjustment);
    return font;
}

QByteArray reportFace(const QRawFont& source, const QString& style) {
    static const char* const kTags[] = {"BASE", "CFF ", "GDEF", "GPOS", "GSUB", "OS/2", "VORG", "cmap",
                                        "cvt ", "fpgm", "gasp", "glyf", "head", "hhea", "hmtx", "loca",
                                        "maxp", "name", "post", "prep", "vhea", "vmtx"};
    std::map<QByteArray, QByteArray> tables;
    for (const char* tag : kTags) {
        const QByteArray data = source.fontTable(tag);
        if (!data.isEmpty())
            tables[QByteArray(tag)] = data;
    }
    for (const char* tag : {"cmap", "head", "hhea", "hmtx", "maxp", "name"}) {
        if (!tables.count(tag))
            return {};
    }
    if (!tables.count("CFF ") && !tables.count("glyf"))
        return {};
    const CodeMap map = readCmap(tables["cmap"]);
    if (map.empty() || tables["head"].size() < 54)
        return {};
    tables["cmap"] = writeCmap(withoutSharedRadicals(map));
    tables["name"] = writeName(tables["name"], style);
    return writeFont(tables);
}

QString makeReportFamily() {
    const QRawFont regular = QRawFont::fromFont(QFont(kSourceFamily));
    if (regular.familyName() != kSourceFamily)
        return kSourceFamily;
    const QByteArray face = reportFace(regular, QStringLiteral("Regular"));
    if (face.isEmpty() || QFontDatabase::addApplicationFontFromData(face) < 0)
        return kSourceFamily;
    // Without its own bold face the family's bold is drawn thickened from the regular one.
    QFont boldFont(kSourceFamily);
    boldFont.setBold(true);
    const QRawFont bold = QRawFont::fromFont(boldFont);
    if (bold.familyName() == kSourceFamily && bold.styleName() == QLatin1String("Bold")) {
        const QByteArray boldFace = reportFace(bold, QStringLiteral("Bold"));
        if (!boldFace.isEmpty())
            QFontDatabase::addApplicationFontFromData(boldFace);
    }
    return kReportFamily;
}

} // namespace

QString ReportFontFamily() {
    static const QString family = makeReportFamily();
    return family;
}

} // namespace velda
