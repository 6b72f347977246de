#pragma once

#include <QString>

namespace velda {

// True when a text holds a control character (NUL included) or a half of a UTF-16 pair without its
// other half. Such texts cannot be stored faithfully: PostgreSQL refuses NUL in a text, and a lone
// surrogate becomes a replacement character (or breaks the reading of the row) on its way through UTF-8.
// Names, node texts and everything else the user types into a key or a list are refused with it.
bool HasUnstorableCharacter(const QString& text);

// The longest code a drawing may have, in bytes of UTF-8 (a Chinese character takes three): the stored
// name and its side names must stay within what a file name on the volume may hold.
inline constexpr int kMaxCodeBytes = 200;
// A code as typed into a check-in: blanks at either end are slips of typing, never part of a code (they
// would make a second drawing that looks like the first).
QString TypedCode(const QString& text);
// Whether a code fits kMaxCodeBytes.
bool CodeFits(const QString& code);

} // namespace velda
