// Several pellmar-searchd processes on one PostgreSQL index: servers that only serve, crawlers
// that only crawl, and a database that goes away under them. The crawled site is the test
// web server's "/shared/S/": twenty folders of five files each per source.
#include "RawHttp.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CrawlSite.h"
#include "support/LocalServerProcess.h"
#include "support/PrivatePostgres.h"
#include "support/ProcessLines.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int kFilesPerFolder = 5, kFilesPerSource = 100;

// One pellmar-searchd on the index; a serving one knows its port once it listens.
struct Searchd {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int port = 0;
    QByteArray err; // standard error read so far

    QByteArray readErr() {
        err += process->readAllStandardError();
        return err;
    }
};

class SharedDatabaseTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    LocalServerProcess site{QStringLiteral("/usr/bin/python3"), crawlServerSite()};

    void SetUp() override { ASSERT_EQ(site.start(), QString()); }

    QString source(const char* name) const {
        return QStringLiteral("http://127.0.0.1:%1/shared/%2/").arg(site.port()).arg(name);
    }
    void hold(bool on) {
        const QString file = QDir(site.folder()).filePath("hold");
        if (on)
            QFile(file).open(QIODevice::WriteOnly);
        else
            QFile::remove(file);
    }
    int requests(const QString& path) const {
        return int(site.readFile("requests.log").split('\n').count(path.toUtf8()));
    }
    // Waits until the site was asked for path.
    void waitForRequest(const QString& path) const {
        QDeadlineTimer deadline(60000);
        while (requests(path) == 0 && !deadline.hasExpired())
            QThread::msleep(20);
        ASSERT_GT(requests(path), 0) << path.toStdString();
    }

    Searchd serve(const QString& database) {
        Searchd s;
        s.process->start(PELLMAR_SEARCHD_BINARY, {"--role", "serve", "--database", database,
                                                  "--library", folder.path(), "--port", "0"});
        const QRegularExpression listening("listening on http://127\\.0\\.0\\.1:(\\d+)$");
        for (int i = 0; i < 10 && s.port == 0; ++i) {
            const auto match = listening.match(QString::fromUtf8(nextLine(*s.process)));
            if (match.hasMatch())
                s.port = match.captured(1).toInt();
        }
        EXPECT_NE(s.port, 0) << s.readErr().constData();
        return s;
    }
    Searchd crawl(const QString& database, const QStringList& sources) {
        Searchd s;
        // Every held folder of every source may wait at once. The lease is short, so that a
        // dead crawler's source passes on quickly, yet long enough for the slowest build's
        // walk (the sanitizers' judge each head's audio several times slower) to renew it.
        QStringList args = {"--role",  "crawl", "--database", database,
                            "--lease", "8",     "--per-host", "64"};
        for (const QString& url : sources)
            args << "--crawl" << url;
        s.process->start(PELLMAR_SEARCHD_BINARY, args);
        EXPECT_TRUE(s.process->waitForStarted());
        return s;
    }
    static void waitForExit(Searchd& s) {
        s.process->closeWriteChannel();
        if (s.process->state() != QProcess::NotRunning) {
            ASSERT_TRUE(s.process->waitForFinished(120000)) << s.readErr().constData();
        }
        EXPECT_EQ(s.process->exitCode(), 0) << s.readErr().constData();
    }
    // Waits until one of the services says text on standard error.
    static void waitForSaid(std::initializer_list<Searchd*> services, const QByteArray& text) {
        QDeadlineTimer deadline(60000);
        const auto said = [&] {
            return std::any_of(services.begin(), services.end(),
                               [&](Searchd* s) { return s->readErr().contains(text); });
        };
        while (!said() && !deadline.hasExpired())
            for (Searchd* s : services) // a QProcess reads its pipe only while waited on
                s->process->waitForReadyRead(50);
        QByteArray everything;
        for (Searchd* s : services)
            everything += s->err + s->process->readAllStandardOutput() + "\n---\n";
        ASSERT_TRUE(said()) << everything.constData();
    }
};

// The files a search for "song" finds on the service's search page: -1 when it answers 503.
int filesFound(const Searchd& server) {
    const RawResponse page = httpGet(server.port, "/?q=song");
    if (page.status == 503)
        return -1;
    EXPECT_EQ(page.status, 200);
    const auto total =
        QRegularExpression(" \\((\\d+) files?\\)\\.</p>").match(QString::fromUtf8(page.body));
    return total.hasMatch() ? total.captured(1).toInt() : 0;
}

} // namespace

TEST_F(SharedDatabaseTest, ServersSeeTheCrawlersWholeFoldersOnly) {
    const QString database = PrivatePostgres::shared().freshDatabase();
    Searchd first = serve(database), second = serve(database);
    ASSERT_TRUE(first.port && second.port);
    Searchd crawler = crawl(database, {source("a"), source("b")});
    while (crawler.process->state() != QProcess::NotRunning) {
        for (const Searchd* server : {&first, &second}) {
            const int found = filesFound(*server);
            ASSERT_EQ(found % kFilesPerFolder, 0) << "half a folder: " << found;
        }
        crawler.process->waitForFinished(10);
    }
    waitForExit(crawler);
    EXPECT_EQ(filesFound(first), 2 * kFilesPerSource);
    EXPECT_EQ(filesFound(second), 2 * kFilesPerSource);
}

TEST_F(SharedDatabaseTest, ServicesRideOutTheDatabaseGoingAway) {
    PrivatePostgres postgres; // stopped below: not the shared one
    const QString database = postgres.freshDatabase();
    Searchd server = serve(database);
    ASSERT_NE(server.port, 0);
    hold(true);
    Searchd crawler = crawl(database, {source("a")});
    QDeadlineTimer deadline(60000);
    while (filesFound(server) < kFilesPerSource / 2 && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_EQ(filesFound(server), kFilesPerSource / 2) << "the first ten folders are stored";

    postgres.stop();
    for (int i = 0; i < 20; ++i) {
        const RawResponse answer = httpGet(server.port, "/audiofind/search?words=song");
        ASSERT_EQ(answer.status, 503);
        EXPECT_EQ(answer.headers.value("retry-after"), "5");
    }
    hold(false); // the crawl goes on and meets the missing database
    waitForSaid({&crawler}, "the index is unreachable");
    postgres.start();
    waitForExit(crawler); // the walk was taken up again and finished
    deadline.setRemainingTime(60000);
    while (filesFound(server) < 0 && !deadline.hasExpired())
        QThread::msleep(100);
    EXPECT_EQ(filesFound(server), kFilesPerSource);
    waitForSaid({&server}, "the index is reachable again");
    EXPECT_EQ(server.err.count("the index is unreachable"), 1) << server.err.constData();
}

TEST_F(SharedDatabaseTest, TwoCrawlersWalkEachSourceOnceAndTakeOverADeadOnesSource) {
    QString database = PrivatePostgres::shared().freshDatabase();
    hold(true);
    Searchd x = crawl(database, {source("a"), source("b")});
    Searchd y = crawl(database, {source("a"), source("b")});
    waitForRequest("/shared/a/f10/");
    waitForRequest("/shared/b/f10/");
    waitForSaid({&x, &y}, "another crawler"); // both crawls have begun
    hold(false);
    waitForExit(x);
    waitForExit(y);
    EXPECT_EQ(requests("/shared/a/"), 1);
    EXPECT_EQ(requests("/shared/b/"), 1);

    // A crawler killed in the middle of a source: the other takes it over after the lease.
    database = PrivatePostgres::shared().freshDatabase();
    hold(true);
    Searchd dead = crawl(database, {source("c")});
    waitForRequest("/shared/c/f10/");
    ::kill(static_cast<pid_t>(dead.process->processId()), SIGKILL);
    dead.process->waitForFinished();
    Searchd heir = crawl(database, {source("c")});
    waitForSaid({&heir}, "another crawler");
    hold(false);
    waitForExit(heir);
    EXPECT_EQ(requests("/shared/c/"), 2);
    Searchd server = serve(database);
    EXPECT_EQ(filesFound(server), kFilesPerSource);
}
