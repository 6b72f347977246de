#include "WorkbookReader.h"

#include "core/SheetFile.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace velda::test {

QByteArray WorkbookReader::member(const QString& path, const QString& name) {
    const std::optional<QByteArray> bytes = ZipMember(path, name);
    if (!bytes) {
        m_error = QStringLiteral("cannot unpack %1 from %2").arg(name, path);
        return {};
    }
    return *bytes;
}

QString WorkbookReader::columnName(int col) {
    QString name;
    for (int c = col; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

QString WorkbookReader::cell(int row, int col) const { return cell(columnName(col) + QString::number(row)); }

WorkbookReader::WorkbookReader(const QString& path) {
    {
        QXmlStreamReader x(member(path, QStringLiteral("xl/workbook.xml")));
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == QLatin1String("sheet"))
                m_sheets << x.attributes().value(QStringLiteral("name")).toString();
            else if (x.name() == QLatin1String("definedName") &&
                     x.attributes().value(QStringLiteral("name")) == QLatin1String("_xlnm.Print_Area"))
                m_printArea = x.readElementText();
        }
    }
    QStringList shared;
    {
        QXmlStreamReader x(member(path, QStringLiteral("xl/sharedStrings.xml")));
        QString current;
        bool inSi = false;
        while (!x.atEnd()) {
            const auto t = x.readNext();
            if (t == QXmlStreamReader::StartElement && x.name() == QLatin1String("si")) {
                inSi = true;
                current.clear();
            } else if (t == QXmlStreamReader::StartElement && x.name() == QLatin1String("t") && inSi) {
                current += x.readElementText();
            } else if (t == QXmlStreamReader::EndElement && x.name() == QLatin1String("si")) {
                shared << current;
                inSi = false;
            }
        }
    }
    QXmlStreamReader x(member(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString ref, type;
    while (!x.atEnd()) {
        const auto t = x.readNext();
        if (t != QXmlStreamReader::StartElement)
            continue;
        if (x.name() == QLatin1String("c")) {
            ref = x.attributes().value(QStringLiteral("r")).toString();
            type = x.attributes().value(QStringLiteral("t")).toString();
            static const QRegularExpression digits(QStringLiteral("\\d+$"));
            m_lastRow = std::max(m_lastRow, digits.match(ref).captured().toInt());
        } else if (x.name() == QLatin1String("v")) {
            const QString v = x.readElementText();
            m_cells.insert(ref, type == QLatin1String("s") ? shared.value(v.toInt()) : v);
        } else if (x.name() == QLatin1String("mergeCell")) {
            m_merges << x.attributes().value(QStringLiteral("ref")).toString();
        } else if (x.name() == QLatin1String("brk")) {
            m_breaks << x.attributes().value(QStringLiteral("id")).toInt();
        }
    }
    if (m_sheets.isEmpty() && m_error.isEmpty())
        m_error = QStringLiteral("%1 holds no sheet").arg(path);
}

} // namespace velda::test
