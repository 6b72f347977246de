#pragma once

#include "core/CodePage.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace velda {

// Character codes as the office's Chinese code page (GBK, code page 936) gives them: 0..255 for
// a single-byte character, a negative 16-bit value for a double-byte one.
int AnsiCode(QChar c);
// The character made from a code 0..255.
QChar AnsiChar(int code);

// Three stateless text routines. The cipher must stay bit-compatible: records enciphered by any
// client of the same database are deciphered by every other.
class Password final {
public:
    // A number in [0, 1); production draws from the system generator, tests may fix it.
    using RandomSource = std::function<double()>;

    Password();
    explicit Password(RandomSource random);

    // Action "E" enciphers, "D" deciphers, anything else gives the empty text.
    // Throws velda::Error when Key is empty.
    QString Quorel(const QString& Action, const QString& Key, const QString& Src) const;
    // Counts non-overlapping occurrences of a two-character text.
    std::int16_t InStrNum(const QString& SourceStr, const QString& SonStr) const;
    // Position of the last FindStr in Surstr, from the left ("L") or from the right (otherwise).
    std::int16_t InvInStr(const QString& Surstr, const QString& FindStr, const QString& Orient) const;

private:
    RandomSource m_random;
};

// Reads the longest run of hexadecimal digits at the start of a text; 0 when there is none.
long HexPrefixValue(const QString& text);

} // namespace velda
