#pragma once

#include <QString>

namespace velda {

// True when a text holds a control character (NUL included) or a half of a UTF-16 pair without its
// other half. Such texts cannot be stored faithfully: PostgreSQL refuses NUL in a text, and a lone
// surrogate becomes a replacement character (or breaks the reading of the row) on its way through UTF-8.
// Names, node texts and everything else the user types into a key or a list are refused with it.
bool HasUnstorableCharacter(const QString& text);

} // namespace velda
