#include "core/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace velda {

QByteArray ToAnsi(const QString& text) {
    // iconv handles are not thread-safe; one per call keeps this simple and correct.
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text.toLatin1();
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 2 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            if (errno == EILSEQ || errno == EINVAL) {
                // Like the system's own conversion: what the code page lacks becomes "?".
                if (outLeft == 0)
                    break;
                *outPtr++ = '?';
                --outLeft;
                // Skip one UTF-8 sequence.
                unsigned char lead = static_cast<unsigned char>(*inPtr);
                size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
                len = std::min(len, inLeft);
                inPtr += len;
                inLeft -= len;
            } else {
                break;
            }
        }
    }
    iconv_close(cd);
    out.truncate(static_cast<int>(outPtr - out.data()));
    return out;
}

int AnsiByteLength(const QString& text) { return static_cast<int>(ToAnsi(text).size()); }

QString FromAnsi(const QByteArray& bytes, qsizetype* firstBad) {
    if (firstBad)
        *firstBad = -1;
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QString::fromLatin1(bytes);
    QByteArray in = bytes;
    // A GBK character never takes more than three bytes of UTF-8 per byte of GBK; U+FFFD takes three.
    QByteArray out(in.size() * 3 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        if ((errno != EILSEQ && errno != EINVAL) || outLeft < 3)
            break;
        if (firstBad && *firstBad < 0)
            *firstBad = inPtr - in.data();
        for (const char c : {'\xEF', '\xBF', '\xBD'})
            *outPtr++ = c;
        outLeft -= 3;
        ++inPtr;
        --inLeft;
    }
    iconv_close(cd);
    out.truncate(static_cast<int>(outPtr - out.data()));
    return QString::fromUtf8(out);
}

} // namespace velda
