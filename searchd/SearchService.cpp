#include "searchd/SearchService.h"

#include "searchd/LibraryFolder.h"
#include "searchd/OpenServiceIndex.h"
#include "searchd/http/ConnectionStream.h"
#include "searchd/http/GatedServer.h"
#include "searchd/http/RequestLog.h"
#include "searchd/library/LibraryScan.h"
#include "searchd/notify/DesktopNotifier.h"
#include "searchd/pages/ServiceRoutes.h"
#include "searchd/pages/VisibleControls.h"
#include "searchd/relay/LoginRelay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <sys/resource.h>
#include <thread>

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

const char* statusText(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    case 503:
        return "Service Unavailable";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

// httplib refuses a target with a second '?', but the program leaves a '?' of the search
// text unescaped ("Why?"). Such a request still has its method, target and version, and
// only its header lines are unread, which a search or a submission does not need.
bool hasSeveralQuestionMarks(const httplib::Request& request, const httplib::Response& response) {
    return response.status == 400 && (request.method == "GET" || request.method == "HEAD") &&
           (request.version == "HTTP/1.0" || request.version == "HTTP/1.1") &&
           std::count(request.target.begin(), request.target.end(), '?') > 1;
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
// after the workers (a connection and a file each) and the service's own files.
size_t waitingRoom(const ServiceSettings& settings) {
    if (settings.maxWaiting > 0)
        return static_cast<size_t>(settings.maxWaiting);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t reserved = 64 + 2 * static_cast<rlim_t>(workerCount(settings));
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

RequestGate::Limits gateLimits(const ServiceSettings& settings) {
    RequestGate::Limits limits;
    limits.header = std::chrono::milliseconds(settings.headerTimeoutMs);
    limits.idle = std::chrono::milliseconds(settings.idleTimeoutMs);
    limits.maxWaiting = waitingRoom(settings);
    return limits;
}

} // namespace

SearchService::SearchService(const ServiceSettings& settings, std::shared_ptr<const TlsContext> tls)
    : m_settings(settings), m_index(openServiceIndex(indexSettings(settings))),
      m_library(std::make_unique<LibraryFolder>(settings.library)), m_tls(std::move(tls)),
      m_server(std::make_unique<GatedServer>(gateLimits(settings), workerCount(settings))),
      m_notifier(std::make_unique<DesktopNotifier>(settings.notify)) {
    if (m_tls)
        m_server->useTls(m_tls.get());
    if (m_settings.scanLibrary)
        m_scan = LibraryScan::run(*m_index, *m_library);
    configureServer();
}

void SearchService::configureServer() {
    // A browser must not take a listing or an error text for a page of its own.
    m_server->set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    // httplib's own range handling miscounts unsatisfiable and multiple ranges, so the
    // routes answer ranges themselves and httplib must not apply them a second time.
    m_server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        const_cast<httplib::Request&>(request).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response);
    };
    m_server->Get(".*", handler);
    auto refuse = [](const httplib::Request&, httplib::Response& response) {
        response.status = 405;
        response.set_header("Allow", "GET, HEAD");
        response.set_content("Only GET and HEAD are served\n", "text/plain; charset=utf-8");
    };
    // The routes that take a POST (without a body) start a crawl and keep saved searches.
    m_server->Post("/api/crawl", handler);
    m_server->Post("/api/saved(/.*)?", handler);
    m_server->Post(".*", refuse);
    m_server->Put(".*", refuse);
    m_server->Delete(".*", refuse);
    m_server->Patch(".*", refuse);
    m_server->set_error_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            if (hasSeveralQuestionMarks(request, response)) {
                handle(request, response);
                return;
            }
            if (response.body.empty() && !response.content_provider_) {
                const std::string text =
                    std::to_string(response.status) + ' ' + statusText(response.status) + '\n';
                response.set_content(text, "text/plain; charset=utf-8");
            }
        });
    if (m_settings.logRequests) {
        m_log = std::make_unique<RequestLog>(stdout);
        m_server->set_logger(
            [this](const httplib::Request& request, const httplib::Response& response) {
                m_log->add(logLine(request, response));
            });
    }
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
    m_server->serve();
    if (m_log)
        m_log->flush(); // every request's line comes before what the caller says next
}

void SearchService::stop() {
    m_server->halt();
}

void SearchService::handle(const httplib::Request& request, httplib::Response& response) {
    if (m_settings.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_settings.delayMs));
    ServiceRequest in{QByteArray::fromStdString(request.method),
                      QByteArray::fromStdString(request.target),
                      QByteArray::fromStdString(request.get_header_value("Range")),
                      QString::fromStdString(request.remote_addr)};
    ServiceAnswer out = answerOrUnavailable(in);
    response.status = out.status;
    for (const auto& [name, value] : out.headers)
        response.set_header(name.toStdString(), value.toStdString());
    if (out.stream) {
        // The whole part goes out in one call: a call after it means the source ended short.
        auto stream = out.stream;
        const qint64 start = out.fileOffset;
        const qint64 length = out.fileLength;
        response.set_content_provider(
            static_cast<size_t>(length), out.contentType.toStdString(),
            [stream, start, length](size_t offset, size_t, httplib::DataSink& sink) {
                return offset == 0 && stream(start, length, [&sink](const char* data, size_t size) {
                           return sink.write(data, size);
                       });
            });
        return;
    }
    if (!out.file) {
        response.set_content(out.body.toStdString(), out.contentType.toStdString());
        return;
    }
    auto file = out.file;
    const qint64 start = out.fileOffset;
    response.set_content_provider(
        static_cast<size_t>(out.fileLength), out.contentType.toStdString(),
        [file, start](size_t offset, size_t length, httplib::DataSink& sink) {
            return ConnectionStream::sendFile(sink, file->handle(),
                                              start + static_cast<qint64>(offset), length);
        });
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

std::string SearchService::logLine(const httplib::Request& request,
                                   const httplib::Response& response) {
    const size_t bytes = response.body.empty() ? response.content_length_ : response.body.size();
    const std::string method = request.method.empty() ? "-" : printable(request.method);
    const std::string target = request.target.empty() ? "-" : printable(request.target);
    return (request.remote_addr.empty() ? "-" : request.remote_addr) + " \"" + method + ' ' +
           target + "\" " + std::to_string(response.status) + ' ' + std::to_string(bytes) + '\n';
}
