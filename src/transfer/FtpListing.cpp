#include "transfer/FtpListing.h"

#include <QList>
#include <QTimeZone>

namespace velda {

namespace {

QList<QByteArray> Lines(const QByteArray& listing) {
    QList<QByteArray> lines = listing.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

QDateTime MlsdTime(const QByteArray& value) {
    // YYYYMMDDHHMMSS, possibly followed by fractions of a second.
    const QString text = QString::fromLatin1(value.left(14));
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyyMMddHHmmss"));
    if (!t.isValid())
        return {};
    t.setTimeSpec(Qt::UTC);
    return t;
}

int MonthOf(const QByteArray& name) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray lower = name.toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == kMonths[i])
            return i + 1;
    }
    return 0;
}

} // namespace

std::vector<RemoteEntry> ParseMlsdListing(const QByteArray& listing) {
    std::vector<RemoteEntry> entries;
    for (const QByteArray& line : Lines(listing)) {
        const qsizetype gap = line.indexOf(' ');
        if (gap < 0)
            continue;
        RemoteEntry e;
        e.name = QString::fromUtf8(line.mid(gap + 1));
        if (e.name.isEmpty())
            continue;
        bool skip = false;
        for (const QByteArray& fact : line.left(gap).split(';')) {
            const qsizetype eq = fact.indexOf('=');
            if (eq < 0)
                continue;
            const QByteArray key = fact.left(eq).toLower();
            const QByteArray value = fact.mid(eq + 1);
            if (key == "type") {
                const QByteArray type = value.toLower();
                if (type == "file")
                    e.kind = RemoteKind::File;
                else if (type == "dir")
                    e.kind = RemoteKind::Folder;
                else if (type == "cdir" || type == "pdir")
                    skip = true;
            } else if (key == "size") {
                bool ok = false;
                const qint64 size = value.toLongLong(&ok);
                if (ok)
                    e.size = size;
            } else if (key == "modify") {
                e.modified = MlsdTime(value);
            }
        }
        if (!skip)
            entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<RemoteEntry> ParseUnixListing(const QByteArray& listing, const QDateTime& nowUtc) {
    std::vector<RemoteEntry> entries;
    for (const QByteArray& line : Lines(listing)) {
        if (line.isEmpty() || !QByteArray("-dl").contains(line.at(0)))
            continue;
        // Eight fields, then the name, which may hold blanks of its own.
        QList<QByteArray> fields;
        qsizetype at = 0;
        while (fields.size() < 8 && at < line.size()) {
            while (at < line.size() && line.at(at) == ' ')
                ++at;
            qsizetype end = line.indexOf(' ', at);
            if (end < 0)
                end = line.size();
            fields << line.mid(at, end - at);
            at = end;
        }
        if (fields.size() < 8 || at >= line.size())
            continue;
        RemoteEntry e;
        e.name = QString::fromUtf8(line.mid(at + 1));
        if (e.name.isEmpty() || e.name == QLatin1String(".") || e.name == QLatin1String(".."))
            continue;
        if (line.at(0) == 'l')
            e.name = e.name.section(QStringLiteral(" -> "), 0, 0);
        e.kind = line.at(0) == 'd' ? RemoteKind::Folder : RemoteKind::File;
        bool ok = false;
        const qint64 size = fields.at(4).toLongLong(&ok);
        if (ok)
            e.size = size;
        const int month = MonthOf(fields.at(5));
        const int day = fields.at(6).toInt();
        const QByteArray last = fields.at(7);
        if (month > 0 && day > 0) {
            if (last.contains(':')) {
                const QTime time = QTime::fromString(QString::fromLatin1(last), QStringLiteral("H:mm"));
                int year = nowUtc.date().year();
                QDateTime t(QDate(year, month, day), time, Qt::UTC);
                if (t > nowUtc.addDays(1))
                    t = QDateTime(QDate(year - 1, month, day), time, Qt::UTC);
                e.modified = t;
            } else {
                e.modified = QDateTime(QDate(last.toInt(), month, day), QTime(0, 0), Qt::UTC);
            }
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace velda
