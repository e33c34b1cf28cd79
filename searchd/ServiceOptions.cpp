#include "searchd/ServiceOptions.h"

#include <QCommandLineParser>
#include <QHostAddress>

namespace {

// A bad option: its text goes to standard error and the service exits with status 2. Thrown
// and caught inside this file only, so that the checks read in a row.
struct BadOption {
    QString text;
};

int intValue(const QCommandLineParser& parser, const QString& name, int low, int high) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        throw BadOption{QStringLiteral("--%1 needs a number from %2 to %3")
                            .arg(name, QString::number(low), QString::number(high))};
    return value;
}

// One option: its name, its help text and, for an option with a value, the value's name
// and default (none: the program's own version, which the help text names at its %1).
struct OptionRow {
    const char* name;
    const char* text;
    const char* valueName = "";
    const char* defaultValue = "";
};

const OptionRow kOptions[] = {
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
    {"tls-cert", "Serve HTTPS only, with this PEM certificate (chain); needs --tls-key.", "file"},
    {"tls-key", "PEM private key of the --tls-cert certificate.", "file"},
    {"page-size", "Results per engine page (default 10).", "n", "10"},
    {"smb-host", "IPv4 address the library is listed under as an SMB share.", "addr", "127.0.0.1"},
    {"smb-share", "Share name of the library (default mp3).", "name", "mp3"},
    {"ftp-site", "login@host:port the library is listed under as an FTP site.", "site",
     "anonymous@127.0.0.1:21"},
    {"ftp-not-leech", "The FTP site is not a leech site (leech=y finds nothing)."},
    {"serve-ftp", "Serve the library read-only over FTP on 127.0.0.1 (pyftpdlib) and list "
                  "it as that site."},
    {"serve-smb", "Serve the library as a read-only guest share on 127.0.0.1 (smbd) and "
                  "list it as that share."},
    {"program-folder", "Write the SMB server's port into Lanpull.ini in this folder.", "dir"},
    {"newest-version", "Program version offered in /version2.txt (default %1).", "x.y", nullptr},
    {"data-version", "Search-engine pages version (default 1).", "n", "1"},
    {"threads", "Requests answered at once (default: 4 per core, at least 32).", "n", "0"},
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
    {"no-notify", "Send no desktop notification when a saved search finds new files."},
    {"recrawl", "Crawl again every this many hours (default: once at start).", "hours", "0"},
    {"per-host", "Requests in flight to one server while crawling (default 4).", "n", "4"},
    {"max-pages", "Listings read per source and crawl (default 100000).", "n", "100000"},
    {"max-depth", "Folders below a source's folder that are crawled (default 16).", "n", "16"},
};

void addOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Indexes a folder of MP3 files and answers Pellmar's searches, version check and site "
        "submissions over HTTP or HTTPS."));
    parser.addHelpOption();
    const QString version = QString::fromLatin1(kPellmarVersion);
    for (const OptionRow& row : kOptions) {
        const QString text = QString::fromLatin1(row.text);
        const bool versionDefault = row.defaultValue == nullptr;
        parser.addOption(QCommandLineOption(
            QString::fromLatin1(row.name), versionDefault ? text.arg(version) : text,
            QString::fromLatin1(row.valueName),
            versionDefault ? version : QString::fromLatin1(row.defaultValue)));
    }
}

// The crawler's part: what it crawls, how hard, and whether this process serves or crawls.
void readCrawling(const QCommandLineParser& parser, ServiceOptions& o) {
    o.crawlUrls = parser.values(QStringLiteral("crawl"));
    o.sourcesFile = parser.value(QStringLiteral("sources"));
    o.crawlSubmitted = parser.isSet(QStringLiteral("crawl-submitted"));
    o.recrawlHours = intValue(parser, QStringLiteral("recrawl"), 0, 24 * 365);
    o.limits.perHost = intValue(parser, QStringLiteral("per-host"), 1, 64);
    o.limits.maxPages = intValue(parser, QStringLiteral("max-pages"), 1, 10000000);
    o.limits.maxDepth = intValue(parser, QStringLiteral("max-depth"), 0, 1000);
    const QString role = parser.value(QStringLiteral("role"));
    if (role != QLatin1String("serve") && role != QLatin1String("crawl") &&
        role != QLatin1String("both"))
        throw BadOption{QStringLiteral("--role must be serve, crawl or both")};
    o.serves = role != QLatin1String("crawl");
    o.crawls = role != QLatin1String("serve");
    o.leaseSeconds = intValue(parser, QStringLiteral("lease"), 2, 86400);
    const bool crawlsSomething =
        !o.crawlUrls.isEmpty() || !o.sourcesFile.isEmpty() || o.crawlSubmitted;
    // A service that only serves a shared database needs nothing of its own to index.
    const bool servesShared =
        role == QLatin1String("serve") && parser.isSet(QStringLiteral("database"));
    if (o.settings.library.isEmpty() && !crawlsSomething && !servesShared)
        throw BadOption{
            QStringLiteral("--library, --crawl or --sources is required (or --make-sample DIR)")};
}

// The SMB listing names the library's share by an IPv4 address, as it names every crawled
// share; the address is written the usual way ("127.1" is listed as "127.0.0.1").
QString smbHost(const QString& text) {
    const QHostAddress address(text);
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        throw BadOption{QStringLiteral("--smb-host must be an IP address")};
    return address.toString();
}

// What the HTTP side answers with and where it listens.
void readServing(const QCommandLineParser& parser, ServiceOptions& o) {
    ServiceSettings& s = o.settings;
    s.bind = parser.value(QStringLiteral("bind"));
    s.port = intValue(parser, QStringLiteral("port"), 0, 65535);
    s.publicHost = parser.value(QStringLiteral("public-host"));
    s.pageSize = intValue(parser, QStringLiteral("page-size"), 1, 1000);
    s.smbHost = smbHost(parser.value(QStringLiteral("smb-host")));
    s.smbShare = parser.value(QStringLiteral("smb-share"));
    s.ftpSite = parser.value(QStringLiteral("ftp-site"));
    if (!s.ftpSite.contains(QLatin1Char(':')))
        throw BadOption{QStringLiteral("--ftp-site must be written login@host:port")};
    s.ftpLeech = !parser.isSet(QStringLiteral("ftp-not-leech"));
    s.version = parser.value(QStringLiteral("newest-version"));
    if (s.version.size() != 3)
        throw BadOption{QStringLiteral("--newest-version must be three characters, such as ") +
                        QString::fromLatin1(kPellmarVersion)};
    s.dataVersion = intValue(parser, QStringLiteral("data-version"), 0, 1000000);
    s.threads = intValue(parser, QStringLiteral("threads"), 0, 1024);
    s.notify = !parser.isSet(QStringLiteral("no-notify"));
    o.writeDataFile = parser.value(QStringLiteral("write-datafile"));
    o.tlsCertificate = parser.value(QStringLiteral("tls-cert"));
    o.tlsKey = parser.value(QStringLiteral("tls-key"));
    if (parser.isSet(QStringLiteral("tls-cert")) != parser.isSet(QStringLiteral("tls-key")))
        throw BadOption{QStringLiteral("--tls-cert and --tls-key go together")};
    o.serveFtp = parser.isSet(QStringLiteral("serve-ftp"));
    o.serveSmb = parser.isSet(QStringLiteral("serve-smb"));
    o.programFolder = parser.value(QStringLiteral("program-folder"));
}

ServiceOptions readOptions(const QCommandLineParser& parser) {
    ServiceOptions o;
    o.makeSample = parser.value(QStringLiteral("make-sample"));
    o.sampleCount = intValue(parser, QStringLiteral("count"), 1, 100000);
    if (!o.makeSample.isEmpty())
        return o;
    o.settings.library = parser.value(QStringLiteral("library"));
    readCrawling(parser, o);
    readServing(parser, o);
    ServiceSettings& s = o.settings;
    s.databaseUrl = parser.value(QStringLiteral("database"));
    s.database = s.databaseUrl.isEmpty() ? parser.value(QStringLiteral("db")) : QString();
    if (parser.isSet(QStringLiteral("db")) && parser.isSet(QStringLiteral("database")))
        throw BadOption{QStringLiteral("--db and --database name two different indexes: give one")};
    // Only a library named here is scanned: a service without one must not empty the
    // library part of an index it shares with another.
    s.scanLibrary = o.crawls && !s.library.isEmpty();
    return o;
}

} // namespace

ParsedServiceOptions parseServiceOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    addOptions(parser);
    ParsedServiceOptions parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        parsed.exitStatus = 1;
        return parsed;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        parsed.help = parser.helpText();
        return parsed;
    }
    try {
        parsed.options = readOptions(parser);
    } catch (const BadOption& bad) {
        parsed.error = bad.text;
        parsed.exitStatus = 2;
    }
    return parsed;
}
