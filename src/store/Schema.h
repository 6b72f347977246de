#pragma once

#include <QString>
#include <QStringList>

namespace velda {

class Database;

// The program's spelling of a table or column name as a database gives it back. PostgreSQL folds the
// ASCII letters of unquoted names to lower case ("pdm日志", "服务器ip"); the schema's names that hold
// ASCII letters are listed once, and a name not among them is returned as it came.
QString SchemaSpelling(const QString& name);

// The tables of the database, spelled as the program spells them, sorted by name.
QStringList DatabaseTables(const Database& db);

// The columns of a table in the database's own order, spelled as the program spells them. The table
// name must be a plain identifier (letters, digits, "_"); no row is read. Throws Error.
QStringList DatabaseColumns(const Database& db, const QString& table);

} // namespace velda
