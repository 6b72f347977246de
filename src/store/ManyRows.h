#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class QSqlQuery;

namespace velda {

class Database;

// Statements over many keys or rows take them in slices, far below either database's limit on bound
// values. The local file's are smaller: Qt hands SQLite every mark as a named one, and SQLite finds
// each name by a search through those before it, so a statement costs the square of its marks; the
// server's cost is its round trips (three a statement through Qt), so its slices are larger.
int SliceSize(const Database& db);

// n bound-value marks separated by commas: "?,?,?".
QString Marks(qsizetype n);

// Runs the select for each slice of keys and hands each answered row to row; sql holds %1 where the
// slice's marks go, and the keys follow the values given before them.
void SelectSliced(Database& db, const QString& sql, const QVariantList& before, const QStringList& keys,
                  const std::function<void(const QSqlQuery&)>& row);

// Rows into a table in a few statements; each row holds a value for each column. tail follows the
// values (a returning clause) and answer, when given, reads each statement's rows.
void InsertRows(Database& db, const QString& table, const QStringList& columns, const QList<QVariantList>& rows,
                const QString& tail = {}, const std::function<void(QSqlQuery&)>& answer = {});

} // namespace velda
