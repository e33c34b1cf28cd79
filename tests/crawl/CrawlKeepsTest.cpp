// What a walk keeps when part of a server fails it, and links back up, against nginx and
// smbd on 127.0.0.1.
#include "CrawlRun.h"
#include "searchd/fileservers/SmbServer.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CrawlSite.h"
#include "support/LocalServerProcess.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <utime.h>

namespace {

// Writes sample k of a small library at path below root (folders made as needed).
void writeSample(const QString& root, const QString& path, int k) {
    QDir(root).mkpath(QFileInfo(QDir(root).filePath(path)).path());
    QFile file(QDir(root).filePath(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(SampleLibrary::content(SampleLibrary::plan(8)[k]));
}

void setModified(const QString& path, qint64 seconds) {
    const utimbuf times{seconds, seconds};
    ASSERT_EQ(utime(QFile::encodeName(path).constData(), &times), 0) << path.toStdString();
}

QString touchFlag(const QString& path) {
    QFile flag(path);
    EXPECT_TRUE(flag.open(QIODevice::WriteOnly));
    return path;
}

// Crawls on a thread until ready() holds for the source's progress, then calls then().
template <typename Ready, typename Then> void crawlUntil(Crawler& crawler, Ready ready, Then then) {
    std::thread walk([&] { crawler.crawlOnce(); });
    while (!ready(crawler.states().value(0).progress))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    then();
    walk.join();
}

} // namespace

// One unreadable folder keeps what lies below it and nothing else: a folder deleted elsewhere
// leaves the index. A file whose head cannot be read keeps its old size, quality and tags,
// counts as a file (not a folder), and is read again by the next walk.
TEST(CrawlerKeeps, AnUnreadableFolderOrFileKeepsOnlyItsOwn) {
    QTemporaryDir library, flags;
    for (const auto& [path, k] : {std::pair("Gone/a.mp3", 1), std::pair("Locked/b.mp3", 2),
                                  std::pair("Locked/Sub/c.mp3", 3), std::pair("Open/d.mp3", 5)})
        writeSample(library.path(), path, k);
    const QString flag = flags.filePath("locked");
    LocalServerProcess nginx(
        "/usr/sbin/nginx",
        NginxConfig(library.path(), QStringLiteral("    autoindex on;\n"
                                                   "    location ^~ /Locked/ { autoindex on; "
                                                   "if (-e %1) { return 403; } }\n"
                                                   "    location = /Open/d.mp3 { "
                                                   "if (-e %1) { return 403; } }\n")
                                        .arg(flag)));
    ASSERT_EQ(nginx.start(), QString());
    const CrawlSource source = sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port()));
    MemorySink sink;
    crawlOnce({source}, sink);
    const QMap<QString, CrawledFile> before = sink.files(source.id);
    ASSERT_EQ(before.keys(),
              QStringList({"Gone/a.mp3", "Locked/Sub/c.mp3", "Locked/b.mp3", "Open/d.mp3"}));

    touchFlag(flag);
    ASSERT_TRUE(QDir(library.filePath("Gone")).removeRecursively());
    QFile grown(library.filePath("Open/d.mp3"));
    ASSERT_TRUE(grown.open(QIODevice::Append));
    grown.write(QByteArray(1000, '\0'));
    grown.close();
    const CrawlRun run = crawlOnce({source}, sink);
    const QMap<QString, CrawledFile> after = sink.files(source.id);
    EXPECT_EQ(after.keys(), QStringList({"Locked/Sub/c.mp3", "Locked/b.mp3", "Open/d.mp3"}));
    for (const QString& path : after.keys()) {
        SCOPED_TRACE(path.toStdString());
        const CrawledFile& old = before.value(path);
        const CrawledFile& kept = after.value(path);
        EXPECT_EQ(std::tuple(kept.size, kept.headRead, kept.head.frame.bitrate, kept.head.title),
                  std::tuple(old.size, true, old.head.frame.bitrate, old.head.title));
    }
    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(std::tuple(result.finished, result.lastErrors, result.fileErrors, result.stale),
              std::tuple(2, 1, 1, false));
    EXPECT_EQ(run.states[0].progress.errors, 2);

    ASSERT_TRUE(QFile::remove(flag));
    crawlOnce({source}, sink);
    EXPECT_EQ(sink.files(source.id).value("Open/d.mp3").size,
              before.value("Open/d.mp3").size + 1000);
    EXPECT_EQ(sink.source(source.id).fileErrors, 0);
}

// An SMB server that stops while a recrawl reads heads again: the walk ends as stale after
// the failures in a row, and every file keeps its quality reading, the new ones read before
// the stop and the old ones of the rest.
TEST(CrawlerKeeps, AnSmbServerThatStopsMidRecrawlKeepsEveryReading) {
    QTemporaryDir library, state;
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i)
        writeSample(library.path(), QStringLiteral("Many/song %1.mp3").arg(i, 3, 10, QChar('0')),
                    i % 8);
    auto smb = std::make_unique<SmbServer>(library.path(), QStringLiteral("mp3"), state.path());
    const CrawlSource source =
        sourceFor(QStringLiteral("smb://127.0.0.1:%1/mp3/").arg(smb->port()));
    MemorySink sink;
    crawlOnce({source}, sink);
    ASSERT_EQ(sink.files(source.id).size(), kFiles);

    QDirIterator it(library.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        setModified(it.next(), 1600000000); // every head is read again
    CrawlLimits limits;
    limits.maxFailuresInARow = 4;
    Crawler crawler({source}, sink, limits, [](const QString&) {});
    crawlUntil(
        crawler, [](const CrawlProgress& p) { return p.heads >= 20 || p.lastFinished.isValid(); },
        [&] { smb.reset(); });

    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(std::tuple(result.finished, result.abandoned, result.stale), std::tuple(1, 1, true));
    EXPECT_TRUE(result.reason.startsWith("the server stopped answering ("))
        << result.reason.toStdString();
    const QMap<QString, CrawledFile> files = sink.files(source.id);
    EXPECT_EQ(files.size(), kFiles);
    int newDates = 0;
    for (const CrawledFile& file : files) {
        EXPECT_TRUE(file.headRead && file.head.hasQuality()) << file.path.toStdString();
        newDates += file.modified.toSecsSinceEpoch() == 1600000000 ? 1 : 0;
    }
    EXPECT_GE(newDates, 20);
    EXPECT_LT(newDates, kFiles);
    EXPECT_EQ(sink.source(source.id).folders.value("Many").fingerprint, QByteArray());
}

// A first walk stopped inside a large folder keeps the heads it read (the source marked
// stale), and the next walk reads only the others.
TEST(CrawlerKeeps, AFirstWalkStoppedInALargeFolderKeepsItsHeadsAndGoesOn) {
    QTemporaryDir library;
    constexpr int kFiles = 600;
    writeSample(library.path(), "Big/0000.mp3", 3);
    for (int i = 1; i < kFiles; ++i) // links: one file's bytes, many names
        ASSERT_EQ(
            ::link(QFile::encodeName(library.filePath("Big/0000.mp3")).constData(),
                   QFile::encodeName(
                       library.filePath(QStringLiteral("Big/%1.mp3").arg(i, 4, 10, QChar('0'))))
                       .constData()),
            0);
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    const CrawlSource source = sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port()));
    MemorySink sink;
    {
        Crawler crawler({source}, sink, {}, [](const QString&) {});
        crawlUntil(
            crawler,
            [](const CrawlProgress& p) { return p.heads >= 50 || p.lastFinished.isValid(); },
            [&] { crawler.stop(); });
    }
    const MemorySink::Source first = sink.source(source.id);
    EXPECT_EQ(std::tuple(first.finished, first.abandoned, first.stale), std::tuple(0, 1, true));
    QMap<QString, CrawledFile> files = sink.files(source.id);
    EXPECT_EQ(files.size(), kFiles);
    QSet<QString> read;
    for (const CrawledFile& file : files)
        if (file.headRead)
            read.insert(file.path);
    EXPECT_GE(read.size(), 50);
    EXPECT_LT(read.size(), kFiles);

    const qsizetype logged = nginx.readFile("access.log").count('\n');
    crawlOnce({source}, sink);
    EXPECT_EQ(sink.source(source.id).finished, 1);
    files = sink.files(source.id);
    for (const CrawledFile& file : files)
        EXPECT_TRUE(file.headRead) << file.path.toStdString();
    const QList<QByteArray> asked = nginx.readFile("access.log").split('\n').mid(logged);
    for (const QByteArray& line : asked)
        for (const QString& path : read)
            ASSERT_FALSE(line.startsWith("GET /" + path.toUtf8() + " "))
                << "read again: " << line.toStdString();
}

// A folder holding "self -> ." and "inner/up -> ..": the links lead back to folders walked
// already, whose listings they repeat; they are not entered, each file is found once, and
// the memory stays flat. nginx (which follows links unless disable_symlinks says otherwise)
// and smbd (follow symlinks = yes).
TEST(CrawlerLoops, LinksBackUpAreNotEntered) {
    QTemporaryDir library, state;
    writeSample(library.path(), "Top/top.mp3", 1);
    writeSample(library.path(), "Top/inner/inner.mp3", 2);
    ASSERT_TRUE(QFile::link(".", library.filePath("Top/self")));
    ASSERT_TRUE(QFile::link("..", library.filePath("Top/inner/up")));
    LocalServerProcess nginx("/usr/sbin/nginx",
                             NginxConfig(library.path(), "    autoindex on;\n"
                                                         "    disable_symlinks off;"));
    ASSERT_EQ(nginx.start(), QString());
    SmbServer smb(library.path(), QStringLiteral("mp3"), state.path());
    CrawlLimits limits;
    limits.maxPages = 2000; // a walk that enters the links ends there, not minutes later
    for (const QString& url : {QStringLiteral("http://127.0.0.1:%1/Top/").arg(nginx.port()),
                               QStringLiteral("smb://127.0.0.1:%1/mp3/Top/").arg(smb.port())}) {
        SCOPED_TRACE(url.toStdString());
        const CrawlSource source = sourceFor(url);
        MemorySink sink;
        const qint64 before = residentBytes();
        const CrawlRun run = crawlOnce({source}, sink, limits);
        const qint64 growth = residentBytes() - before;
        EXPECT_LT(growth, 100ll << 20);
        RecordProperty(url.startsWith("smb") ? "smb_growth_kib" : "http_growth_kib",
                       int(growth / 1024));
        EXPECT_EQ(sink.files(source.id).keys(), QStringList({"inner/inner.mp3", "top.mp3"}));
        EXPECT_EQ(sink.source(source.id).folders.keys(), QStringList({"", "inner"}));
        ASSERT_EQ(run.states.size(), 1);
        EXPECT_EQ(run.states[0].progress.pages, 4); // Top, self, inner, inner/up
        EXPECT_EQ(run.states[0].progress.lastErrors,
                  QStringList({"2 folders repeat an ancestor's listing (links back up) and were "
                               "not entered"}));
    }
}
