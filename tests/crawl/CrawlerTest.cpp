// The crawler against real servers on 127.0.0.1: nginx, lighttpd, python3 http.server,
// pyftpdlib and smbd serving one sample library, and a scripted server with awkward folders.
#include "crawl/Crawler.h"
#include "CrawlRun.h"
#include "MemorySink.h"
#include "crawl/CrawlSources.h"
#include "crawl/FileHeadReader.h"
#include "searchd/fileservers/FileServers.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CliProcess.h"
#include "support/CrawlSite.h"
#include "support/LocalServerProcess.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

QStringList requestLog(const LocalServerProcess& server) {
    return QString::fromUtf8(server.readFile("requests.log")).split('\n', Qt::SkipEmptyParts);
}

LocalServerProcess::Configure lighttpdConfig(const QString& root) {
    return [root](const QString& folder, unsigned short port) {
        const QString config = QStringLiteral("server.document-root = \"%1\"\n"
                                              "server.bind = \"127.0.0.1\"\nserver.port = %2\n"
                                              "server.errorlog = \"%3/error.log\"\n"
                                              "server.modules = (\"mod_dirlisting\")\n"
                                              "dir-listing.activate = \"enable\"\n"
                                              "mimetype.assign = (\".mp3\" => \"audio/mpeg\")\n")
                                   .arg(root)
                                   .arg(port)
                                   .arg(folder);
        QFile file(QDir(folder).filePath("lighttpd.conf"));
        if (file.open(QIODevice::WriteOnly))
            file.write(config.toUtf8());
        return QStringList{"-D", "-f", file.fileName()};
    };
}

// python3's http.server logs every request on standard error: that goes nowhere, or the
// pipe nobody reads would fill and stop the server.
LocalServerProcess::Configure pythonHttpServer(const QString& root) {
    return [root](const QString&, unsigned short port) {
        return QStringList{"-c",
                           "exec /usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "
                           "\"$0\" \"$1\" >/dev/null 2>&1",
                           root, QString::number(port)};
    };
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

// Every server's walk finds every sample file with its size and the same quality and tags a
// reader of the whole file finds.
TEST(CrawlerServers, EveryServerGivesEveryFileWithItsQuality) {
    QTemporaryDir library;
    SampleLibrary::write(library.path(), 497);
    // Names that need encoding in a URL: '%', '#', '&', ';', brackets, letters beyond ASCII.
    const QList<SampleLibrary::SampleFile> plan = SampleLibrary::plan(3);
    const QStringList odd = {"Jazz/100% Pure #1 & Co - Ça va.mp3", "Rock/What; Why [live] Zoë.mp3",
                             "Électro #2/Ångström %41.mp3"};
    for (int i = 0; i < odd.size(); ++i) {
        QDir(library.path()).mkpath(QFileInfo(odd[i]).path());
        QFile file(library.filePath(odd[i]));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(SampleLibrary::content(plan[i]));
    }
    QMap<QString, QByteArray> files; // path -> content
    QDirIterator it(library.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(library.path()).relativeFilePath(path), readAll(path));
    }
    ASSERT_EQ(files.size(), 500);

    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    LocalServerProcess lighttpd("/usr/sbin/lighttpd", lighttpdConfig(library.path()));
    LocalServerProcess python("/bin/sh", pythonHttpServer(library.path()));
    for (LocalServerProcess* server : {&nginx, &lighttpd, &python})
        ASSERT_EQ(server->start(), QString());
    FileServers ftpAndSmb(library.path(), "mp3", true, true);
    ASSERT_EQ(ftpAndSmb.problems(), QStringList());

    const QList<CrawlSource> sources = {
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port())),
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(lighttpd.port())),
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(python.port())),
        sourceFor(QStringLiteral("ftp://127.0.0.1:%1/").arg(ftpAndSmb.ftp()->port())),
        sourceFor(QStringLiteral("smb://127.0.0.1:%1/mp3/").arg(ftpAndSmb.smb()->port())),
    };
    MemorySink sink;
    crawlOnce(sources, sink);
    for (const CrawlSource& source : sources) {
        SCOPED_TRACE(source.id.toStdString());
        const MemorySink::Source result = sink.source(source.id);
        EXPECT_EQ(result.finished, 1);
        EXPECT_EQ(result.abandoned, 0) << result.reason.toStdString();
        EXPECT_EQ(result.lastErrors, 0);
        const QMap<QString, CrawledFile> found = sink.files(source.id);
        EXPECT_EQ(found.keys(), files.keys());
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            const CrawledFile crawled = found.value(file.key());
            const QByteArray& bytes = file.value();
            const FileHead whole = FileHeadReader::read(bytes, bytes.size(), bytes.right(128));
            SCOPED_TRACE(file.key().toStdString());
            EXPECT_EQ(crawled.size, bytes.size());
            EXPECT_TRUE(crawled.headRead);
            EXPECT_EQ(crawled.head.frame.error, whole.frame.error);
            EXPECT_EQ(crawled.head.frame.bitrate, whole.frame.bitrate);
            EXPECT_EQ(crawled.head.frame.sampleRate, whole.frame.sampleRate);
            EXPECT_EQ(crawled.head.frame.mode, whole.frame.mode);
            EXPECT_EQ(crawled.head.frame.headerOffset, whole.frame.headerOffset);
            EXPECT_EQ(crawled.head.artist, whole.artist);
            EXPECT_EQ(crawled.head.title, whole.title);
        }
    }
}

// FTP and HTTP sources walked together, again and again: no HTTP transfer meets an FTP
// connection (libcurl 7.88 gave an HTTP read that closed an idle FTP connection the FTP
// server's "221"). The recrawls keep the FTP folders from their listings (their connections
// stay open) and read python's heads again (its listings have no dates).
TEST(CrawlerServers, FtpAndHttpTogetherRecrawlWithoutReadErrors) {
    QTemporaryDir library;
    SampleLibrary::write(library.path(), 120);
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    LocalServerProcess lighttpd("/usr/sbin/lighttpd", lighttpdConfig(library.path()));
    LocalServerProcess python("/bin/sh", pythonHttpServer(library.path()));
    for (LocalServerProcess* server : {&nginx, &lighttpd, &python})
        ASSERT_EQ(server->start(), QString());
    FileServers ftp(library.path(), "mp3", true, false);
    ASSERT_EQ(ftp.problems(), QStringList());
    const QList<CrawlSource> sources = {
        sourceFor(QStringLiteral("ftp://127.0.0.1:%1/").arg(ftp.ftp()->port())),
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port())),
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(lighttpd.port())),
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(python.port())),
    };
    CrawlLimits limits;
    limits.idleConnections = 2; // closes idle connections while others run
    MemorySink sink;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const CrawlRun run = crawlOnce(sources, sink, limits);
        for (const Crawler::SourceState& state : run.states) {
            SCOPED_TRACE(state.source.id.toStdString());
            EXPECT_EQ(state.progress.errors, 0)
                << state.progress.lastErrors.join('\n').toStdString();
            EXPECT_EQ(sink.source(state.source.id).lastErrors, 0);
            EXPECT_EQ(sink.files(state.source.id).size(), 120);
        }
        EXPECT_EQ(run.states.last().progress.heads, 120);
    }
}

// Awkward folders: each is handled and the walk goes on.
TEST(CrawlerHostile, LoopsDepthHugeSlowRobotsAndBusyFolders) {
    LocalServerProcess site("/usr/bin/python3", crawlServerSite());
    ASSERT_EQ(site.start(), QString());
    const CrawlSource source =
        sourceFor(QStringLiteral("http://127.0.0.1:%1/site/").arg(site.port()));
    CrawlLimits limits;
    limits.maxDepth = 3;
    limits.lowSpeedTime = std::chrono::seconds(2);
    MemorySink sink;
    const CrawlRun crawled = crawlOnce({source}, sink, limits);

    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(result.finished, 1);
    EXPECT_EQ(result.lastErrors, 3); // huge, slow, away
    EXPECT_EQ(sink.files(source.id).keys(),
              QStringList({"a.mp3", "busy/b.mp3", "deep/d/d/f3.mp3", "deep/d/f2.mp3", "deep/f1.mp3",
                           "loop/x.mp3"}));
    EXPECT_EQ(result.folders.keys(),
              QStringList({"", "busy", "deep", "deep/d", "deep/d/d", "loop"}));

    QStringList asked = requestLog(site);
    asked.removeAll("/site/a.mp3");
    asked.removeAll("/site/busy/b.mp3");
    asked.removeAll("/site/loop/x.mp3");
    asked.removeAll("/site/deep/f1.mp3");
    asked.removeAll("/site/deep/d/f2.mp3");
    asked.removeAll("/site/deep/d/d/f3.mp3");
    asked.sort();
    EXPECT_EQ(asked,
              QStringList({"/robots.txt", "/site/", "/site/away/", "/site/busy/", "/site/busy/",
                           "/site/deep/", "/site/deep/d/", "/site/deep/d/d/", "/site/huge/",
                           "/site/loop/", "/site/loop/again/", "/site/slow/"}));

    const QString base = CrawlSources::shown(source.url);
    const CrawlRun& run = crawled;
    ASSERT_EQ(run.states.size(), 1);
    QStringList errors = run.states[0].progress.lastErrors;
    errors.sort();
    EXPECT_EQ(errors.join('\n'), QStringList({"folders deeper than 3 were not walked",
                                              base + "away/: redirected outside the source",
                                              base + "huge/: listing larger than 32 MiB",
                                              base + "slow/: Timeout was reached"})
                                     .join('\n'));
    EXPECT_EQ(run.states[0].progress.errors, 3);
    EXPECT_FALSE(run.states[0].progress.stale);
    EXPECT_TRUE(run.lines.last().startsWith("crawl of " + base + " finished after "))
        << run.lines.last().toStdString();
}

// A server that goes away in the middle of a walk: the old entries stay, marked stale.
TEST(CrawlerHostile, ServerGoneMidWalkKeepsOldEntriesStale) {
    LocalServerProcess site("/usr/bin/python3", crawlServerSite());
    ASSERT_EQ(site.start(), QString());
    const CrawlSource source =
        sourceFor(QStringLiteral("http://127.0.0.1:%1/gone/").arg(site.port()));
    CrawlLimits limits;
    limits.maxFailuresInARow = 3;
    MemorySink sink;
    crawlOnce({source}, sink, limits);
    const QStringList all = {"five/inner.mp3",  "four/inner.mp3", "one/inner.mp3",
                             "three/inner.mp3", "top.mp3",        "two/inner.mp3"};
    ASSERT_EQ(sink.files(source.id).keys(), all);

    QFile die(QDir(site.folder()).filePath("die"));
    ASSERT_TRUE(die.open(QIODevice::WriteOnly));
    die.close();
    const CrawlRun run = crawlOnce({source}, sink, limits);
    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(result.abandoned, 1);
    EXPECT_EQ(result.finished, 1);
    EXPECT_TRUE(result.stale);
    EXPECT_TRUE(result.reason.startsWith("the server stopped answering ("))
        << result.reason.toStdString();
    EXPECT_EQ(sink.files(source.id).keys(), all);
    EXPECT_TRUE(run.states[0].progress.stale);
}

// Added, changed and removed files show after the next walk; an unchanged folder is kept
// from its listing alone.
TEST(CrawlerServers, RecrawlFollowsChanges) {
    QTemporaryDir library;
    SampleLibrary::write(library.path(), 40);
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    const CrawlSource source = sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port()));
    MemorySink sink;
    crawlOnce({source}, sink);
    const QMap<QString, CrawledFile> before = sink.files(source.id);
    ASSERT_EQ(before.size(), 40);
    const int folders = sink.source(source.id).folders.size();

    // Jazz changes; the other folders stay as they were.
    const QString removed = before.keys().filter("Jazz/").first();
    const QString changed = before.keys().filter("Jazz/").last();
    ASSERT_TRUE(QFile::remove(library.filePath(removed)));
    QFile grown(library.filePath(changed));
    ASSERT_TRUE(grown.open(QIODevice::Append));
    grown.write(QByteArray(1000, '\0'));
    grown.close();
    ASSERT_TRUE(QFile::copy(library.filePath(changed), library.filePath("Jazz/New Song.mp3")));
    crawlOnce({source}, sink);

    const QMap<QString, CrawledFile> after = sink.files(source.id);
    EXPECT_FALSE(after.contains(removed));
    EXPECT_EQ(after.value(changed).size, before.value(changed).size + 1000);
    EXPECT_EQ(after.value("Jazz/New Song.mp3").size, before.value(changed).size + 1000);
    EXPECT_TRUE(after.value("Jazz/New Song.mp3").headRead);
    EXPECT_EQ(after.size(), 40);
    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(result.stored, 1);
    EXPECT_EQ(result.kept, folders - 1);
}

// A tree whose every folder lists 5000 more with long names: the folders queued count
// against the page limit, the walk ends there keeping the old entries, and the memory stays
// flat (the watch stops the crawl if it does not).
TEST(CrawlerHostile, AWideTreeEndsAtThePageLimitWithMemoryFlat) {
    LocalServerProcess site("/usr/bin/python3", crawlServerSite());
    ASSERT_EQ(site.start(), QString());
    const CrawlSource source =
        sourceFor(QStringLiteral("http://127.0.0.1:%1/tree/").arg(site.port()));
    MemorySink sink;
    CrawledFile old;
    old.path = "old/kept.mp3";
    old.size = 12345;
    sink.storeFolder(source, sink.beginCrawl(source), "old", "before", {old});
    CrawlLimits limits;
    limits.maxPages = 60;
    QStringList lines;
    Crawler crawler({source}, sink, limits, [&](const QString& line) { lines << line; });
#if defined(__SANITIZE_ADDRESS__)
    const qint64 bound = 512ll << 20; // freed memory waits in the sanitizer's quarantine
#else
    const qint64 bound = 128ll << 20;
#endif
    const qint64 before = residentBytes();
    std::atomic<qint64> peak{before};
    std::atomic<bool> over{false};
    std::thread watch([&] {
        while (!over) {
            peak = std::max(peak.load(), residentBytes());
            if (peak - before > bound)
                crawler.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    crawler.crawlOnce();
    over = true;
    watch.join();

    EXPECT_LT(peak - before, bound);
    RecordProperty("peak_growth_kib", int((peak - before) / 1024));
    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(result.abandoned, 1);
    EXPECT_EQ(result.reason, "stopped at the page limit (60 listings)");
    EXPECT_EQ(sink.files(source.id).keys(), QStringList({"old/kept.mp3"}));
    EXPECT_EQ(result.stored, 60);
    EXPECT_EQ(requestLog(site).size(), 61); // robots.txt and the listings
    EXPECT_TRUE(lines.last().contains(" stopped early (stopped at the page limit (60 "
                                      "listings)) after "))
        << lines.last().toStdString();
}

// A robots.txt of 20000 wildcard rules against a listing of 20000 files: a stop in the middle
// of the walk is honoured at once, and the walk reads the listing (no rule matches).
TEST(CrawlerHostile, ManyRobotsRulesNeitherStallTheWalkNorItsStop) {
    LocalServerProcess site("/usr/bin/python3", crawlServerSite());
    ASSERT_EQ(site.start(), QString());
    QByteArray robots = "User-agent: *\n";
    for (int i = 0; i < 20000; ++i)
        robots += "Disallow: /*z" + QByteArray::number(10000 + i) + "*q\n";
    writeFile(QDir(site.folder()).filePath("robots.txt"), robots);
    const CrawlSource source =
        sourceFor(QStringLiteral("http://127.0.0.1:%1/wide/").arg(site.port()));
    CrawlLimits limits;
    limits.readHeads = false;
    MemorySink sink;
    {
        Crawler crawler({source}, sink, limits, [](const QString&) {});
        std::thread walk([&] { crawler.crawlOnce(); });
        // The listing came: the walk reads it against the rules now.
        while (crawler.states().value(0).progress.pages == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto stopped = std::chrono::steady_clock::now();
        crawler.stop();
        walk.join();
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    }
    const int finished = sink.source(source.id).finished; // the walk may have been quicker
    crawlOnce({source}, sink, limits);
    EXPECT_EQ(sink.source(source.id).finished, finished + 1);
    EXPECT_EQ(sink.files(source.id).size(), 20000);
}

// robots.txt redirects stay on the source's server, as the listings' do: one to another
// server counts as no robots.txt, one on the same server is followed.
TEST(CrawlerHostile, RobotsRedirectsStayOnTheSourcesServer) {
    LocalServerProcess site("/usr/bin/python3", crawlServerSite());
    LocalServerProcess other("/usr/bin/python3", crawlServerSite());
    ASSERT_EQ(site.start(), QString());
    ASSERT_EQ(other.start(), QString());
    writeFile(QDir(site.folder()).filePath("robots.txt"), "User-agent: *\nDisallow: /gone/two/\n");
    writeFile(QDir(other.folder()).filePath("robots.txt"), "User-agent: *\nDisallow: /\n");
    struct Row {
        QString location;
        QStringList files;
    };
    const QStringList all = {"five/inner.mp3",  "four/inner.mp3", "one/inner.mp3",
                             "three/inner.mp3", "top.mp3",        "two/inner.mp3"};
    QStringList allowed = all;
    allowed.removeAll("two/inner.mp3");
    const QList<Row> rows = {
        {QStringLiteral("http://127.0.0.1:%1/robots.txt").arg(other.port()), all},
        {"/moved/robots.txt", allowed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.location.toStdString());
        writeFile(QDir(site.folder()).filePath("robots-redirect"), row.location.toUtf8());
        const CrawlSource source =
            sourceFor(QStringLiteral("http://127.0.0.1:%1/gone/").arg(site.port()));
        MemorySink sink;
        crawlOnce({source}, sink);
        EXPECT_EQ(sink.source(source.id).finished, 1);
        EXPECT_EQ(sink.files(source.id).keys(), row.files);
    }
    EXPECT_EQ(requestLog(other), QStringList());
}
