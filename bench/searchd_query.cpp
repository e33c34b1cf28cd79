// Query latency of the search service's index over 100,000 generated files, against a
// plain LIKE scan of the same table as the peer; the same files as a crawled server's, against
// the library's index as the peer; and whole answers (query and page) over both.
//
//   searchd_query [FILES] [RUNS]
#include "searchd/LibraryFolder.h"
#include "searchd/index/sqlite/SqliteCrawlIndex.h"
#include "searchd/index/sqlite/SqliteDatabase.h"
#include "searchd/index/sqlite/SqliteIndex.h"
#include "searchd/pages/ServiceRoutes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <sqlite3.h>

namespace {

const char* kSyllables[] = {"ka",  "lo",  "mi",  "ra",  "ven", "tor", "el",  "sa", "dun", "bri",
                            "qua", "zel", "mor", "fin", "ast", "ol",  "ner", "pa", "gri", "shu"};
const char* kWords[] = {"love",  "night", "river", "fire",   "heart", "dream", "summer", "road",
                        "blue",  "rain",  "city",  "light",  "dance", "gold",  "ghost",  "train",
                        "storm", "wild",  "glass", "silver", "moon",  "stone", "ocean",  "echo"};
const char* kFolders[] = {"Rock", "Jazz", "Electronic", "Folk", "Soul", "Live", "Demos", ""};

QString pick(std::mt19937& random, const char* const* list, size_t count) {
    return QString::fromLatin1(list[random() % count]);
}

QString name(std::mt19937& random, int syllables) {
    QString text;
    for (int i = 0; i < syllables; ++i)
        text += pick(random, kSyllables, std::size(kSyllables));
    text[0] = text[0].toUpper();
    return text;
}

QList<IndexedFile> generate(int count) {
    std::mt19937 random(7);
    QList<IndexedFile> files;
    for (int i = 0; i < count; ++i) {
        const QString artist = name(random, 2) + ' ' + name(random, 3);
        const QString title = pick(random, kWords, std::size(kWords)) + ' ' +
                              pick(random, kWords, std::size(kWords)) + ' ' + name(random, 2);
        const QString folder = pick(random, kFolders, std::size(kFolders));
        const QString file = artist + " - " + title + QStringLiteral(" %1.mp3").arg(i);
        files.append({folder.isEmpty() ? file : folder + '/' + file,
                      100000 + static_cast<qint64>(random() % 9000000), artist, title});
    }
    return files;
}

struct Figures {
    double median = 0, p95 = 0, worst = 0;
};

Figures measure(int runs, const std::function<void()>& query) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        query();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back()};
}

// The peer: every word as LIKE '%word%' over path, artist and title.
int likeScan(SqliteDatabase& db, const QStringList& words, int limit) {
    QString sql = QStringLiteral("SELECT path FROM files WHERE 1");
    for (int i = 0; i < words.size(); ++i)
        sql += QStringLiteral(" AND (path || ' ' || artist || ' ' || title) LIKE ?%1").arg(i + 1);
    sql += QStringLiteral(" ORDER BY id LIMIT %1").arg(limit);
    std::lock_guard lock(db.mutex());
    SqliteStatement query(db, sql.toUtf8().constData());
    for (int i = 0; i < words.size(); ++i)
        query.bind(i + 1, '%' + words[i] + '%');
    int found = 0;
    while (query.step())
        ++found;
    return found;
}

// The same files once more as a crawled web server's, stored a folder at a time, and the
// queries against them beside the library's.
void compareCrawled(SqliteIndex& index, int count, int runs, const QList<QStringList>& queries) {
    ServiceIndex& crawled = index;
    const CrawlSource source{
        QStringLiteral("http://files.example/"), QUrl(QStringLiteral("http://files.example/")), {}};
    QMap<QString, QList<CrawledFile>> folders;
    for (const IndexedFile& file : generate(count)) {
        CrawledFile crawledFile;
        crawledFile.path = file.path;
        crawledFile.size = file.size;
        crawledFile.head.artist = file.artist;
        crawledFile.head.title = file.title;
        folders[file.path.section('/', 0, -2)].append(crawledFile);
    }
    QElapsedTimer build;
    build.start();
    const qint64 crawl = crawled.beginCrawl(source);
    for (auto folder = folders.cbegin(); folder != folders.cend(); ++folder)
        crawled.storeFolder(source, crawl, folder.key(), "x", folder.value());
    crawled.finishCrawl(source, crawl, {});
    std::printf("the same files stored as a crawled server's in %.1f s (%zu folders)\n",
                build.elapsed() / 1000.0, size_t(folders.size()));
    std::printf("%-22s %8s %10s %10s %10s %12s %8s\n", "crawled (page of 11)", "results",
                "median ms", "p95 ms", "worst ms", "library ms", "ratio");
    for (const QStringList& words : queries) {
        int results = 0;
        const Figures remote =
            measure(runs, [&] { results = crawled.searchCrawled(words, {}, 0, 11).size(); });
        const Figures local = measure(runs, [&] { index.searchLibrary(words, 0, 11); });
        std::printf("%-22s %8d %10.3f %10.3f %10.3f %12.3f %7.1fx\n", qPrintable(words.join(' ')),
                    results, remote.median, remote.p95, remote.worst, local.median,
                    remote.median / std::max(local.median, 1e-6));
    }
}

// Whole answers as the service gives them: the query, then the page in Windows-1252.
void timeWholeAnswers(SqliteIndex& index, const QString& dir, int runs) {
    const LibraryFolder folder(dir);
    ServiceSettings settings;
    ServiceRoutes routes(settings, QStringLiteral("http://127.0.0.1:8790"), folder, index);
    const QByteArray pages[] = {
        "/cgi-bin/mp3asp/search.asp?since=&searchwords=love+night",
        "/audiofind/search?words=love+night&page=3", "/ftp/search?q=blue&leech=y",
        // past the library's 1/8 of "love" into the crawled files
        "/audiofind/search?words=love&page=1500", "/?q=love+night&kind=all&minbitrate=0&page=2"};
    std::printf("%-48s %10s %10s %10s\n", "whole answer", "median ms", "p95 ms", "worst ms");
    for (const QByteArray& target : pages) {
        const Figures answer = measure(runs, [&] { routes.answer({target, {}, {}}); });
        std::printf("%-48s %10.3f %10.3f %10.3f\n", target.constData(), answer.median, answer.p95,
                    answer.worst);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 200;
    QTemporaryDir dir;
    SqliteIndex index(dir.filePath("bench.db"));
    SqliteDatabase db(dir.filePath("bench.db")); // the peer's own connection

    QElapsedTimer build;
    build.start();
    QList<LibraryChange> files;
    for (const IndexedFile& file : generate(count))
        files.append({file, 0});
    index.changeLibrary(files, {});
    std::printf("index of %d generated files built in %.1f s\n", index.libraryFileCount(),
                build.elapsed() / 1000.0);

    const QList<QStringList> queries = {
        {"river"},         {"love", "night"},           {"fire", "gold", "ka"}, {"m"},
        {"rock", "storm"}, {"ghost", "echo", "zelmor"}, {"nomatchatall"}};
    std::printf("%-22s %8s %10s %10s %10s %12s %8s\n", "query (page of 11)", "results", "median ms",
                "p95 ms", "worst ms", "LIKE med ms", "ratio");
    for (const QStringList& words : queries) {
        int results = 0;
        const Figures fts =
            measure(runs, [&] { results = index.searchLibrary(words, 0, 11).size(); });
        const Figures like = measure(std::max(5, runs / 20), [&] { likeScan(db, words, 11); });
        std::printf("%-22s %8d %10.3f %10.3f %10.3f %12.3f %7.1fx\n", qPrintable(words.join(' ')),
                    results, fts.median, fts.p95, fts.worst, like.median,
                    like.median / std::max(fts.median, 1e-6));
    }
    const Figures deep = measure(runs, [&] { index.searchLibrary({"love"}, 5000, 11); });
    std::printf("%-22s %8s %10.3f %10.3f %10.3f\n", "love, page 455", "-", deep.median, deep.p95,
                deep.worst);
    const Figures listing =
        measure(std::max(1, runs / 4), [&] { index.searchLibrary({"blue"}, 0, 1000); });
    std::printf("%-22s %8s %10.3f %10.3f %10.3f\n", "blue, listing of 1000", "-", listing.median,
                listing.p95, listing.worst);

    compareCrawled(index, count, runs, queries);
    timeWholeAnswers(index, dir.path(), runs);
    return 0;
}
