#pragma once

#include "store/Database.h"

#include <QString>

namespace velda {

// Settings an office makes once for every client (lock-out numbers, how many versions to keep,
// whether to ask before changing a used part), kept in the database so that every client and
// every restart sees the same value. A name that was never set reads as its default.
class OfficeSettings final {
public:
    explicit OfficeSettings(Database& db) : m_db(db) {}

    QString text(const QString& name, const QString& fallback = QString()) const;
    // A stored value that is not a whole number reads as the default: a hand-edited row must not
    // turn a limit into zero.
    qint64 number(const QString& name, qint64 fallback) const;
    bool flag(const QString& name, bool fallback) const;

    // Throws Error.
    void set(const QString& name, const QString& value);
    void setNumber(const QString& name, qint64 value) { set(name, QString::number(value)); }
    void setFlag(const QString& name, bool value) { set(name, value ? QStringLiteral("1") : QStringLiteral("0")); }

private:
    Database& m_db;
};

} // namespace velda
