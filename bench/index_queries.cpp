// The service's index under a crawl's writes and a searching crowd, for either engine:
// N generated crawled files (default 1,000,000) written folder by folder, then 300 searches
// each of 1, 2 and 3 words (the first page as the program's engine pages ask it, then with the
// count of matches as the people's search page shows it), 1000 pages from 100 threads at once,
// and 1000 engine-page searches through the service's HTTP from 100 clients at once. Prints
// files per second written and p50/p95 per query shape.
//
//   index_queries sqlite FILE [N] [skewed]
//   index_queries postgres CONNINFO [N] [skewed]
//
// Words are drawn evenly from the vocabulary; "skewed" draws some far more often than others,
// as in real names, so that the common words and prefixes match tens of thousands of files.
// An index that already holds crawled files is searched as it is, so that a large one is
// written once. SQLite is the service's crawl index (WAL, as the service runs it). For
// PostgreSQL, a private cluster tuned for the machine (here 24 GB, 2 cores):
//   tests/support/private_postgres.sh start /tmp/pgbench
//   psql "host=/tmp/pgbench user=postgres" -c "ALTER SYSTEM SET shared_buffers = '1GB'"
//        -c "ALTER SYSTEM SET work_mem = '32MB'" -c "ALTER SYSTEM SET fsync = on"
//        -c "ALTER SYSTEM SET effective_cache_size = '8GB'" -c "CREATE DATABASE bench"
//        -c "ALTER DATABASE bench SET synchronous_commit = off"
//   tests/support/private_postgres.sh stop /tmp/pgbench (then start again)
//   build/bin/index_queries postgres "host=/tmp/pgbench user=postgres dbname=bench"
#include "searchd/OpenServiceIndex.h"
#include "searchd/RawHttp.h"
#include "searchd/SearchService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

namespace {

constexpr int kVocabulary = 5000;
constexpr int kSources = 300;
constexpr int kFolderSize = 50;

// Pronounceable words, each once, from seeded syllables.
QStringList vocabulary() {
    static const char* const syllables[] = {
        "ka",  "lo",  "mi", "ra",  "ven", "tor", "el",  "sa", "dun", "bri", "qua", "zel", "mor",
        "fin", "ast", "ol", "ner", "pa",  "gri", "shu", "te", "vo",  "lin", "dar", "u",   "bel"};
    std::mt19937 random(11);
    QStringList words;
    QSet<QString> seen;
    while (words.size() < kVocabulary) {
        QString word;
        const int count = 2 + static_cast<int>(random() % 3);
        for (int i = 0; i < count; ++i)
            word += QString::fromLatin1(syllables[random() % std::size(syllables)]);
        if (!seen.contains(word)) {
            seen.insert(word);
            words.append(word);
        }
    }
    return words;
}

bool skewed = false;

const QString& commonWord(std::mt19937& random, const QStringList& words) {
    double u = std::uniform_real_distribution<double>(0, 1)(random);
    if (skewed)
        u *= u;
    return words[std::min<qsizetype>(words.size() - 1, static_cast<qsizetype>(words.size() * u))];
}

CrawlSource sourceNumber(int n) {
    static const char* const schemes[] = {"http", "ftp", "smb", "https"};
    const QUrl url(QStringLiteral("%1://host%2.example/music/").arg(schemes[n % 4]).arg(n));
    return {url.toString(), url, {}};
}

void write(CrawlSink& index, int files, const QStringList& words) {
    std::mt19937 random(5);
    static const char* const bitrates[] = {"128", "192", "256", "320"};
    const int folders = std::max(1, files / kFolderSize);
    QElapsedTimer timer;
    timer.start();
    int written = 0;
    for (int s = 0; s < kSources && written < files; ++s) {
        const CrawlSource source = sourceNumber(s);
        const qint64 crawl = index.beginCrawl(source);
        const int own = folders / kSources + (s < folders % kSources ? 1 : 0);
        for (int f = 0; f < own && written < files; ++f) {
            const QString folder = commonWord(random, words) + QStringLiteral(" %1").arg(f);
            QList<CrawledFile> list;
            for (int i = 0; i < kFolderSize && written + list.size() < files; ++i) {
                CrawledFile file;
                QStringList name;
                const int count = 4 + static_cast<int>(random() % 5);
                for (int w = 0; w < count; ++w)
                    name.append(commonWord(random, words));
                file.path = folder + QLatin1Char('/') + name.join(QLatin1Char(' ')) +
                            QStringLiteral(" %1.mp3").arg(i);
                file.size = 3000000 + static_cast<qint64>(random() % 7000000);
                file.headRead = random() % 5 != 0;
                if (file.headRead) {
                    file.head.frame.bitrate = bitrates[random() % 4];
                    file.head.frame.sampleRate = "44100";
                    file.head.frame.mode = "Joint Stereo";
                }
                list.append(file);
            }
            index.storeFolder(source, crawl, folder, QByteArray::number(f), list);
            written += static_cast<int>(list.size());
        }
        index.finishCrawl(source, crawl, {});
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("wrote %d files in %.1f s: %.0f files/s\n", written, seconds, written / seconds);
}

// Words as a person types them: mostly whole, sometimes the first 3 or more letters.
QStringList query(std::mt19937& random, const QStringList& words, int count) {
    QStringList typed;
    for (int i = 0; i < count; ++i) {
        QString word = commonWord(random, words);
        if (random() % 3 == 0 && word.size() > 3)
            word.truncate(3 + static_cast<int>(random() % (word.size() - 3)));
        typed.append(word);
    }
    return typed;
}

// One answer: the first page of ten (and one more, to know whether a next page follows), as
// the program's engine pages ask; with counted, also the number of matches, as the search page
// for people shows it.
double answer(ServiceIndex& index, const QStringList& words, bool counted) {
    QElapsedTimer timer;
    timer.start();
    const CrawlFilter filter;
    if (counted)
        index.countCrawled(words, filter);
    index.searchCrawled(words, filter, 0, 11);
    return timer.nsecsElapsed() / 1e6;
}

void report(const char* what, std::vector<double> ms) {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double share) {
        return ms[std::min(ms.size() - 1, static_cast<size_t>(share * ms.size()))];
    };
    std::printf("%-28s p50 %7.2f ms   p95 %7.2f ms   max %7.2f ms\n", what, at(0.5), at(0.95),
                ms.back());
}

// 1000 engine-page searches through the service's HTTP, 100 clients at once.
void throughTheService(const IndexSettings& where, const QStringList& words) {
    QTemporaryDir library;
    ServiceSettings settings;
    settings.library = library.path();
    settings.database = where.sqliteFile;
    settings.databaseUrl = where.postgresUrl;
    settings.port = 0;
    settings.logRequests = false;
    settings.scanLibrary = false;
    SearchService service(settings);
    const int port = service.bind();
    std::thread serving([&] { service.run(); });
    std::vector<double> ms;
    int failed = 0;
    std::mutex mutex;
    std::vector<std::thread> clients;
    clients.reserve(100);
    QElapsedTimer all;
    all.start();
    for (int t = 0; t < 100; ++t)
        clients.emplace_back([&, t] {
            std::mt19937 own(200 + t);
            for (int i = 0; i < 10; ++i) {
                const QByteArray target = "/cgi-bin/mp3asp/search.asp?since=&searchwords=" +
                                          query(own, words, 1 + i % 3).join('+').toUtf8();
                QElapsedTimer timer;
                timer.start();
                const int status = httpGet(port, target).status;
                std::lock_guard lock(mutex);
                ms.push_back(timer.nsecsElapsed() / 1e6);
                failed += status != 200;
            }
        });
    for (std::thread& client : clients)
        client.join();
    const double seconds = all.nsecsElapsed() / 1e9;
    service.stop();
    serving.join();
    report("service, 100 clients x 10", ms);
    std::printf("%-28s %.0f answers/s, %d not 200\n", "", 1000 / seconds, failed);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: index_queries sqlite FILE [N] | postgres CONNINFO [N]\n");
        return 2;
    }
    const int files = argc > 3 ? std::atoi(argv[3]) : 1000000;
    skewed = argc > 4 && std::strcmp(argv[4], "skewed") == 0;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        IndexSettings where;
        if (std::strcmp(argv[1], "postgres") == 0)
            where.postgresUrl = QString::fromUtf8(argv[2]);
        else
            where.sqliteFile = QString::fromUtf8(argv[2]);
        const std::unique_ptr<ServiceIndex> opened = openServiceIndex(where);
        ServiceIndex& index = *opened;
        const QStringList words = vocabulary();
        if (index.crawledSources().isEmpty())
            write(index, files, words);
        else
            std::printf("searching the files already in %s\n", argv[2]);

        for (const bool counted : {false, true}) {
            std::mt19937 random(3);
            for (int count = 1; count <= 3; ++count) {
                std::vector<double> ms;
                ms.reserve(300);
                for (int i = 0; i < 300; ++i)
                    ms.push_back(answer(index, query(random, words, count), counted));
                report(qPrintable(QStringLiteral("%1-word %2")
                                      .arg(count)
                                      .arg(counted ? QStringLiteral("page+count")
                                                   : QStringLiteral("page"))),
                       ms);
            }
        }

        std::vector<double> ms;
        int failed = 0;
        std::mutex mutex;
        std::vector<std::thread> threads;
        threads.reserve(100);
        for (int t = 0; t < 100; ++t)
            threads.emplace_back([&, t] {
                std::mt19937 own(100 + t);
                for (int i = 0; i < 10; ++i) {
                    try {
                        const double took = answer(index, query(own, words, 1 + i % 3), false);
                        std::lock_guard lock(mutex);
                        ms.push_back(took);
                    } catch (const ServiceError&) { // no free connection within 5 s
                        std::lock_guard lock(mutex);
                        ++failed;
                    }
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        report("100 threads, 1000 pages", ms);
        if (failed > 0)
            std::printf("%d answers failed: no connection free within 5 s\n", failed);
        throughTheService(where, words);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "index_queries: %s\n", e.what());
        return 1;
    }
    return 0;
}
