#pragma once

// GoogleTest prints values it does not know as byte dumps ("2-byte object <65-51>"); these printers let a
// failed comparison of Qt values read as text. They live in Qt's namespace (the global one), where
// GoogleTest looks them up by argument. Every test file must see them (TestSupport.h and FtpServer.h
// include this header): a file that compares Qt values without them would instantiate GoogleTest's
// byte-dump printer, and the linker may keep that one for the whole program.

#include <QByteArray>
#include <QChar>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QUrl>
#include <QVariant>

#include <ostream>

namespace velda::test {

// Text in double quotes, UTF-8, with quotes, backslashes and control characters escaped.
inline void PrintQuoted(const QByteArray& utf8, std::ostream* os) {
    *os << '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            *os << "\\\"";
            break;
        case '\\':
            *os << "\\\\";
            break;
        case '\n':
            *os << "\\n";
            break;
        case '\r':
            *os << "\\r";
            break;
        case '\t':
            *os << "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                const char* digits = "0123456789abcdef";
                *os << "\\x" << digits[(c >> 4) & 0xf] << digits[c & 0xf];
            } else {
                *os << c;
            }
        }
    }
    *os << '"';
}

} // namespace velda::test

inline void PrintTo(const QString& value, std::ostream* os) {
    if (value.isNull()) {
        *os << "QString()";
        return;
    }
    velda::test::PrintQuoted(value.toUtf8(), os);
}

inline void PrintTo(const QByteArray& value, std::ostream* os) {
    *os << 'b';
    velda::test::PrintQuoted(value, os);
}

inline void PrintTo(const QChar& value, std::ostream* os) {
    *os << '\'' << QString(value).toUtf8().constData() << "' (U+"
        << QByteArray::number(value.unicode(), 16).toUpper().constData() << ')';
}

inline void PrintTo(const QStringList& value, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (i)
            *os << ", ";
        PrintTo(value[i], os);
    }
    *os << '}';
}

inline void PrintTo(const QDate& value, std::ostream* os) {
    *os << (value.isValid() ? value.toString(Qt::ISODate).toUtf8().constData() : "QDate(invalid)");
}

inline void PrintTo(const QTime& value, std::ostream* os) {
    *os << (value.isValid() ? value.toString(Qt::ISODateWithMs).toUtf8().constData() : "QTime(invalid)");
}

inline void PrintTo(const QDateTime& value, std::ostream* os) {
    *os << (value.isValid() ? value.toString(Qt::ISODateWithMs).toUtf8().constData() : "QDateTime(invalid)");
}

inline void PrintTo(const QUrl& value, std::ostream* os) {
    *os << "QUrl(";
    PrintTo(value.toString(), os);
    *os << ')';
}

inline void PrintTo(const QSize& value, std::ostream* os) {
    *os << "QSize(" << value.width() << " x " << value.height() << ')';
}

inline void PrintTo(const QPoint& value, std::ostream* os) {
    *os << "QPoint(" << value.x() << ", " << value.y() << ')';
}

inline void PrintTo(const QRect& value, std::ostream* os) {
    *os << "QRect(" << value.x() << ", " << value.y() << ", " << value.width() << " x " << value.height() << ')';
}

inline void PrintTo(const QVariant& value, std::ostream* os) {
    if (!value.isValid()) {
        *os << "QVariant()";
        return;
    }
    *os << "QVariant(" << value.metaType().name() << ", ";
    if (value.isNull()) {
        *os << "null";
    } else {
        switch (value.metaType().id()) {
        case QMetaType::QString:
            PrintTo(value.toString(), os);
            break;
        case QMetaType::QByteArray:
            PrintTo(value.toByteArray(), os);
            break;
        case QMetaType::QStringList:
            PrintTo(value.toStringList(), os);
            break;
        case QMetaType::QDate:
            PrintTo(value.toDate(), os);
            break;
        case QMetaType::QTime:
            PrintTo(value.toTime(), os);
            break;
        case QMetaType::QDateTime:
            PrintTo(value.toDateTime(), os);
            break;
        case QMetaType::QVariantList: {
            *os << '{';
            const QVariantList items = value.toList();
            for (qsizetype i = 0; i < items.size(); ++i) {
                if (i)
                    *os << ", ";
                PrintTo(items[i], os);
            }
            *os << '}';
            break;
        }
        default:
            if (value.canConvert<QString>())
                *os << value.toString().toUtf8().constData();
            else
                *os << "...";
        }
    }
    *os << ')';
}
