#pragma once

#include <QByteArray>
#include <QString>

namespace velda {

// The office's Chinese code page (GBK, code page 936): lengths and character codes in it are part of
// the stored formats. What the code page lacks becomes "?", as the system's own conversion does.
QByteArray ToAnsi(const QString& text);
// Length of a text in code-page bytes.
int AnsiByteLength(const QString& text);

} // namespace velda
