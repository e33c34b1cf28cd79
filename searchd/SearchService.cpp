#include "searchd/SearchService.h"

#include "searchd/LibraryFolder.h"
#include "searchd/OpenServiceIndex.h"
#include "searchd/http/HttpServer.h"
#include "searchd/http/RequestLog.h"
#include "searchd/http/TlsContext.h"
#include "searchd/library/LibraryScan.h"
#include "searchd/notify/DesktopNotifier.h"
#include "searchd/pages/ServiceRoutes.h"
#include "searchd/pages/VisibleControls.h"
#include "searchd/relay/LoginRelay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// A request target as one printable log field: at most 300 bytes, odd bytes as \xNN.
std::string printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size() && i < 300; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > 300)
        out += "...";
    return out;
}

QString urlHost(const ServiceSettings& settings) {
    if (!settings.publicHost.isEmpty())
        return settings.publicHost;
    if (settings.bind == QLatin1String("0.0.0.0") || settings.bind == QLatin1String("::"))
        return QStringLiteral("127.0.0.1");
    return settings.bind.contains(QLatin1Char(':'))
               ? QLatin1Char('[') + settings.bind + QLatin1Char(']')
               : settings.bind;
}

// Connections that may wait for their header at once: what the descriptor limit leaves
// after the connections being answered (a connection and a file each, four for every
// worker; see HttpServer) and the service's own files.
size_t waitingRoom(const ServiceSettings& settings) {
    if (settings.maxWaiting > 0)
        return static_cast<size_t>(settings.maxWaiting);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t reserved = 64 + 8 * static_cast<rlim_t>(workerCount(settings));
    const rlim_t room = limit.rlim_cur > reserved + 16 ? limit.rlim_cur - reserved : 16;
    return static_cast<size_t>(std::min<rlim_t>(room, 10000));
}

// A database server's connections: one for every worker and two for the crawler, so that no
// answer waits for another's connection; they are opened as they are needed.
IndexSettings indexSettings(const ServiceSettings& settings) {
    const int connections =
        settings.connections > 0 ? settings.connections : workerCount(settings) + 2;
    return {settings.database, settings.databaseUrl, connections};
}

HttpServer::Limits serverLimits(const ServiceSettings& settings) {
    HttpServer::Limits limits;
    limits.header = std::chrono::milliseconds(settings.headerTimeoutMs);
    limits.idle = std::chrono::milliseconds(settings.idleTimeoutMs);
    limits.maxWaiting = waitingRoom(settings);
    limits.workers = workerCount(settings);
    return limits;
}

} // namespace

SearchService::SearchService(const ServiceSettings& settings, std::shared_ptr<const TlsContext> tls)
    : m_settings(settings), m_index(openServiceIndex(indexSettings(settings))),
      m_library(std::make_unique<LibraryFolder>(settings.library)), m_tls(std::move(tls)),
      m_server(std::make_unique<HttpServer>(
          serverLimits(settings), [this](const HttpRequest& request) { return handle(request); })),
      m_notifier(std::make_unique<DesktopNotifier>(settings.notify)) {
    if (m_tls)
        m_server->useTls(m_tls->certificatePem(), m_tls->keyPem());
    if (m_settings.delayMs == 0)
        m_server->answerAtOnce([](const HttpRequest& request) {
            return ServiceRoutes::answersAtOnce(QByteArray::fromStdString(request.target));
        });
    if (m_settings.logRequests) {
        m_log = std::make_unique<RequestLog>(stdout);
        m_server->setLogger([this](const HttpRequest& request, int status, uint64_t bytes) {
            m_log->add(logLine(request, status, bytes));
        });
    }
    if (m_settings.scanLibrary)
        m_scan = LibraryScan::run(*m_index, *m_library);
}

SearchService::~SearchService() = default;

int SearchService::bind() {
    const int port = m_server->bindTo(m_settings.bind.toStdString(), m_settings.port);
    if (port <= 0)
        throw ServiceError(QStringLiteral("Cannot listen on %1 port %2")
                               .arg(m_settings.bind, QString::number(m_settings.port)));
    m_baseUrl = QStringLiteral("%1://%2:%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"),
                         urlHost(m_settings), QString::number(port));
    m_routes = std::make_unique<ServiceRoutes>(m_settings, m_baseUrl, *m_library, *m_index);
    m_routes->setCrawlStates(m_crawlStates);
    m_routes->setCrawlControl(m_crawlControl);
    m_routes->setRelay(m_relay.get());
    return port;
}

void SearchService::setCrawlStates(CrawlStates provider) {
    m_crawlStates = provider;
    if (m_routes)
        m_routes->setCrawlStates(std::move(provider));
}

void SearchService::setCrawlControl(CrawlControl control) {
    m_crawlControl = control;
    if (m_routes)
        m_routes->setCrawlControl(std::move(control));
}

void SearchService::relayLogins(const QList<CrawlSource>& sources) {
    if (m_routes)
        m_routes->setRelay(nullptr);
    m_relay = std::make_unique<LoginRelay>(sources, *m_index);
    if (m_routes)
        m_routes->setRelay(m_relay.get());
}

QString SearchService::dataFileProblem() const {
    return m_routes ? m_routes->dataFileProblem() : QString();
}

void SearchService::runSavedSearches() {
    if (!m_routes)
        return;
    QList<SavedRun> runs;
    try {
        runs = m_routes->savedSearches().runAll();
    } catch (const ServiceError& error) {
        std::fprintf(stderr, "pellmar-searchd: the saved searches did not run: %s\n", error.what());
        return;
    }
    for (const SavedRun& run : runs) {
        const QString summary =
            DesktopNotifier::summaryFor(run.search.words, static_cast<int>(run.found.size()));
        std::printf("pellmar-searchd: %s\n", qPrintable(summary));
        std::fflush(stdout);
        QStringList names; // from other machines: their controls are shown, not obeyed
        for (const SavedMatch& match : run.found)
            names.append(VisibleControls::shown(match.name));
        m_notifier->notify(summary, DesktopNotifier::bodyFor(names));
    }
}

void SearchService::run() {
    if (!m_server->serve())
        throw ServiceError(QStringLiteral("Cannot serve HTTP on %1 port %2")
                               .arg(m_settings.bind, QString::number(m_settings.port)));
    if (m_log)
        m_log->flush(); // every request's line comes before what the caller says next
}

void SearchService::stop() {
    m_server->halt();
}

// The routes decide which methods they take (the HTTP server sends no body for HEAD).
HttpAnswer SearchService::handle(const HttpRequest& request) {
    HttpAnswer out;
    if (m_settings.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_settings.delayMs));
    const ServiceAnswer answer = answerOrUnavailable(
        {QByteArray::fromStdString(request.method), QByteArray::fromStdString(request.target),
         QByteArray::fromStdString(request.range), QString::fromStdString(request.remoteAddress)});
    out.status = answer.status;
    out.contentType = answer.contentType.toStdString();
    for (const auto& [name, value] : answer.headers)
        out.headers.emplace_back(name.toStdString(), value.toStdString());
    if (answer.stream) {
        const auto stream = answer.stream;
        const qint64 start = answer.fileOffset, length = answer.fileLength;
        out.fileLength = length;
        out.stream = [stream, start,
                      length](const std::function<bool(const char*, size_t)>& write) {
            return stream(start, length, write);
        };
        return out;
    }
    if (!answer.file) {
        out.body = answer.body.toStdString();
        return out;
    }
    // The server closes the descriptor when the answer is sent.
    out.fileFd = answer.file->release();
    out.fileOffset = answer.fileOffset;
    out.fileLength = answer.fileLength;
    return out;
}

// While the index cannot be reached, answers that need it say so, and the client may come
// back; the engine reports the outage and its end on standard error itself.
ServiceAnswer SearchService::answerOrUnavailable(const ServiceRequest& request) {
    try {
        return m_routes->answer(request);
    } catch (const IndexUnavailable& error) {
        ServiceAnswer answer;
        answer.status = 503;
        answer.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "5"));
        answer.body = "503 Service Unavailable: the index cannot be reached; try again soon\n";
        return answer;
    }
}

std::string SearchService::logLine(const HttpRequest& request, int status, uint64_t bytes) {
    const std::string method = request.method.empty() ? "-" : printable(request.method);
    const std::string target = request.target.empty() ? "-" : printable(request.target);
    return (request.remoteAddress.empty() ? "-" : request.remoteAddress) + " \"" + method + ' ' +
           target + "\" " + std::to_string(status) + ' ' + std::to_string(bytes) + '\n';
}
