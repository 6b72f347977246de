#pragma once

#include "store/Database.h"

#include <QSqlDriver>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <utility>

#include <dlfcn.h>

namespace velda::test {

// The statements a PostgreSQL connection sends while work runs, read from libpq's own trace: what a
// client pays in round trips. libpq is found among the libraries already loaded, so the
// tests need no headers of it. Empty on SQLite.
inline QStringList StatementsSent(Database& db, const std::function<void()>& work) {
    using Trace = void (*)(void*, FILE*);
    using Untrace = void (*)(void*);
    void* libpq = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
    const auto trace = libpq ? reinterpret_cast<Trace>(::dlsym(libpq, "PQtrace")) : nullptr;
    const auto untrace = libpq ? reinterpret_cast<Untrace>(::dlsym(libpq, "PQuntrace")) : nullptr;
    const QVariant handle = db.handle().driver()->handle();
    const QByteArray type = handle.typeName();
    void* connection = type == "PGconn*" || type == "pg_conn*" ? *static_cast<void* const*>(handle.data()) : nullptr;
    FILE* file = connection && trace && untrace ? std::tmpfile() : nullptr;
    if (file)
        trace(connection, file);
    work();
    QStringList sent;
    if (file) {
        untrace(connection);
        std::rewind(file);
        char line[8192];
        // "<time>\tF\t<length>\t<message>\t<fields>": what the client sent. A simple query is one
        // round trip; so is each run of extended-protocol messages up to its Sync, named here by the
        // texts it parsed (several when reads went together) or else the prepared statement it bound.
        QString pending;
        while (std::fgets(line, sizeof line, file)) {
            const QString text = QString::fromUtf8(line);
            if (!text.contains(QLatin1String("\tF\t")))
                continue;
            const QString message = text.section(u'\t', 3, 3).trimmed();
            const QString fields = text.section(u'\t', 4).trimmed();
            if (message == QLatin1String("Query"))
                sent << fields;
            else if (message == QLatin1String("Parse"))
                pending += (pending.isEmpty() ? QString() : QStringLiteral("; ")) + fields;
            else if (message == QLatin1String("Bind") && pending.isEmpty())
                pending = fields;
            else if (message == QLatin1String("Sync"))
                sent << std::exchange(pending, QString());
        }
        std::fclose(file);
    }
    if (libpq)
        ::dlclose(libpq);
    return sent;
}

} // namespace velda::test
