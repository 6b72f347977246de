#pragma once

#include "store/Database.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace velda {

// year/month/day without leading zeros: the date text of accounts, check-ins and check-outs.
QString ShortDateText(const QDate& date);

// The DDL of one dialect followed by the reference data, as separate statements.
QStringList SchemaStatements(Dialect dialect);
QStringList ReferenceStatements();

// Creates every table and the reference data in one transaction; an already initialised
// database is refused rather than half-filled a second time.
void InitializeDatabase(Database& db, const QDate& today);
bool HasSchema(const Database& db);

// Creates the schema's tables and indexes that a database made by an older version lacks (they came
// with later versions: indexes for speed, tables for what older clients never stored). Returns how
// many it made; an account that may not create them, or any other refusal, leaves the database as
// it was: slower, and without what the added tables keep.
int AddMissingSchema(Database& db);

// Creates a new local database file readable and writable by its owner only, with the schema
// and reference data. Refuses to touch an existing file.
void CreateLocalDatabase(const QString& path, const QDate& today);

} // namespace velda
