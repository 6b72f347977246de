#pragma once

#include "core/Outcome.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace velda {

class Database;

// A table written as a workbook (.xlsx, every cell a text, so codes such as "001" and dates keep
// their form) or, for any other ending, as CSV in UTF-8 with its byte-order mark, which spreadsheet
// programs need to take it as UTF-8.
Outcome WriteTableFile(const QString& path, const QString& sheetName, const QStringList& headers,
                       const QList<QStringList>& rows);

// Every code's part and drawing records, one row a code in code order, under the sixteen field names
// the import matches: a file exported here and edited in a spreadsheet imports back as it stands.
Outcome ExportItemRecords(const Database& db, const QString& path);

} // namespace velda
