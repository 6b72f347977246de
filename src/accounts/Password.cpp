#include "accounts/Password.h"

#include "core/CodePage.h"
#include "store/Database.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cmath>

namespace velda {

namespace {

QString hexUpper(long value) { return QString::number(value, 16).toUpper(); }

// VB-style Hex of a 16-bit integer: a negative value is written as its two's complement.
QString hex16(int value) {
    if (value < 0)
        return hexUpper(static_cast<long>(static_cast<std::uint16_t>(static_cast<std::int16_t>(value))));
    return hexUpper(value);
}

} // namespace

int AnsiCode(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u;
    const QByteArray bytes = ToAnsi(QString(c));
    if (bytes.size() == 1)
        return static_cast<unsigned char>(bytes[0]);
    if (bytes.size() >= 2) {
        const int word = (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(word));
    }
    return '?';
}

QChar AnsiChar(int code) {
    code &= 0xFF;
    if (code == 0x80)
        return QChar(0x20AC); // the euro sign is the code page's only single byte above 127
    return QChar(static_cast<char16_t>(code));
}

long HexPrefixValue(const QString& text) {
    long value = 0;
    for (const QChar c : text) {
        const int d = QStringView(&c, 1).toInt(nullptr, 16);
        const bool isHex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!isHex)
            break;
        value = value * 16 + d;
    }
    return value;
}

Password::Password() : m_random([] { return QRandomGenerator::system()->generateDouble(); }) {}

Password::Password(RandomSource random) : m_random(std::move(random)) {}

QString Password::Quorel(const QString& Action, const QString& Key, const QString& Src) const {
    if (Action != QLatin1String("E") && Action != QLatin1String("D"))
        return {};
    if (Key.isEmpty())
        throw Error(QStringLiteral("加密密钥不能为空"));
    const int keyLen = static_cast<int>(Key.size());

    if (Action == QLatin1String("E")) {
        // nearbyint rounds halves to even, as the system's rounding does.
        const long scaled = static_cast<long>(std::nearbyint(m_random() * 10000.0));
        const int seed = static_cast<int>(scaled % 255) + 1;
        QString out = hexUpper(seed);
        if (out.size() == 1)
            out.prepend(QLatin1Char('0'));
        int prev = seed;
        int i = 0;
        for (const QChar c : Src) {
            const int s = AnsiCode(c) + prev;
            int v = s % 255; // C++ keeps the sign of s, as required
            i = i < keyLen ? i + 1 : 1;
            v = static_cast<std::int16_t>(v ^ AnsiCode(Key.at(i - 1)));
            QString h = hex16(v);
            if (h.size() < 2)
                h.prepend(QLatin1Char(' '));
            out += h;
            prev = v;
        }
        return out;
    }

    QString out;
    int prev = static_cast<int>(HexPrefixValue(Src.left(2)));
    int i = 0;
    for (int j = 3; j <= Src.size(); j += 2) {
        const QString t = Src.mid(j - 1, 2).trimmed();
        const int c = static_cast<int>(HexPrefixValue(t));
        i = i < keyLen ? i + 1 : 1;
        const int x = static_cast<std::int16_t>(AnsiCode(Key.at(i - 1)) ^ c);
        const int b = x <= prev ? x + 255 - prev : x - prev;
        out += AnsiChar(b);
        prev = c;
    }
    return out;
}

std::int16_t Password::InStrNum(const QString& SourceStr, const QString& SonStr) const {
    QString rest = SourceStr;
    int n = 0;
    for (;;) {
        const qsizetype a = rest.indexOf(SonStr, 0, Qt::CaseSensitive);
        if (a < 0 || SonStr.isEmpty())
            return static_cast<std::int16_t>(n);
        const qsizetype keep = rest.size() - (a + 1) - 1;
        rest = keep > 0 ? rest.right(keep) : QString();
        if (n == 32767)
            throw Error(QStringLiteral("计数溢出"));
        ++n;
    }
}

std::int16_t Password::InvInStr(const QString& Surstr, const QString& FindStr, const QString& Orient) const {
    int p = 0;
    for (int k = 1; k <= Surstr.size(); ++k) {
        if (Surstr.mid(k - 1, 1) == FindStr)
            p = k;
    }
    if (p == 0)
        return 0;
    if (Orient == QLatin1String("L"))
        return static_cast<std::int16_t>(p);
    return static_cast<std::int16_t>(Surstr.size() - p + 1);
}

} // namespace velda
