#include "crawl/CurlLoop.h"

#include "crawl/CurlWalk.h"
#include "crawl/HostLimits.h"

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

} // namespace

void CurlWaker::set(CURLM* multi) {
    std::lock_guard lock(m_mutex);
    m_multi = multi;
}

void CurlWaker::wake() {
    std::lock_guard lock(m_mutex);
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

CurlLoop::CurlLoop(const CrawlLimits& limits, HostLimits& hosts, CurlWaker& waker)
    : m_limits(limits), m_hosts(hosts), m_waker(waker), m_multi(curl_multi_init()) {
    m_waker.set(m_multi);
    if (limits.idleConnections > 0)
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, limits.idleConnections);
}

CurlLoop::~CurlLoop() {
    while (!m_running.empty()) {
        CurlRequest* request = m_running.begin()->second.get();
        request->walk->requestDropped();
        remove(m_running.begin()->first);
    }
    m_waker.set(nullptr);
    curl_multi_cleanup(m_multi);
}

void CurlLoop::feed(CurlWalk& walk) {
    while (!walk.ended() && m_hosts.mayStart(walk.host(), HostLimits::Clock::now())) {
        std::unique_ptr<CurlRequest> request = walk.next();
        if (!request)
            break;
        start(std::move(request));
    }
}

void CurlLoop::start(std::unique_ptr<CurlRequest> request) {
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
    if (request->mlsd)
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "MLSD");
    if (!request->range.isEmpty())
        curl_easy_setopt(easy, CURLOPT_RANGE, request->range.constData());
    if (request->fresh)
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, request->walk->connections());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, request.get());
    m_hosts.started(request->walk->host(), HostLimits::Clock::now());
    curl_multi_add_handle(m_multi, easy);
    m_running.emplace(easy, std::move(request));
}

void CurlLoop::remove(CURL* easy) {
    const auto it = m_running.find(easy);
    m_hosts.ended(it->second->walk->host());
    curl_multi_remove_handle(m_multi, easy);
    curl_easy_cleanup(easy);
    m_running.erase(it);
}

bool CurlLoop::perform() {
    int stillRunning = 0;
    curl_multi_perform(m_multi, &stillRunning);
    int queued = 0;
    bool finishedAny = false;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        finishedAny = true;
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* easy = message->easy_handle;
        std::unique_ptr<CurlRequest> request = std::move(m_running.at(easy));
        m_running.erase(easy);
        request->result = message->data.result;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        // FTP reply codes are not HTTP statuses: the walk reads FTP by the result.
        request->status = request->url.scheme().startsWith(QLatin1String("http")) ? status : 0;
        long connects = 0;
        curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects);
        request->reused = connects == 0;
        m_hosts.ended(request->walk->host());
        curl_multi_remove_handle(m_multi, easy);
        curl_easy_cleanup(easy);
        CurlWalk* walk = request->walk;
        walk->finished(std::move(request));
    }
    return finishedAny;
}

void CurlLoop::poll(std::chrono::milliseconds most) {
    curl_multi_poll(m_multi, nullptr, 0, int(most.count()), nullptr);
}

void CurlLoop::drop(CurlWalk& walk) {
    for (auto it = m_running.begin(); it != m_running.end();) {
        CURL* easy = it->first;
        ++it;
        if (m_running.at(easy)->walk != &walk)
            continue;
        walk.requestDropped();
        remove(easy);
    }
}
