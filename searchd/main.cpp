// pellmar-searchd: the local search service the program talks to out of the box.
#include "PellmarVersion.h"
#include "core/DataFileConfig.h"
#include "crawl/CrawlSources.h"
#include "crawl/Crawler.h"
#include "platform/Errors.h"
#include "platform/ResourceLimits.h"
#include "searchd/LibraryFolder.h"
#include "searchd/SearchService.h"
#include "searchd/ServiceOptions.h"
#include "searchd/fileservers/FileServers.h"
#include "searchd/fileservers/PrivateFolder.h"
#include "searchd/http/TlsContext.h"
#include "searchd/index/ServiceIndex.h"
#include "searchd/library/SampleLibrary.h"
#include "searchd/pages/ServiceFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

QString defaultDatabase() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/pellmar-searchd");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/searchd.db");
}

void say(FILE* stream, const QString& line) {
    std::fprintf(stream, "pellmar-searchd: %s\n", qPrintable(line));
    std::fflush(stream);
}

// SIGINT and SIGTERM stop the service (and the crawler, whose running walks are abandoned)
// from a thread of their own, since a signal handler may not touch the server; SIGHUP
// starts a crawl now. The thread
// is woken and joined when this goes, also when the service ends by an exception: a stop
// that comes just before the service runs must not outlive it, and a thread left joinable
// would end the process without a word.
class SignalStopper {
public:
    SignalStopper(SearchService& service, Crawler* crawler) {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        sigaddset(&m_signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_thread = std::thread([&service, crawler, awaited = m_signals] {
            int received = 0;
            while (sigwait(&awaited, &received) == 0 && received == SIGHUP) {
                if (crawler)
                    say(stdout, crawler->crawlNow() ? QStringLiteral("a crawl has started")
                                                    : QStringLiteral("a crawl is under way"));
            }
            if (crawler)
                crawler->stop();
            service.stop();
        });
    }
    SignalStopper(const SignalStopper&) = delete;
    SignalStopper& operator=(const SignalStopper&) = delete;
    ~SignalStopper() {
        // The thread waits in sigwait for SIGTERM, so this only wakes it when no signal came.
        // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread): SIGTERM is blocked, not fatal
        pthread_kill(m_thread.native_handle(), SIGTERM);
        m_thread.join();
    }

private:
    sigset_t m_signals{};
    std::thread m_thread;
};

// The sources to crawl: --crawl URLs, the --sources file and, when asked, the submitted
// sites. A line that cannot be used is reported (and kept in problems for the status page);
// the service goes on without it.
QList<CrawlSource> crawlSources(const ServiceOptions& options, ServiceIndex& index,
                                QStringList& said) {
    QList<CrawlSource> sources;
    QStringList problems;
    for (const QString& url : options.crawlUrls) {
        CrawlSource source;
        QString problem;
        if (CrawlSources::parseLine(url, &source, &problem))
            sources << source;
        else
            problems << QStringLiteral("--crawl %1").arg(problem);
    }
    if (!options.sourcesFile.isEmpty()) {
        const CrawlSources::Loaded loaded = CrawlSources::readFile(options.sourcesFile);
        sources << loaded.sources;
        problems << loaded.problems;
        for (const QString& warning : loaded.warnings) {
            say(stderr, QStringLiteral("warning: ") + warning);
            said << QStringLiteral("warning: ") + warning;
        }
    }
    if (options.crawlSubmitted) {
        for (const Submission& submitted : index.submissions()) {
            const QString url = CrawlSources::submittedSite(submitted.kind, submitted.site);
            CrawlSource source;
            QString problem;
            if (url.isEmpty())
                continue;
            if (CrawlSources::parseLine(url, &source, &problem))
                sources << source;
            else
                problems << QStringLiteral("submitted site %1").arg(problem);
        }
    }
    QList<CrawlSource> kept = CrawlSources::unique(sources, &problems);
    for (const QString& problem : problems) {
        say(stderr, QStringLiteral("not crawled: ") + problem);
        said << problem;
    }
    return kept;
}

// Without --library the service still needs a folder of its own: an empty one, beside its
// SQLite file, or in the user's data folder when the index is elsewhere.
QString emptyLibrary(const QString& database) {
    const QString beside = database.isEmpty() || database == QLatin1String(":memory:")
                               ? QFileInfo(defaultDatabase()).absolutePath()
                               : QFileInfo(database).absolutePath();
    QString folder = beside + QStringLiteral("/no-library");
    QDir().mkpath(folder);
    return folder;
}

// Starts the FTP and SMB servers asked for and points the listings at those that run. A
// server that cannot start is reported; the service goes on without it.
std::unique_ptr<FileServers> startFileServers(ServiceOptions& options) {
    if (!options.serveFtp && !options.serveSmb)
        return nullptr;
    ServiceSettings& settings = options.settings;
    const LibraryFolder library(settings.library); // a missing library fails before any start
    auto servers = std::make_unique<FileServers>(library.root(), settings.smbShare,
                                                 options.serveFtp, options.serveSmb);
    for (const QString& line : servers->started())
        say(stdout, line);
    for (const QString& line : servers->problems())
        say(stderr, line);
    servers->describeIn(settings);
    if (!options.programFolder.isEmpty() && servers->smb()) {
        try {
            say(stdout, QStringLiteral("wrote ") + servers->writeLanpullIni(options.programFolder));
        } catch (const ServiceError& error) {
            say(stderr, QString::fromStdString(error.what()));
        }
    }
    return servers;
}

// The certificate and key, when TLS is asked for. A fault in them is a bad option: the
// service never falls back to plain HTTP.
std::shared_ptr<const TlsContext> loadTls(const ServiceOptions& options, QString* problem) {
    if (options.tlsCertificate.isEmpty() && options.tlsKey.isEmpty())
        return nullptr;
    try {
        return std::make_shared<const TlsContext>(options.tlsCertificate, options.tlsKey);
    } catch (const ServiceError& error) {
        *problem = QString::fromUtf8(error.what());
        return nullptr;
    }
}

// Binds and announces the service's address; writes the data file when asked.
void listen(SearchService& service, const ServiceOptions& options) {
    service.bind();
    if (!service.dataFileProblem().isEmpty())
        std::printf("pellmar-searchd: warning: no data file to hand out: %s\n",
                    qPrintable(service.dataFileProblem()));
    if (!options.writeDataFile.isEmpty()) {
        WriteDataFile(options.writeDataFile,
                      ServiceFiles::dataFileLines(service.baseUrl(), options.settings.dataVersion));
        std::printf("pellmar-searchd: wrote %s\n", qPrintable(options.writeDataFile));
    }
}

std::unique_ptr<Crawler> makeCrawler(const ServiceOptions& options, SearchService& service) {
    QStringList problems;
    const QList<CrawlSource> sources = crawlSources(options, service.index(), problems);
    service.relayLogins(sources); // also when the index was crawled before and is only served
    if (!options.crawls || sources.isEmpty()) {
        service.setCrawlControl({problems, {}});
        return nullptr;
    }
    auto crawler = std::make_unique<Crawler>(sources, service.index(), options.limits);
    crawler->setLeases(service.index(), Crawler::holderName(),
                       std::chrono::seconds(options.leaseSeconds));
    // What the saved searches find after each crawl is told to the desktop.
    crawler->setCrawlEnded([&service] { service.runSavedSearches(); });
    Crawler* running = crawler.get();
    service.setCrawlStates([running] { return running->states(); });
    service.setCrawlControl({problems, [running] { return running->crawlNow(); }});
    return crawler;
}

// Serves and crawls until a signal or the end of the crawls stops the service.
void run(SearchService& service, Crawler* crawler, const ServiceOptions& options) {
    // SIGINT and SIGTERM stop the service (and so its servers) cleanly from the moment it
    // says that it listens, also before it has begun to serve.
    const SignalStopper stopper(service, crawler);
    if (options.serves)
        std::printf("pellmar-searchd: listening on %s\n", qPrintable(service.baseUrl()));
    std::fflush(stdout);
    if (crawler) {
        const qsizetype count = crawler->states().size();
        say(stdout, QStringLiteral("crawling %1 %2")
                        .arg(count)
                        .arg(count == 1 ? QStringLiteral("source") : QStringLiteral("sources")));
        crawler->start(std::chrono::hours(options.recrawlHours), options.serves);
    }
    if (options.serves)
        service.run();
    if (crawler) {
        if (options.serves)
            crawler->stop(); // running walks are abandoned: their old entries stay
        crawler->wait();     // a crawl-only service ends when its crawls do
    }
}

int serve(ServiceOptions options) {
    QString tlsProblem;
    const std::shared_ptr<const TlsContext> tls =
        options.serves ? loadTls(options, &tlsProblem) : nullptr;
    if (!tlsProblem.isEmpty()) {
        say(stderr, tlsProblem);
        return 2;
    }
    RaiseFileDescriptorLimit(); // every waiting client holds a descriptor
    ServiceSettings& settings = options.settings;
    if (settings.database.isEmpty() && settings.databaseUrl.isEmpty())
        settings.database = defaultDatabase();
    if (settings.library.isEmpty())
        settings.library = emptyLibrary(settings.database);
    for (const QString& folder : PrivateFolder::removeStale(QDir::tempPath()))
        say(stdout, QStringLiteral("removed %1, left by a service that has ended").arg(folder));
    const std::unique_ptr<FileServers> servers =
        options.serves ? startFileServers(options) : nullptr;
    SearchService service(settings, tls);
    if (settings.scanLibrary) {
        const ScanSummary& scan = service.scanSummary();
        std::printf("pellmar-searchd: %d MP3 files in %s (%d new or changed, %d gone)\n",
                    scan.files, qPrintable(QDir::toNativeSeparators(settings.library)), scan.added,
                    scan.removed);
    }
    say(stdout, QStringLiteral("index: %1").arg(service.index().description()));
    if (options.serves)
        listen(service, options);
    const std::unique_ptr<Crawler> crawler = makeCrawler(options, service);
    run(service, crawler.get(), options);
    std::printf("pellmar-searchd: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pellmar-searchd");
    const ParsedServiceOptions parsed = parseServiceOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        if (parsed.error.isEmpty())
            std::fputs(qPrintable(parsed.help), stdout);
        else
            say(stderr, parsed.error);
        return parsed.exitStatus;
    }
    const ServiceOptions& options = *parsed.options;
    try {
        if (!options.makeSample.isEmpty()) {
            SampleLibrary::write(options.makeSample, options.sampleCount);
            std::printf("pellmar-searchd: wrote %d sample files into %s\n", options.sampleCount,
                        qPrintable(options.makeSample));
            return 0;
        }
        return serve(options);
    } catch (const ServiceError& error) {
        std::fprintf(stderr, "pellmar-searchd: %s\n", error.what());
    } catch (const PellmarError& error) {
        std::fprintf(stderr, "pellmar-searchd: %s\n", qPrintable(error.message()));
    }
    return 1;
}
