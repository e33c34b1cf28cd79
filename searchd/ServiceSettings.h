#pragma once

#include "PellmarVersion.h"

#include <QString>
#include <algorithm>
#include <thread>

// What pellmar-searchd is told on its command line.
struct ServiceSettings {
    QString library;                            // folder of MP3 files
    QString bind = QStringLiteral("127.0.0.1"); // address to listen on
    int port = 8790;                            // 0: any free port
    QString publicHost;      // host in the URLs it hands out; empty: the bind address
    QString database;        // SQLite file of the index and the submissions
    QString databaseUrl;     // when set, the index is in this PostgreSQL database instead
    int connections = 0;     // PostgreSQL connections at most; 0: the engine picks
    bool scanLibrary = true; // bring the index's library files in line with the folder
    int pageSize = 10;       // results per engine page
    QString smbHost = QStringLiteral("127.0.0.1"); // the library as an SMB share of this address
    QString smbShare = QStringLiteral("mp3");
    QString ftpSite = QStringLiteral("anonymous@127.0.0.1:21"); // and as this FTP site
    bool ftpLeech = true; // the FTP site counts as a leech site
    // The newest program version in "/version2.txt".
    QString version = QString::fromLatin1(kPellmarVersion);
    int dataVersion = 1; // search-engine pages version
    bool notify = true;  // tell the desktop of new files that saved searches found
    // For the program's tests, which run the service in-process; no option sets them.
    int failSecondEngine = 0;    // answer "Internal Server" this many times first
    int delayMs = 0;             // wait this long before every answer
    bool logRequests = true;     // one line per request on stdout
    int threads = 0;             // requests served at once; 0: workerCount() picks
    int headerTimeoutMs = 10000; // a request's header must arrive within this
    int idleTimeoutMs = 5000;    // a connection silent this long is closed
    int maxWaiting = 0;          // connections waiting for their header; 0: as descriptors allow
};

// The threads that answer requests: threads when set, else four for each core and at least
// 32. A thread is held while a route works (an index query may wait for the database), not
// while a client downloads, and each also has a database connection of its own.
inline int workerCount(const ServiceSettings& settings) {
    if (settings.threads > 0)
        return settings.threads;
    return std::max(32, 4 * static_cast<int>(std::thread::hardware_concurrency()));
}
