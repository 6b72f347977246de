#include "structure/NodeKey.h"

#include <cmath>

namespace velda {

namespace {
const QString kTagK = QStringLiteral("/K");
const QString kTagC = QStringLiteral("/C");
const QString kTagM = QStringLiteral("/M");
const QString kTagA = QStringLiteral("/A");
const QString kTagN = QStringLiteral("/N");
const QString kPiece = QStringLiteral("件");

// The text between the first occurrence of one tag and the first occurrence of the next after it.
QString between(const QString& key, const QString& from, const QString& to) {
    const int a = key.indexOf(from);
    if (a < 0)
        return {};
    const int start = a + from.size();
    const int b = key.indexOf(to, start);
    return b < 0 ? key.mid(start) : key.mid(start, b - start);
}
} // namespace

QStringList NodeKind::All() { return {Part, Assembly, Welded, Weldment, Standard, Purchased}; }

bool NodeKind::IsCatalogue(const QString& kind) { return kind == Standard || kind == Purchased; }

QString FormatNodeCounter(long counter) { return QString::asprintf("%04ld", counter); }

QString UsageEntry(const QString& parentText, const QString& quantity, int itemNumber) {
    QString e = kTagN + parentText + QLatin1Char(':') + quantity + kPiece;
    if (itemNumber != 0)
        e += QString::asprintf("%02d", itemNumber);
    return e;
}

QString BuildNodeKey(const QString& counterText, const QString& kind, const QString& quantity, const QString& memo,
                     const QString& usage, const QString& name) {
    return counterText + kTagK + kind + kTagC + quantity + kTagM + memo + usage + kTagA + name + QLatin1Char('/');
}

QString RootNodeKey(const QString& lead, const QString& name) {
    return lead + QStringLiteral("0000/K装配件/C1/M /A") + name + QLatin1Char('/');
}

NodeKeyFields ParseNodeKey(const QString& key) {
    NodeKeyFields f;
    f.kind = between(key, kTagK, kTagC);
    f.quantity = between(key, kTagC, kTagM);
    f.memoPart = between(key, kTagM, kTagA);
    const int n = f.memoPart.indexOf(kTagN);
    f.memo = n < 0 ? f.memoPart : f.memoPart.left(n);
    const int a = key.indexOf(kTagA);
    if (a >= 0 && key.size() >= a + 3)
        f.name = key.mid(a + 2, key.size() - 1 - (a + 2));
    return f;
}

int ItemNumberInKey(const QString& key, const QString& parentText) {
    const QString memoPart = between(key, kTagM, kTagA);
    const int at = memoPart.indexOf(kTagN + parentText + QLatin1Char(':'));
    if (at < 0)
        return 0;
    const int piece = memoPart.indexOf(kPiece, at);
    if (piece < 0)
        return 0;
    return memoPart.mid(piece + 1, 2).toInt();
}

std::optional<QString> KeyMarkerIn(const QString& text) {
    for (const QString& tag : {kTagA, kTagN, kTagC, kTagM, kTagK}) {
        if (text.contains(tag))
            return tag;
    }
    return std::nullopt;
}

QString NeutraliseMarkers(const QString& text) {
    if (!text.contains(QLatin1Char('/')))
        return text;
    QString out = text;
    for (const QString& tag : {kTagA, kTagN, kTagC, kTagM, kTagK})
        out.replace(tag, QStringLiteral("／") + tag.at(1));
    return out;
}

QString NodeTextOfStoredCode(const QString& storedCode, const QString& kind, const QString& productCode) {
    if (NodeKind::IsCatalogue(kind) || productCode.isEmpty())
        return storedCode;
    QString t = storedCode;
    return t.remove(productCode + QLatin1Char('-'));
}

QString CatalogueName(const QString& code) { return code.mid(code.lastIndexOf(QLatin1Char('#')) + 1); }

QString NodeLabel(const QString& nodeText, const QString& name) {
    const qsizetype first = nodeText.indexOf(QLatin1Char('#'));
    if (first >= 0) {
        const qsizetype last = nodeText.lastIndexOf(QLatin1Char('#'));
        QStringList parts{nodeText.left(first), nodeText.mid(last + 1)};
        if (last > first)
            parts << nodeText.mid(first + 1, last - first - 1);
        parts.removeAll(QString());
        return parts.join(QLatin1Char(' '));
    }
    if (name.isEmpty() || name == nodeText)
        return nodeText;
    return nodeText + QLatin1Char(' ') + name;
}

QString FullCode(const QString& nodeText, const QString& productCode) {
    if (nodeText.contains(QLatin1Char('-')))
        return nodeText;
    return productCode + QLatin1Char('-') + nodeText;
}

QString EditorRootSection(const QString& rootText, const QString& productCode) {
    if (rootText.contains(QLatin1Char('N')))
        return rootText;
    return productCode + QLatin1Char('-') + rootText;
}

bool IsAssemblyCode(const QString& text) {
    const int n = text.size();
    if (text.endsWith(QLatin1String("00")))
        return true;
    if (n < 3)
        return false;
    const QChar last = text.at(n - 1);
    return last >= QLatin1Char('A') && last <= QLatin1Char('Z') && text.mid(n - 3, 2) == QLatin1String("00");
}

QString GuessPartKind(const QString& code) {
    if (code.contains(QLatin1String("/00")))
        return NodeKind::Welded;
    if (code.contains(QLatin1Char('/')))
        return NodeKind::Weldment;
    if (IsAssemblyCode(code))
        return NodeKind::Assembly;
    return NodeKind::Part;
}

std::optional<qint64> QuantityValue(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    // Beyond 2^53 a double no longer counts in whole numbers.
    if (!ok || !std::isfinite(v) || std::fabs(v) > 9.0e15)
        return std::nullopt;
    return static_cast<qint64>(std::llround(v));
}

} // namespace velda
