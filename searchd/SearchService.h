#pragma once

#include "searchd/CrawlIndex.h"
#include "searchd/LibraryIndex.h"
#include "searchd/ServiceSettings.h"

#include <QList>
#include <QString>
#include <memory>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

class GatedServer;
class LibraryFolder;
class ServiceRoutes;
class SqliteDatabase;
class SubmissionStore;

// pellmar-searchd as an object: opens the database, rescans the library, then serves HTTP
// on its own threads until stopped. Logs one line per request on stdout. Slow and idle
// clients wait at a gate (see GatedServer) and are closed when they exceed its limits.
class SearchService {
public:
    // Throws ServiceError when the library or the database cannot be used.
    explicit SearchService(const ServiceSettings& settings);
    ~SearchService();

    const ScanSummary& scanSummary() const { return m_scan; }

    // The index of crawled servers, in the service's database: the crawler's sink.
    CrawlIndex& crawlIndex() { return *m_crawlIndex; }

    // Where the status page learns each source's walk; set before or after bind().
    void setCrawlStates(CrawlStates provider);

    // Binds the address and port (0: any free port) and returns the port. Throws
    // ServiceError when that fails.
    int bind();

    // Why the service has no data file to hand out; empty when it has one.
    QString dataFileProblem() const;

    // "http://host:port", known after bind().
    QString baseUrl() const { return m_baseUrl; }

    // Serves until stop(); call after bind().
    void run();

    // Safe from any thread, also before run() has started.
    void stop();

private:
    void configureServer();
    void handle(const httplib::Request& request, httplib::Response& response);
    static void log(const httplib::Request& request, const httplib::Response& response);

    ServiceSettings m_settings;
    std::unique_ptr<SqliteDatabase> m_db;
    std::unique_ptr<LibraryFolder> m_library;
    std::unique_ptr<LibraryIndex> m_index;
    std::unique_ptr<CrawlIndex> m_crawlIndex;
    std::unique_ptr<SubmissionStore> m_submissions;
    std::unique_ptr<ServiceRoutes> m_routes;
    std::unique_ptr<GatedServer> m_server;
    ScanSummary m_scan;
    CrawlStates m_crawlStates;
    QString m_baseUrl;
};
