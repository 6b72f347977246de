#pragma once

#include "store/Database.h"

#include <QString>
#include <QStringList>

namespace velda {

// The first column of every row a statement (without bound values) returns, as text in the rows' order;
// a NULL reads as an empty text. Throws Error when the statement fails, also while its rows are read.
// On the local file the rows come straight from the SQLite library under Qt's driver: turning every
// row into variants first makes a read of 100,000 codes half again as slow as the query itself.
QStringList FirstColumnTexts(const Database& db, const QString& sql);

} // namespace velda
