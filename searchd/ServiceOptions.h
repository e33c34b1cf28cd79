#pragma once

#include "crawl/CrawlLimits.h"
#include "searchd/ServiceSettings.h"

#include <QString>
#include <QStringList>
#include <optional>

// What pellmar-searchd's command line asks for.
struct ServiceOptions {
    ServiceSettings settings; // settings.database stays empty when neither --db nor --database
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

// A command line read: options to run with, or what to say and the exit status.
struct ParsedServiceOptions {
    std::optional<ServiceOptions> options;
    QString help;  // --help: goes to standard output, status 0
    QString error; // a bad command line: goes to standard error after the program's name
    int exitStatus = 0;
};

// Reads a whole command line, the program's name first. Touches no file and never exits: an
// unknown option or a missing value is status 1, any other bad option status 2.
ParsedServiceOptions parseServiceOptions(const QStringList& arguments);
