#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/FtpListing.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>

namespace velda {
namespace {

using test::FtpServer;

TEST(FtpListing, MlsdEntriesKeepNameSizeKindAndUtcTimeAndSkipTheFolderItself) {
    const QByteArray listing = "type=cdir;modify=20240305090703; .\r\n"
                               "type=pdir;modify=20240305090703; ..\r\n"
                               "type=file;size=1234;modify=20240305090703.123;perm=r; 20240305A 1.dwg\r\n"
                               "Type=dir;Modify=20240101000000; 孤立文件\r\n"
                               "type=file;size=0; .a.dwg.1f.part\r\n";
    const auto e = ParseMlsdListing(listing);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].name, QStringLiteral("20240305A 1.dwg"));
    EXPECT_EQ(e[0].kind, RemoteKind::File);
    EXPECT_EQ(e[0].size, 1234);
    EXPECT_EQ(e[0].modified, QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3), Qt::UTC));
    EXPECT_EQ(e[1].name, QStringLiteral("孤立文件"));
    EXPECT_EQ(e[1].kind, RemoteKind::Folder);
    EXPECT_EQ(e[2].size, 0);
    EXPECT_FALSE(e[2].modified.isValid());
}

TEST(FtpListing, UnixListLinesGiveTheYearFromTheClockWhenTheServerLeavesItOut) {
    const QDateTime now(QDate(2024, 1, 10), QTime(12, 0), Qt::UTC);
    const QByteArray listing = "-rw-r--r--    1 ftp      ftp          1234 Jan 09 08:05 a b.dwg\r\n"
                               "-rw-r--r--    1 ftp      ftp            10 Dec 31 23:59 old.dwg\r\n"
                               "-rw-r--r--    1 ftp      ftp            77 Mar 05  2019 older.dwg\n"
                               "drwxr-xr-x    2 ftp      ftp          4096 Jan 01 00:00 孤立文件\n"
                               "total 12\n";
    const auto e = ParseUnixListing(listing, now);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].name, QStringLiteral("a b.dwg"));
    EXPECT_EQ(e[0].size, 1234);
    EXPECT_EQ(e[0].modified, QDateTime(QDate(2024, 1, 9), QTime(8, 5), Qt::UTC));
    EXPECT_EQ(e[1].modified.date(), QDate(2023, 12, 31)); // not a date in the future
    EXPECT_EQ(e[2].modified.date(), QDate(2019, 3, 5));
    EXPECT_EQ(e[3].kind, RemoteKind::Folder);
}

TEST(FtpListing, OneListingOfARealFolderAndAClearFailureForAMissingOne) {
    FtpServer server;
    const QString folder = server.localPath(QStringLiteral("Volume/V1"));
    QDir().mkpath(folder + QStringLiteral("/sub"));
    for (int i = 0; i < 3; ++i) {
        QFile f(folder + QStringLiteral("/f%1.dwg").arg(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(i + 1, 'x'));
    }
    FtpClient client;
    std::vector<RemoteEntry> entries;
    const TransferResult listed = client.List(server.volumeUrl(), QStringLiteral("Volume/V1"), entries);
    ASSERT_TRUE(listed.ok) << listed.message.toStdString();
    std::sort(entries.begin(), entries.end(),
              [](const RemoteEntry& a, const RemoteEntry& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, QStringLiteral("f0.dwg"));
    EXPECT_EQ(entries[2].size, 3);
    EXPECT_LT(std::abs(entries[2].modified.secsTo(QDateTime::currentDateTimeUtc())), 120);
    EXPECT_EQ(entries[3].kind, RemoteKind::Folder);

    const TransferResult missing = client.List(server.volumeUrl(), QStringLiteral("Volume/V9"), entries);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.failure, TransferFailure::RemoteMissing);
    EXPECT_TRUE(missing.message.contains(QStringLiteral("Volume/V9"))) << missing.message.toStdString();
    EXPECT_TRUE(entries.empty());

    // The names alone, as the batch check-out looks for staged files: awkward names come back whole.
    QFile odd(folder + QStringLiteral("/图 纸.dwg.new-12"));
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.close();
    QStringList names{QStringLiteral("stale")};
    const TransferResult named = client.ListNames(server.volumeUrl(), QStringLiteral("Volume/V1"), names);
    ASSERT_TRUE(named.ok) << named.message.toStdString();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("f0.dwg"), QStringLiteral("f1.dwg"), QStringLiteral("f2.dwg"),
                                  QStringLiteral("sub"), QStringLiteral("图 纸.dwg.new-12")}));
    EXPECT_FALSE(client.ListNames(server.volumeUrl(), QStringLiteral("Volume/V9"), names).ok);
    EXPECT_TRUE(names.isEmpty());
}

} // namespace
} // namespace velda
