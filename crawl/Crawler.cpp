#include "crawl/Crawler.h"

#include "crawl/CurlWalk.h"
#include "crawl/HostLimits.h"
#include "crawl/ProgressBoard.h"
#include "crawl/SmbWalk.h"

#include <QCoreApplication>
#include <cstdio>
#include <curl/curl.h>
#include <map>

namespace {

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<CurlRequest*>(user);
    const qint64 bytes = qint64(size) * qint64(count);
    const qint64 room = request->maxBytes - request->body.size();
    if (bytes > room) {
        request->body.append(data, room);
        request->overflow = true;
        return 0; // ends the transfer
    }
    request->body.append(data, bytes);
    return size * count;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<CurlRequest*>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) { // a new answer (after a 100 Continue): start over
        request->contentType.clear();
        request->retryAfter.clear();
        request->location.clear();
        request->contentRange.clear();
        request->contentLength.clear();
        request->etag.clear();
        return size * count;
    }
    const int colon = line.indexOf(':');
    if (colon <= 0)
        return size * count;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed().left(4096);
    if (name == "content-type")
        request->contentType = value;
    else if (name == "retry-after")
        request->retryAfter = value;
    else if (name == "location")
        request->location = value;
    else if (name == "content-range")
        request->contentRange = value;
    else if (name == "content-length")
        request->contentLength = value;
    else if (name == "etag")
        request->etag = value;
    return size * count;
}

void printToStandardError(const QString& line) {
    std::fprintf(stderr, "pellmar-searchd: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

} // namespace

Crawler::Crawler(QList<CrawlSource> sources, CrawlSink& sink, CrawlLimits limits, Print print)
    : m_sources(std::move(sources)), m_sink(sink), m_limits(limits),
      m_board(std::make_unique<ProgressBoard>(m_sources,
                                              print ? std::move(print) : printToStandardError)) {
    static CurlGlobal global; // once per process, before any thread uses libcurl
}

Crawler::~Crawler() {
    stop();
    wait();
}

QList<Crawler::SourceState> Crawler::states() const {
    QList<SourceState> states;
    for (const ProgressBoard::Row& row : m_board->rows())
        states << SourceState{row.source, row.progress};
    return states;
}

void Crawler::start(std::chrono::seconds interval) {
    m_thread = std::thread([this, interval] { runSchedule(interval); });
}

void Crawler::wait() {
    if (m_thread.joinable())
        m_thread.join();
}

void Crawler::stop() {
    m_stop = true;
    std::lock_guard lock(m_mutex);
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM*>(m_multi));
    m_wake.notify_all();
}

void Crawler::runSchedule(std::chrono::seconds interval) {
    while (!m_stop) {
        crawlOnce();
        if (interval.count() <= 0 || m_stop)
            return;
        m_board->setNextStart(QDateTime::currentDateTimeUtc().addSecs(interval.count()));
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, interval, [this] { return m_stop.load(); });
    }
}

void Crawler::crawlOnce() {
    m_board->setNextStart(QDateTime());
    std::vector<std::thread> smbThreads;
    smbThreads.reserve(m_sources.size());
    for (int i = 0; i < m_sources.size(); ++i) {
        if (m_sources[i].url.scheme() != QLatin1String("smb"))
            continue;
        smbThreads.emplace_back(
            [this, i] { SmbWalk(i, m_sources[i], m_sink, m_limits, *m_board, m_stop).run(); });
    }
    // The SMB walks end (stopped if need be) before this returns, also on an exception.
    struct JoinAll {
        std::vector<std::thread>& threads;
        std::atomic<bool>& stop;
        ~JoinAll() {
            if (std::uncaught_exceptions() > 0)
                stop = true;
            for (std::thread& thread : threads)
                thread.join();
        }
    } joinAll{smbThreads, m_stop};
    runCurlWalks();
    m_board->tick();
}

void Crawler::runCurlWalks() {
    HostLimits hosts(m_limits.perHost);
    std::vector<std::unique_ptr<CurlWalk>> walks;
    for (int i = 0; i < m_sources.size(); ++i) {
        if (m_sources[i].url.scheme() == QLatin1String("smb"))
            continue;
        walks.push_back(
            std::make_unique<CurlWalk>(i, m_sources[i], m_sink, m_limits, hosts, *m_board));
        walks.back()->begin();
    }
    if (walks.empty())
        return;
    CURLM* multi = curl_multi_init();
    {
        std::lock_guard lock(m_mutex);
        m_multi = multi;
    }
    std::map<CURL*, std::unique_ptr<CurlRequest>> running;
    const auto startRequest = [&](std::unique_ptr<CurlRequest> request) {
        CURL* easy = curl_easy_init();
        request->body.clear();
        request->overflow = false;
        request->status = 0;
        request->result = CURLE_OK;
        const QByteArray url = request->url.toEncoded();
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Pellmar");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(m_limits.connectTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_limits.lowSpeedBytes);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(m_limits.lowSpeedTime.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(m_limits.transferTimeout.count()));
        curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
        if (request->kind == CurlRequest::Robots) {
            curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 3L);
            curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        }
        if (request->mlsd)
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "MLSD");
        if (!request->range.isEmpty())
            curl_easy_setopt(easy, CURLOPT_RANGE, request->range.constData());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, request.get());
        hosts.started(request->walk->host(), HostLimits::Clock::now());
        curl_multi_add_handle(multi, easy);
        running.emplace(easy, std::move(request));
    };
    const auto allDone = [&] {
        for (const auto& walk : walks)
            if (!walk->done())
                return false;
        return true;
    };
    while (!m_stop && !allDone()) {
        const auto now = HostLimits::Clock::now();
        for (const auto& walk : walks) {
            while (!walk->done() && hosts.mayStart(walk->host(), now)) {
                std::unique_ptr<CurlRequest> request = walk->next();
                if (!request)
                    break;
                startRequest(std::move(request));
            }
            walk->maybeFinish();
        }
        int stillRunning = 0;
        curl_multi_perform(multi, &stillRunning);
        int queued = 0;
        bool finishedAny = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            finishedAny = true;
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            auto it = running.find(easy);
            std::unique_ptr<CurlRequest> request = std::move(it->second);
            running.erase(it);
            request->result = result;
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            // FTP reply codes are not HTTP statuses: the walk reads FTP by the result.
            request->status = request->url.scheme().startsWith(QLatin1String("http")) ? status : 0;
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            hosts.ended(request->walk->host());
            CurlWalk* walk = request->walk;
            walk->finished(std::move(request));
        }
        m_board->tick();
        // What finished may have freed a slot: the next requests start before any wait.
        if (!finishedAny)
            curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    // Stopped: what is still in flight is dropped, its walk abandoned.
    for (auto& [easy, request] : running) {
        curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        request->walk->requestDropped();
    }
    running.clear();
    for (const auto& walk : walks)
        if (!walk->done())
            walk->abandon(QStringLiteral("the service stops"));
    {
        std::lock_guard lock(m_mutex);
        m_multi = nullptr;
    }
    curl_multi_cleanup(multi);
}
