#pragma once

#include <QByteArray>
#include <QString>

namespace velda {

// The office's Chinese code page (GBK, code page 936): lengths and character codes in it are part of
// the stored formats. What the code page lacks becomes "?", as the system's own conversion does.
QByteArray ToAnsi(const QString& text);
// Length of a text in code-page bytes.
int AnsiByteLength(const QString& text);
// Text in the code page back to Unicode. A byte sequence the code page does not define becomes U+FFFD;
// firstBad, when given, receives the offset of the first such byte, or -1 when there is none.
QString FromAnsi(const QByteArray& bytes, qsizetype* firstBad = nullptr);

} // namespace velda
