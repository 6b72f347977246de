#pragma once

#include "transfer/FtpClient.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace velda {

// One entry of a folder listing. The time is in UTC; invalid when the server did not say.
struct RemoteEntry {
    QString name;
    RemoteKind kind = RemoteKind::Unknown;
    qint64 size = -1;
    QDateTime modified;
};

// MLSD lines: "fact=value;fact=value; name". The folder itself and its parent (type=cdir, pdir) are
// left out.
std::vector<RemoteEntry> ParseMlsdListing(const QByteArray& listing);

// LIST lines in the usual Unix form ("-rw-r--r-- 1 owner group size Mon DD HH:MM name"), which servers
// without MLSD send. A time without a year lies in the twelve months up to nowUtc. Lines of any other
// form are skipped.
std::vector<RemoteEntry> ParseUnixListing(const QByteArray& listing, const QDateTime& nowUtc);

} // namespace velda
