// pellmar-searchd: the local search service the program talks to out of the box.
#include "PellmarVersion.h"
#include "core/DataFileConfig.h"
#include "crawl/CrawlSources.h"
#include "crawl/Crawler.h"
#include "platform/Errors.h"
#include "platform/ResourceLimits.h"
#include "searchd/FileServers.h"
#include "searchd/LibraryFolder.h"
#include "searchd/PrivateFolder.h"
#include "searchd/SampleLibrary.h"
#include "searchd/SearchService.h"
#include "searchd/ServiceFiles.h"
#include "searchd/ServiceIndex.h"
#include "searchd/TlsContext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

struct Options {
    ServiceSettings settings;
    QString writeDataFile;
    bool serveFtp = false;
    bool serveSmb = false;
    QString programFolder; // gets "Lanpull.ini" with the SMB server's port
    QString makeSample;
    int sampleCount = 60;
    QString tlsCertificate; // both set: the service speaks HTTPS only
    QString tlsKey;
    QStringList crawlUrls; // --crawl, in order
    QString sourcesFile;   // --sources
    bool crawlSubmitted = false;
    int recrawlHours = 0; // 0: crawl once at start
    CrawlLimits limits;
    bool serves = true; // --role serve or both: answers HTTP
    bool crawls = true; // --role crawl or both: scans the library and crawls the sources
    int leaseSeconds = 60;
};

[[noreturn]] void usageError(const QString& message) {
    std::fprintf(stderr, "pellmar-searchd: %s\n", qPrintable(message));
    std::exit(2);
}

int intValue(const QCommandLineParser& parser, const QString& name, int low, int high) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        usageError(QStringLiteral("--%1 needs a number from %2 to %3")
                       .arg(name, QString::number(low), QString::number(high)));
    return value;
}

QString defaultDatabase() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/pellmar-searchd");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/searchd.db");
}

Options parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Indexes a folder of MP3 files and answers Pellmar's searches, version check and site "
        "submissions over HTTP or HTTPS.");
    parser.addHelpOption();
    const QString version = QString::fromLatin1(kPellmarVersion);
    const QList<QCommandLineOption> options = {
        {"library", "Folder of MP3 files, scanned recursively.", "dir"},
        {"bind", "Address to listen on (default 127.0.0.1).", "addr", "127.0.0.1"},
        {"port", "Port to listen on; 0 picks a free one (default 8790).", "n", "8790"},
        {"public-host", "Host name in the URLs handed out (default: the bind address).", "name"},
        {"db", "SQLite file of the index and the submissions (the default engine).", "file"},
        {"database",
         "Keep the index in this PostgreSQL database instead (a libpq connection string or "
         "postgresql:// URI; the password comes from PGPASSFILE or PGPASSWORD).",
         "conninfo"},
        {"role",
         "serve (answer HTTP only), crawl (scan the library and crawl only) or both "
         "(default).",
         "role", "both"},
        {"lease",
         "Seconds a crawler holds a source before another crawler of the same index may take "
         "it over (default 60).",
         "seconds", "60"},
        {"write-datafile", "Write a Pellmar.dat that points at this service.", "path"},
        {"tls-cert", "Serve HTTPS only, with this PEM certificate (chain); needs --tls-key.",
         "file"},
        {"tls-key", "PEM private key of the --tls-cert certificate.", "file"},
        {"page-size", "Results per engine page (default 10).", "n", "10"},
        {"smb-host", "IP address the library is listed under as an SMB share.", "addr",
         "127.0.0.1"},
        {"smb-share", "Share name of the library (default mp3).", "name", "mp3"},
        {"ftp-site", "login@host:port the library is listed under as an FTP site.", "site",
         "anonymous@127.0.0.1:21"},
        {"ftp-not-leech", "The FTP site is not a leech site (leech=y finds nothing)."},
        {"serve-ftp", "Serve the library read-only over FTP on 127.0.0.1 (pyftpdlib) and list "
                      "it as that site."},
        {"serve-smb", "Serve the library as a read-only guest share on 127.0.0.1 (smbd) and "
                      "list it as that share."},
        {"program-folder", "Write the SMB server's port into Lanpull.ini in this folder.", "dir"},
        {"newest-version", "Program version offered in /version2.txt (default " + version + ").",
         "x.y", version},
        {"data-version", "Search-engine pages version (default 1).", "n", "1"},
        {"fail-second-engine", "Answer the second engine with \"Internal Server\" n times first.",
         "n", "0"},
        {"threads", "Requests answered at once (default: 4 per core, at least 32).", "n", "0"},
        {"delay-ms", "Wait this long before every answer (for time-limit tests).", "ms", "0"},
        {"make-sample", "Write a sample library of silent MP3 files into dir and exit.", "dir"},
        {"count", "Number of files of the sample library (default 60).", "n", "60"},
        {"crawl",
         "Crawl this http://, https://, ftp:// or smb:// folder into the index "
         "(repeatable).",
         "url"},
        {"sources",
         "File of folders to crawl: one URL a line, # comments; an smb line may add "
         "credentials=/path/file.",
         "file"},
        {"crawl-submitted", "Also crawl the sites submitted through the program."},
        {"recrawl", "Crawl again every this many hours (default: once at start).", "hours", "0"},
        {"per-host", "Requests in flight to one server while crawling (default 4).", "n", "4"},
        {"max-pages", "Listings read per source and crawl (default 100000).", "n", "100000"},
        {"max-depth", "Folders below a source's folder that are crawled (default 16).", "n", "16"},
    };
    parser.addOptions(options);
    parser.process(app);

    Options o;
    o.makeSample = parser.value("make-sample");
    o.sampleCount = intValue(parser, "count", 1, 100000);
    if (!o.makeSample.isEmpty())
        return o;
    ServiceSettings& s = o.settings;
    s.library = parser.value("library");
    o.crawlUrls = parser.values("crawl");
    o.sourcesFile = parser.value("sources");
    o.crawlSubmitted = parser.isSet("crawl-submitted");
    o.recrawlHours = intValue(parser, "recrawl", 0, 24 * 365);
    o.limits.perHost = intValue(parser, "per-host", 1, 64);
    o.limits.maxPages = intValue(parser, "max-pages", 1, 10000000);
    o.limits.maxDepth = intValue(parser, "max-depth", 0, 1000);
    const QString role = parser.value("role");
    if (role != QLatin1String("serve") && role != QLatin1String("crawl") &&
        role != QLatin1String("both"))
        usageError("--role must be serve, crawl or both");
    o.serves = role != QLatin1String("crawl");
    o.crawls = role != QLatin1String("serve");
    o.leaseSeconds = intValue(parser, "lease", 2, 86400);
    const bool crawlsSomething =
        !o.crawlUrls.isEmpty() || !o.sourcesFile.isEmpty() || o.crawlSubmitted;
    // A service that only serves a shared database needs nothing of its own to index.
    const bool servesShared = role == QLatin1String("serve") && parser.isSet("database");
    if (s.library.isEmpty() && !crawlsSomething && !servesShared)
        usageError("--library, --crawl or --sources is required (or --make-sample DIR)");
    s.bind = parser.value("bind");
    s.port = intValue(parser, "port", 0, 65535);
    s.publicHost = parser.value("public-host");
    s.pageSize = intValue(parser, "page-size", 1, 1000);
    s.smbHost = parser.value("smb-host");
    if (s.smbHost.isEmpty() || !s.smbHost.front().isDigit())
        usageError("--smb-host must be an IP address");
    s.smbShare = parser.value("smb-share");
    s.ftpSite = parser.value("ftp-site");
    if (!s.ftpSite.contains(':'))
        usageError("--ftp-site must be written login@host:port");
    s.ftpLeech = !parser.isSet("ftp-not-leech");
    s.version = parser.value("newest-version");
    if (s.version.size() != 3)
        usageError("--newest-version must be three characters, such as " +
                   QString::fromLatin1(kPellmarVersion));
    s.dataVersion = intValue(parser, "data-version", 0, 1000000);
    s.failSecondEngine = intValue(parser, "fail-second-engine", 0, 1000000);
    s.delayMs = intValue(parser, "delay-ms", 0, 600000);
    s.threads = intValue(parser, "threads", 0, 1024);
    o.writeDataFile = parser.value("write-datafile");
    o.tlsCertificate = parser.value("tls-cert");
    o.tlsKey = parser.value("tls-key");
    if (parser.isSet("tls-cert") != parser.isSet("tls-key"))
        usageError("--tls-cert and --tls-key go together");
    o.serveFtp = parser.isSet("serve-ftp");
    o.serveSmb = parser.isSet("serve-smb");
    o.programFolder = parser.value("program-folder");
    s.databaseUrl = parser.value("database");
    if (s.databaseUrl.isEmpty())
        s.database = parser.isSet("db") ? parser.value("db") : defaultDatabase();
    if (parser.isSet("db") && parser.isSet("database"))
        usageError("--db and --database name two different indexes: give one");
    // Only a library named here is scanned: a service without one must not empty the
    // library part of an index it shares with another.
    s.scanLibrary = o.crawls && !s.library.isEmpty();
    return o;
}

// SIGINT and SIGTERM stop the service (and the crawler, whose running walks are abandoned)
// from a thread of their own, since a signal handler may not touch the server. The caller
// joins the thread before the service goes: a stop that comes just before the service runs
// must not outlive it.
std::thread stopOnSignals(SearchService& service, Crawler* crawler) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return std::thread([&service, crawler, stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        if (crawler)
            crawler->stop();
        service.stop();
    });
}

void say(FILE* stream, const QString& line) {
    std::fprintf(stream, "pellmar-searchd: %s\n", qPrintable(line));
    std::fflush(stream);
}

// The sources to crawl: --crawl URLs, the --sources file and, when asked, the submitted
// sites. A line that cannot be used is reported; the service goes on without it.
QList<CrawlSource> crawlSources(const Options& options, ServiceIndex& index) {
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
    for (const QString& problem : problems)
        say(stderr, QStringLiteral("not crawled: ") + problem);
    return CrawlSources::unique(sources);
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
std::unique_ptr<FileServers> startFileServers(Options& options) {
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
std::shared_ptr<const TlsContext> loadTls(const Options& options) {
    if (options.tlsCertificate.isEmpty() && options.tlsKey.isEmpty())
        return nullptr;
    try {
        return std::make_shared<const TlsContext>(options.tlsCertificate, options.tlsKey);
    } catch (const ServiceError& error) {
        usageError(QString::fromUtf8(error.what()));
    }
}

// Binds and announces the service's address; writes the data file when asked.
void listen(SearchService& service, const Options& options) {
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

std::unique_ptr<Crawler> makeCrawler(const Options& options, SearchService& service) {
    const QList<CrawlSource> sources = crawlSources(options, service.index());
    if (!options.crawls || sources.isEmpty())
        return nullptr;
    auto crawler = std::make_unique<Crawler>(sources, service.index(), options.limits);
    crawler->setLeases(service.index(), Crawler::holderName(),
                       std::chrono::seconds(options.leaseSeconds));
    Crawler* running = crawler.get();
    service.setCrawlStates([running] { return running->states(); });
    return crawler;
}

int serve(Options options) {
    const std::shared_ptr<const TlsContext> tls = options.serves ? loadTls(options) : nullptr;
    RaiseFileDescriptorLimit(); // every waiting client holds a descriptor
    if (options.settings.library.isEmpty())
        options.settings.library = emptyLibrary(options.settings.database);
    for (const QString& folder : PrivateFolder::removeStale(QDir::tempPath()))
        say(stdout, QStringLiteral("removed %1, left by a service that has ended").arg(folder));
    const std::unique_ptr<FileServers> servers =
        options.serves ? startFileServers(options) : nullptr;
    SearchService service(options.settings, tls);
    if (options.settings.scanLibrary) {
        const ScanSummary& scan = service.scanSummary();
        std::printf("pellmar-searchd: %d MP3 files in %s (%d new or changed, %d gone)\n",
                    scan.files, qPrintable(QDir::toNativeSeparators(options.settings.library)),
                    scan.added, scan.removed);
    }
    say(stdout, QStringLiteral("index: %1").arg(service.index().description()));
    if (options.serves)
        listen(service, options);
    const std::unique_ptr<Crawler> crawler = makeCrawler(options, service);
    // SIGINT and SIGTERM stop the service (and so its servers) cleanly from the moment it
    // says that it listens, also before it has begun to serve.
    std::thread stopper = stopOnSignals(service, crawler.get());
    if (options.serves)
        std::printf("pellmar-searchd: listening on %s\n", qPrintable(service.baseUrl()));
    std::fflush(stdout);
    if (crawler) {
        const qsizetype count = crawler->states().size();
        say(stdout, QStringLiteral("crawling %1 %2")
                        .arg(count)
                        .arg(count == 1 ? QStringLiteral("source") : QStringLiteral("sources")));
        crawler->start(std::chrono::hours(options.recrawlHours));
    }
    if (options.serves)
        service.run();
    if (crawler) {
        if (options.serves)
            crawler->stop(); // running walks are abandoned: their old entries stay
        crawler->wait();     // a crawl-only service ends when its crawls do
    }
    // The stopper waits in sigwait for SIGTERM, so this only wakes it when no signal came.
    pthread_kill(stopper.native_handle(), SIGTERM); // NOLINT(bugprone-bad-signal-to-kill-thread)
    stopper.join();
    std::printf("pellmar-searchd: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pellmar-searchd");
    const Options options = parseOptions(app);
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
