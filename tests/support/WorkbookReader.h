#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace velda::test {

// Reads back an .xlsx workbook: the sheet names and, of the first sheet, every cell's text by its
// reference ("A1"), the merged ranges and the manual page breaks. Unpacks with the program's own zip reader.
class WorkbookReader final {
public:
    explicit WorkbookReader(const QString& path);

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    const QStringList& sheetNames() const { return m_sheets; }
    QString cell(const QString& ref) const { return m_cells.value(ref); }
    // Row and column counted from 1.
    QString cell(int row, int col) const;
    int lastRow() const { return m_lastRow; }
    const QStringList& merges() const { return m_merges; }
    // Rows after which a new page starts.
    const QList<int>& rowBreaks() const { return m_breaks; }
    QString printArea() const { return m_printArea; }

    static QString columnName(int col);

private:
    QByteArray member(const QString& path, const QString& name);

    QString m_error;
    QStringList m_sheets;
    QHash<QString, QString> m_cells;
    QStringList m_merges;
    QList<int> m_breaks;
    QString m_printArea;
    int m_lastRow = 0;
};

} // namespace velda::test
