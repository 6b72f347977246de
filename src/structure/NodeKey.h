#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

// The six node kinds, in the order the part tab offers them.
namespace NodeKind {
inline const QString Part = QStringLiteral("零件");
inline const QString Assembly = QStringLiteral("装配件");
inline const QString Welded = QStringLiteral("组焊件");
inline const QString Weldment = QStringLiteral("焊接件");
inline const QString Standard = QStringLiteral("标准件");
inline const QString Purchased = QStringLiteral("外购件");
QStringList All();
// Standard and purchased parts carry their data in the code (code#spec#name) and have no part record.
bool IsCatalogue(const QString& kind);
} // namespace NodeKind

// The fields of a node key. The key text is
//   counter "/K" kind "/C" quantity "/M" memo usage-entries "/A" name "/"
// where every reader takes the first occurrence of each tag.
struct NodeKeyFields {
    QString kind;
    QString quantity;
    QString memoPart; // memo followed by the usage entries
    QString memo;     // the memo part up to its first "/N"
    QString name;
};

// "0000"-style counter: at least four digits.
QString FormatNodeCounter(long counter);
// One place of use: "/N" parent ":" quantity "件", and for a standard part its two-digit item number.
QString UsageEntry(const QString& parentText, const QString& quantity, int itemNumber);
QString BuildNodeKey(const QString& counterText, const QString& kind, const QString& quantity, const QString& memo,
                     const QString& usage, const QString& name);
// A root made in the editor leads with its section code; a loaded root has no lead.
QString RootNodeKey(const QString& lead, const QString& name);
NodeKeyFields ParseNodeKey(const QString& key);
// The item number of a standard part as used under the given parent; 0 when the key has none.
int ItemNumberInKey(const QString& key, const QString& parentText);

// Text that would break a key when stored in it: memos and names hold none of the tags, the three
// fields of a code#spec#name code hold no "#". Returns the offending marker, or nothing.
std::optional<QString> KeyMarkerIn(const QString& text);
// Loaded memos of other clients may hold a tag: the slash is replaced by a full-width one so the key
// keeps one reading.
QString NeutraliseMarkers(const QString& text);

// A node's code as shown in the tree: the stored code with every "product-" removed. Codes of
// standard and purchased parts are shown as stored.
QString NodeTextOfStoredCode(const QString& storedCode, const QString& kind, const QString& productCode);
// The name shown for a code#spec#name code: the text after its last "#".
QString CatalogueName(const QString& code);
// What the tree shows for a node: its code followed by its name, and for a code#spec#name code the code,
// the name and the size text apart, so a reader never has to take the marks apart.
QString NodeLabel(const QString& nodeText, const QString& name);

// The full code of a node text, used both as its section code and as the stored code of a part: the text
// when it already holds a "-", otherwise product "-" text. One rule for storing and loading, so whatever
// is stored loads back under the same code.
QString FullCode(const QString& nodeText, const QString& productCode);
// The section code of a root made in the editor from its typed code: the typed code itself when it holds
// an "N", otherwise product "-" code (P1-03 is kept as P1-P1-03, the form the picker reads back).
QString EditorRootSection(const QString& rootText, const QString& productCode);

// An assembly's code ends in "00", or in "00" and one capital letter.
bool IsAssemblyCode(const QString& text);
// The kind guessed from a typed part code.
QString GuessPartKind(const QString& code);

// A typed or stored quantity as a whole number (fractions round to the nearest); nothing when it is
// not a number or too large to count with.
std::optional<qint64> QuantityValue(const QString& text);

} // namespace velda
