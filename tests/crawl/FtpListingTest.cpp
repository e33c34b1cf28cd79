#include "crawl/FtpListing.h"

#include "EntryText.h"

#include <gtest/gtest.h>

TEST(FtpListing, ReadsMlsdFacts) {
    const QByteArray body = "type=cdir;modify=20240102100000;perm=el; /music\r\n"
                            "type=pdir;modify=20240102100000; ..\r\n"
                            "Type=DIR;Modify=20240102100000;perm=el; Live Sets\r\n"
                            "type=file;size=4200;modify=20231130235959.123;perm=r; a;b c.mp3\r\n"
                            "size=1;type=file; \xC3\xA9.mp3\n"
                            "type=OS.unix=slink:/x;size=1; link\r\n"
                            "type=OS.unix=symlink;modify=20240102100000; self\r\n"
                            "type=OS.unix=socket; sock\r\n"
                            "type=file;size=huge;modify=2023; no size.mp3\r\n"
                            "type=file;size=1; bad\xFF.mp3\r\n"
                            "type=file;size=1; tab\t.mp3\r\n"
                            "no facts here\r\n"
                            "type=file;size=9; a;b c.mp3\r\n";
    const ListingRead read = FtpListing::readMlsd(body);
    EXPECT_EQ(entryLines(read),
              lines({QStringLiteral("Live Sets/ -1 2024-01-02T10:00:00Z"),
                     QStringLiteral("a;b c.mp3 4200 2023-11-30T23:59:59Z"),
                     QStringLiteral("\u00e9.mp3 1 -"), QStringLiteral("link -1 - -> /x"),
                     QStringLiteral("self -1 2024-01-02T10:00:00Z -> self"),
                     QStringLiteral("no size.mp3 -1 -")}));
    EXPECT_EQ(read.error, QString());
    EXPECT_EQ(read.leftOut, 2); // the names that are not UTF-8 or hold a tab
}

TEST(FtpListing, ReadsUnixAndDosListLines) {
    const QDateTime now(QDate(2024, 3, 10), QTime(12, 0), Qt::UTC);
    const QByteArray body =
        "total 24\r\n"
        "drwxr-xr-x    2 ftp      ftp          4096 Jan 01 12:00 Live Sets\r\n"
        "-rw-r--r--    1 ftp      ftp       4200000 Mar 12 08:30 from last year.mp3\r\n"
        "-rw-r--r--    1 ftp      ftp            12 Mar  9 08:30 this year.mp3\r\n"
        "-rw-r--r-- 1 owner 3000000000 Dec 24  2019  two  blanks .mp3\n"
        "lrwxrwxrwx    1 ftp      ftp             9 Feb 02  2023 latest -> Live Sets\r\n"
        "-rw-r--r--    1 ftp      ftp             1 Feb 30  2023 no such day\r\n"
        "drwxr-xr-x    2 ftp      ftp          4096 Jan 01 12:00 .\r\n"
        "-rw-r--r--    1 ftp      ftp             1 Jan 01 12:00 a\\b.mp3\r\n"
        "01-02-24  10:00AM       <DIR>          Old Tapes\r\n"
        "12-31-99  11:59PM                 1234 dos file.mp3\r\n"
        "02-29-2024  12:05AM                  1 leap.mp3\r\n"
        "13-01-24  10:00AM                    1 bad month.mp3\r\n"
        "01-02-24  10:00XM                    1 bad clock.mp3\r\n";
    const ListingRead read = FtpListing::readList(body, now);
    EXPECT_EQ(entryLines(read),
              lines({QStringLiteral("Live Sets/ -1 2024-01-01T12:00:00Z"),
                     QStringLiteral("from last year.mp3 4200000 2023-03-12T08:30:00Z"),
                     QStringLiteral("this year.mp3 12 2024-03-09T08:30:00Z"),
                     QStringLiteral(" two  blanks .mp3 3000000000 2019-12-24T00:00:00Z"),
                     QStringLiteral("latest -1 2023-02-02T00:00:00Z -> Live Sets"),
                     QStringLiteral("no such day 1 -"),
                     QStringLiteral("Old Tapes/ -1 2024-01-02T10:00:00Z"),
                     QStringLiteral("dos file.mp3 1234 1999-12-31T23:59:00Z"),
                     QStringLiteral("leap.mp3 1 2024-02-29T00:05:00Z")}));
}

TEST(FtpListing, StopsAfterTheEntryLimit) {
    QByteArray body;
    body.reserve(4'000'000);
    for (int i = 0; i <= ListingCollector::kMaxEntries; ++i)
        body += "type=file;size=1; " + QByteArray::number(i) + "\r\n";
    const ListingRead read = FtpListing::readMlsd(body);
    EXPECT_EQ(read.error, QStringLiteral("more than 100000 entries"));
    EXPECT_EQ(read.entries.size(), 100000);
}
