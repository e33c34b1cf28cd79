// A search whose answer holds 1000 HTTP links on the local service, timed from the start
// to "Done" (every link probed), against curl --parallel fetching the first 4 kB of the
// same files in the same run; the peak memory after each round shows whether it stays
// flat. Then the time to put 10,000 rows into the hit list, sorted and unsorted.
//
//   search_links [LINKS] [ROUNDS]
#include "core/TextHelpers.h"
#include "platform/ResourceLimits.h"
#include "platform/SettingsFile.h"
#include "search/EngineScrapers.h"
#include "search/SearchRun.h"
#include "searchd/SearchService.h"
#include "searchd/library/SampleLibrary.h"
#include "searchd/pages/ServiceFiles.h"
#include "support/FakePlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace {

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// The file links of a first-engine page, as the program's scraper finds them.
class LinkCollector : public IEngineScraperHost {
public:
    void sendFirstEngineRequest(const QByteArray&) override {}
    void sendSecondEngineRequest(const QByteArray&) override {}
    void markSourceDone(SearchSource) override {}
    bool allSourcesDone() const override { return false; }
    void startSecondEngineRetry() override {}
    void setNextPageUrl(const QByteArray&) override {}
    void offerLink(const QByteArray& url, const QByteArray&) override { urls.append(url); }
    QList<QByteArray> urls;
};

// Milliseconds from the search start to "Done"; -1 when it ended otherwise.
double timeSearch(SearchRun& run) {
    QEventLoop loop;
    const auto connection =
        QObject::connect(&run, &SearchRun::searchingChanged, &loop, [&](bool searching) {
            if (!searching)
                loop.quit();
        });
    QElapsedTimer timer;
    timer.start();
    run.SearchButtonClick(QStringLiteral("take"), {true, false, false, false});
    loop.exec();
    QObject::disconnect(connection);
    return run.statusText() == QLatin1String("Done") ? double(timer.nsecsElapsed()) / 1e6 : -1;
}

double timeCurl(const QList<QByteArray>& urls, const QString& configPath) {
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    for (const QByteArray& url : urls)
        config.write("url = \"" + url + "\"\noutput = \"/dev/null\"\n");
    config.close();
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                QStringLiteral("300"), QStringLiteral("--silent"), QStringLiteral("--range"),
                QStringLiteral("0-4095"), QStringLiteral("--config"), configPath});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

QList<SearchHit> tenThousandRows() {
    QList<SearchHit> rows;
    for (int i = 0; i < 10000; ++i) {
        const QByteArray name = "Artist " + QByteArray::number((i * 7919) % 10000) + " - Song";
        rows.append({name, i % 3, QByteArray::number(30000 + i), "128kb/s 44kHz Stereo"});
    }
    return rows;
}

// Rows one by one, as probes add them, and in one batch, as a click on a host row does.
void benchHitList() {
    const QList<SearchHit> rows = tenThousandRows();
    for (const bool sorted : {true, false}) {
        HitListModel model;
        model.setSorted(sorted);
        QElapsedTimer timer;
        timer.start();
        for (const SearchHit& row : rows)
            model.addRow(row);
        std::printf("hit list: 10,000 rows one by one, %s: %.1f ms\n",
                    sorted ? "sorted" : "unsorted", double(timer.nsecsElapsed()) / 1e6);
    }
    HitListModel model;
    model.setSorted(true);
    QElapsedTimer timer;
    timer.start();
    model.addRows(rows);
    std::printf("hit list: 10,000 rows in one batch, sorted: %.1f ms (target under 1000)\n",
                double(timer.nsecsElapsed()) / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    const int links = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

    QTemporaryDir dir;
    // Every song from the 61st on is a "Take": 60 more files give exactly that many links.
    SampleLibrary::write(dir.filePath(QStringLiteral("lib")), links + 60);
    ServiceSettings settings;
    settings.library = dir.filePath(QStringLiteral("lib"));
    settings.database = dir.filePath(QStringLiteral("index.db"));
    settings.port = 0;
    settings.pageSize = links;
    settings.logRequests = false;
    SearchService service(settings);
    service.bind();
    std::thread serving([&] { service.run(); });

    const QString home = dir.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/temp"));
    SettingsFile ini(home + QStringLiteral("/Pellmar.ini"));
    ini.writeString(QStringLiteral("Options"), QStringLiteral("MinSizeToAdd"), QStringLiteral("0"));
    FakePlatform fake;
    SearchRun run(ini, home, fake.platform);
    const QList<QString> lines = ServiceFiles::dataFileLines(service.baseUrl(), 1);
    run.setServiceUrls(
        {lines[4].toLatin1(), lines[5].toLatin1(), lines[7].toLatin1(), lines[8].toLatin1()});

    QProcess page;
    page.start(QStringLiteral("curl"),
               {QStringLiteral("--silent"), lines[4] + QStringLiteral("take")});
    page.waitForFinished(60000);
    LinkCollector collector;
    ScrapeFirstEngine(SplitLines(page.readAllStandardOutput()), "http://", collector);
    std::printf("search for %d links (%lld on the page), %d rounds\n", links,
                static_cast<long long>(collector.urls.size()), rounds);

    QList<double> ours, curls;
    for (int round = 0; round < rounds; ++round) {
        const double search = timeSearch(run);
        const double curl = timeCurl(collector.urls, dir.filePath(QStringLiteral("curl.cfg")));
        ours.append(search);
        curls.append(curl);
        std::printf("round %d: search to Done %.1f ms (%lld hits), curl --parallel %.1f ms, "
                    "peak memory %ld kB\n",
                    round + 1, search, static_cast<long long>(run.HttpHitStore().size()), curl,
                    peakKb());
    }
    const double a = median(ours), b = median(curls);
    std::printf("median: search %.1f ms, curl %.1f ms, ratio %.2f (target at most 1.5)\n", a, b,
                b > 0 ? a / b : 0.0);
    benchHitList();
    service.stop();
    serving.join();
    return 0;
}
