#pragma once

#include "crawl/CrawlTypes.h"
#include "searchd/ServiceSettings.h"
#include "searchd/index/IndexTypes.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

class DesktopNotifier;
class HttpServer;
class LibraryFolder;
class LoginRelay;
class RequestLog;
class ServiceIndex;
class ServiceRoutes;
struct HttpAnswer;
struct HttpRequest;
struct ServiceAnswer;
struct ServiceRequest;
class TlsContext;

// pellmar-searchd as an object: opens the index, rescans the library, then serves HTTP
// on its own threads until stopped. Logs one line per request on stdout, from a thread of
// its own (see RequestLog). Slow and idle
// clients are closed when they exceed the HTTP server's limits (see HttpServer).
class SearchService {
public:
    // Throws ServiceError when the library or the index cannot be used. With tls it
    // serves HTTPS only, and every address it hands out is https.
    explicit SearchService(const ServiceSettings& settings,
                           std::shared_ptr<const TlsContext> tls = nullptr);
    ~SearchService();

    const ScanSummary& scanSummary() const { return m_scan; }

    // The service's index: also the crawler's sink and leases.
    ServiceIndex& index() { return *m_index; }

    // Where the status page learns each source's walk; set before or after bind().
    void setCrawlStates(CrawlStates provider);
    // What the status page may do with the crawler; set before or after bind().
    void setCrawlControl(CrawlControl control);

    // The sources it crawls: the files of those that need a login are relayed by the
    // service (see LoginRelay), and their hits point at it. Call before run().
    void relayLogins(const QList<CrawlSource>& sources);

    // Runs the saved searches (after a crawl) and tells the desktop of the new files each
    // found, one notification per search. Does nothing before bind(). Safe from any thread.
    void runSavedSearches();

    // Binds the address and port (0: any free port) and returns the port. Throws
    // ServiceError when that fails.
    int bind();

    // Why the service has no data file to hand out; empty when it has one.
    QString dataFileProblem() const;

    // "http://host:port" or "https://host:port", known after bind().
    QString baseUrl() const { return m_baseUrl; }

    // Serves until stop(); call after bind(). Throws ServiceError when serving cannot start.
    void run();

    // Safe from any thread, also before run() has started.
    void stop();

private:
    HttpAnswer handle(const HttpRequest& request);
    ServiceAnswer answerOrUnavailable(const ServiceRequest& request);
    static std::string logLine(const HttpRequest& request, int status, uint64_t bytes);

    ServiceSettings m_settings;
    std::unique_ptr<ServiceIndex> m_index;
    std::unique_ptr<LibraryFolder> m_library;
    std::unique_ptr<LoginRelay> m_relay;
    std::unique_ptr<ServiceRoutes> m_routes;
    std::shared_ptr<const TlsContext> m_tls;
    std::unique_ptr<RequestLog> m_log;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<DesktopNotifier> m_notifier;
    ScanSummary m_scan;
    CrawlStates m_crawlStates;
    CrawlControl m_crawlControl;
    QString m_baseUrl;
};
