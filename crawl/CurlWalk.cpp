#include "crawl/CurlWalk.h"

#include "crawl/CrawlSources.h"
#include "crawl/FtpListing.h"
#include "crawl/HeadJudges.h"
#include "crawl/HostLimits.h"
#include "crawl/ListingPages.h"
#include "crawl/ProgressBoard.h"

#include <QDir>

namespace {

constexpr qint64 kRobotsBytes = 512 * 1024;
constexpr int kMaxRedirects = 5;
constexpr int kMaxOpenFolders = 64; // folders waiting for heads: bounds the memory
constexpr int kMaxQueuedHeads = 4000;
constexpr int kMaxJudging = 256; // heads read but not yet judged: bounds the memory

std::atomic<quint64> nextSerial{1};

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The transport itself failed: nothing came from the server.
bool isTransportFailure(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_WEIRD_SERVER_REPLY:
        return true;
    default:
        return false;
    }
}

// "bytes 0-65535/1234567" gives 1234567; -1 when unknown.
qint64 totalFromContentRange(const QByteArray& value) {
    const int slash = value.lastIndexOf('/');
    if (slash < 0)
        return -1;
    bool ok = false;
    const qint64 total = value.mid(slash + 1).trimmed().toLongLong(&ok);
    return ok && total >= 0 ? total : -1;
}

// Nothing came from the server for the request.
bool silent(const CurlRequest& request) {
    return isTransportFailure(request.result) && request.status == 0;
}

// Worth asking once more on a new connection: a kept connection the server had closed, a
// transfer cut, or an FTP command refused in passing (busy FTP servers drop or refuse a
// transfer now and then that they serve a moment later).
bool retriable(const CurlRequest& request) {
    return silent(request) || request.result == CURLE_FTP_COULDNT_RETR_FILE ||
           request.result == CURLE_FTP_COULDNT_USE_REST;
}

} // namespace

CurlWalk::CurlWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
                   HostLimits& hosts, HeadJudges& judges, ProgressBoard& board,
                   const std::atomic<bool>& stop)
    : m_index(index), m_source(source), m_sink(sink), m_limits(limits), m_hosts(hosts),
      m_judges(judges), m_serial(nextSerial++), m_board(board), m_stop(stop), m_policy(limits),
      m_connections(curl_share_init()) {
    curl_share_setopt(m_connections, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    m_root = source.url;
    m_ftp = m_root.scheme() == QLatin1String("ftp");
    const int defaultPort = m_ftp ? 21 : m_root.scheme() == QLatin1String("https") ? 443 : 80;
    m_host = QStringLiteral("%1://%2:%3")
                 .arg(m_root.scheme(), m_root.host())
                 .arg(m_root.port(defaultPort));
    m_rootPath = m_root.path(QUrl::FullyEncoded).toLatin1();
    if (!m_rootPath.endsWith('/'))
        m_rootPath += '/';
}

CurlWalk::~CurlWalk() {
    curl_share_cleanup(m_connections);
}

QString CurlWalk::describe(const CurlRequest& request) const {
    return CrawlSources::shown(request.url);
}

bool CurlWalk::onSourceServer(const QUrl& url) const {
    return url.scheme() == m_root.scheme() && url.host() == m_root.host() &&
           url.port() == m_root.port();
}

bool CurlWalk::inside(const QUrl& url) const {
    return onSourceServer(url) && !url.hasQuery() &&
           url.path(QUrl::FullyEncoded).toLatin1().startsWith(m_rootPath);
}

QUrl CurlWalk::ftpFolderUrl(const QString& folder) const {
    QUrl url = m_root;
    QString path = m_root.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    if (!folder.isEmpty())
        path += folder + QLatin1Char('/');
    url.setPath(path, QUrl::DecodedMode); // names are taken as they are: '%', '#', '?' too
    return url;
}

void CurlWalk::begin() {
    m_board.started(m_index);
    guard([this] {
        m_crawl = m_sink.beginCrawl(m_source);
        const QString real = m_ftp ? QDir::cleanPath(m_root.path()) : QString();
        if (m_policy.mayQueueNew(m_ftp ? real : QString::fromLatin1(m_rootPath), 0, 0))
            m_waiting.push_back({m_root.toEncoded(), QString(), real, 0, false, nullptr});
    });
}

std::unique_ptr<CurlRequest> CurlWalk::takeFolder() {
    QueuedFolder& queued = m_waiting.front();
    auto request = std::make_unique<CurlRequest>();
    request->kind = CurlRequest::Listing;
    request->walk = this;
    request->url = QUrl::fromEncoded(queued.url);
    request->folder = std::move(queued.folder);
    request->depth = queued.depth;
    request->realPath = std::move(queued.realPath);
    request->maybeFolder = queued.maybeFolder;
    request->lineage = std::move(queued.lineage);
    request->maxBytes = m_limits.maxListingBytes;
    m_waiting.pop_front();
    return listingRequest(std::move(request));
}

std::unique_ptr<CurlRequest> CurlWalk::listingRequest(std::unique_ptr<CurlRequest> request) {
    request->mlsd = m_ftp && m_mlsd != Mlsd::No;
    ++m_inFlight;
    return request;
}

std::unique_ptr<CurlRequest> CurlWalk::next() {
    std::unique_ptr<CurlRequest> request;
    guard([&] { request = nextRequest(); });
    return request;
}

std::unique_ptr<CurlRequest> CurlWalk::nextRequest() {
    if (m_ended)
        return nullptr;
    if (!m_retry.empty()) {
        std::unique_ptr<CurlRequest> request = std::move(m_retry.front());
        m_retry.pop_front();
        if (request->kind == CurlRequest::Listing)
            return listingRequest(std::move(request));
        ++m_inFlight;
        return request;
    }
    if (!m_ftp && !m_robots) {
        if (m_robotsAsked)
            return nullptr;
        m_robotsAsked = true;
        auto request = std::make_unique<CurlRequest>();
        request->kind = CurlRequest::Robots;
        request->walk = this;
        request->url = m_root.resolved(QUrl(QStringLiteral("/robots.txt")));
        request->maxBytes = kRobotsBytes;
        ++m_inFlight;
        return request;
    }
    while (!m_heads.empty() && m_judging < kMaxJudging) {
        const HeadTask task = m_heads.front();
        m_heads.pop_front();
        OpenFolder& open = m_open.at(task.folder);
        const HeadRead::Range part = open.reads.at(task.file).next();
        if (part.count == 0) { // nothing more to read
            fileHeadDone(task.folder, task.file, true);
            continue;
        }
        auto request = std::make_unique<CurlRequest>();
        request->kind = CurlRequest::Head;
        request->walk = this;
        request->url = open.urls[task.file];
        request->openFolder = task.folder;
        request->file = task.file;
        request->part = part;
        request->range = part.offset < 0 ? QByteArray("-") + QByteArray::number(part.count)
                                         : QByteArray::number(part.offset) + '-' +
                                               QByteArray::number(part.offset + part.count - 1);
        // A server that ignores the range sends the file from its start.
        request->maxBytes = part.offset < 0 ? part.count : part.offset + part.count;
        ++m_inFlight;
        return request;
    }
    if (m_waiting.empty() || int(m_open.size()) >= kMaxOpenFolders ||
        int(m_heads.size()) >= kMaxQueuedHeads)
        return nullptr;
    if (!m_policy.mayQueue(m_pagesAsked, 0)) {
        m_waiting.clear();
        return nullptr;
    }
    ++m_pagesAsked;
    return takeFolder();
}

void CurlWalk::finished(std::unique_ptr<CurlRequest> request) {
    --m_inFlight;
    m_board.update(m_index, [&](CrawlProgress& p) { p.bytes += request->body.size(); });
    if (!m_ended)
        guard([&] { answered(std::move(request)); });
}

void CurlWalk::answered(std::unique_ptr<CurlRequest> request) {
    if (request->result == CURLE_OK || request->overflow || request->status > 0)
        m_policy.answered();
    if (retriable(*request) && !request->fresh) {
        request->fresh = true;
        request->body.clear();
        m_retry.push_front(std::move(request));
        return;
    }
    switch (request->kind) {
    case CurlRequest::Robots:
        robotsDone(std::move(request));
        break;
    case CurlRequest::Listing:
        listingDone(std::move(request));
        break;
    case CurlRequest::Head:
        headDone(std::move(request));
        break;
    }
    finishIfDone();
}

void CurlWalk::robotsDone(std::unique_ptr<CurlRequest> request) {
    CurlRequest& r = *request;
    // Its redirects stay on the source's server, as the listings' do; one that leaves it
    // counts as no robots.txt.
    if (isRedirect(r.status) && r.result == CURLE_OK && !r.location.isEmpty() &&
        r.hops < kMaxRedirects) {
        const QUrl target = r.url.resolved(QUrl::fromEncoded(r.location));
        if (onSourceServer(target)) {
            r.url = target;
            ++r.hops;
            r.body.clear();
            m_retry.push_front(std::move(request));
            return;
        }
    }
    // A missing or unreadable robots.txt allows everything.
    const bool found = r.result == CURLE_OK && r.status >= 200 && r.status < 300;
    m_robots = RobotsRules::parse(found ? r.body : QByteArray());
    const int delay = m_robots->crawlDelaySeconds();
    if (delay > 0)
        m_hosts.setDelay(m_host, std::min(std::chrono::milliseconds(std::chrono::seconds(delay)),
                                          std::chrono::milliseconds(m_limits.crawlDelayCap)));
    if (!m_robots->allows(m_rootPath)) {
        abandon(QStringLiteral("robots.txt does not allow %1").arg(CrawlSources::shown(m_root)));
    }
}

bool CurlWalk::retryLater(std::unique_ptr<CurlRequest>& request) {
    if (m_ftp || (request->status != 429 && request->status != 503))
        return false;
    // A server that refuses what comes at once (lighttpd's listings) without asking for a
    // pause is asked fewer things at once rather than waited for.
    if (!request->retryAfter.trimmed().isEmpty() || !m_hosts.lowerLimit(m_host)) {
        const auto wait =
            HostLimits::retryAfter(request->retryAfter, QDateTime::currentDateTimeUtc(),
                                   std::chrono::seconds(5), m_limits.retryAfterCap);
        m_hosts.holdBack(m_host, HostLimits::Clock::now() + wait);
    }
    if (request->retries >= m_limits.maxRetries)
        return false;
    ++request->retries;
    request->body.clear();
    request->overflow = false;
    m_retry.push_back(std::move(request));
    return true;
}

// keep: the folder may still be there (not 404 or 410), so it and what lies below it stay.
void CurlWalk::folderFailed(const CurlRequest& request, const QString& why, bool keep) {
    m_board.error(m_index, QStringLiteral("%1: %2").arg(describe(request), why));
    const bool root = request.folder.isEmpty() && !request.maybeFolder;
    const QString end = m_policy.folderFailed(root, describe(request), why, silent(request));
    if (!end.isEmpty()) {
        abandon(end);
        return;
    }
    if (keep)
        m_sink.keepSubtree(m_source, m_crawl, request.folder);
}

void CurlWalk::listingDone(std::unique_ptr<CurlRequest> request) {
    CurlRequest& r = *request;
    if (m_ftp && r.mlsd && m_mlsd == Mlsd::Unknown && r.result != CURLE_OK &&
        !isTransportFailure(r.result)) {
        m_mlsd = Mlsd::No; // the server has no MLSD: ask again with LIST
        r.body.clear();
        m_retry.push_front(std::move(request));
        return;
    }
    if (retryLater(request))
        return;
    if (!m_ftp && isRedirect(r.status) && r.result == CURLE_OK) {
        const QUrl target = r.url.resolved(QUrl::fromEncoded(r.location));
        if (r.hops >= kMaxRedirects || !inside(target) || r.location.isEmpty()) {
            folderFailed(r, QStringLiteral("redirected outside the source"), false);
            return;
        }
        // A redirect to a folder walked already (a link back into the tree) ends here.
        if (!m_policy.firstVisit(target.path(QUrl::FullyEncoded)))
            return;
        r.url = target;
        ++r.hops;
        r.body.clear();
        m_retry.push_front(std::move(request));
        return;
    }
    if (r.overflow) {
        folderFailed(r,
                     QStringLiteral("listing larger than %1 MiB")
                         .arg(m_limits.maxListingBytes / (1024 * 1024)),
                     true);
        return;
    }
    if (r.result != CURLE_OK) {
        if (r.maybeFolder)
            return; // a link to a file, not a folder
        folderFailed(r, QString::fromLatin1(curl_easy_strerror(r.result)), true);
        return;
    }
    if (!m_ftp && (r.status < 200 || r.status >= 300)) {
        if (r.maybeFolder)
            return;
        folderFailed(r, QStringLiteral("HTTP %1").arg(r.status),
                     r.status != 404 && r.status != 410);
        return;
    }
    if (m_ftp && r.mlsd)
        m_mlsd = Mlsd::Yes;
    const ListingRead read = !m_ftp   ? ListingPages::read(r.body, r.contentType, r.url)
                             : r.mlsd ? FtpListing::readMlsd(r.body)
                                      : FtpListing::readList(r.body);
    r.body = QByteArray(); // the listing's bytes are not needed any more
    if (!read.error.isEmpty()) {
        folderFailed(r, read.error, true);
        return;
    }
    m_board.update(m_index, [](CrawlProgress& p) { ++p.pages; });
    m_policy.leftOut(read.leftOut);
    // A folder that lists what one of its ancestors lists is that ancestor again, reached
    // through a link back up: it is not entered.
    QByteArray key = WalkPolicy::listingKey(read.entries);
    if (m_policy.repeatsAncestor(r.lineage, key))
        return;
    r.lineage = WalkPolicy::below(std::move(r.lineage), std::move(key));
    readListing(r, read.entries);
}

void CurlWalk::readListing(const CurlRequest& request, const QList<RemoteEntry>& entries) {
    QList<RemoteEntry> kept;
    QHash<QString, QUrl> fileUrls;
    qsizetype seen = 0;
    for (const RemoteEntry& entry : entries) {
        // A long listing (or long robots.txt rules) must not hold up a stop.
        if (++seen % 1024 == 0 && m_stop)
            return;
        QUrl url = entry.url;
        if (m_ftp) {
            url = ftpFolderUrl(request.folder);
            url.setPath(url.path() + entry.name + (entry.folder ? QStringLiteral("/") : QString()),
                        QUrl::DecodedMode);
        }
        if (!m_ftp && (!inside(url) || !m_robots->allows(url.path(QUrl::FullyEncoded).toLatin1())))
            continue;
        kept << entry;
        const QString path = FolderPlan::join(request.folder, entry.name);
        const bool link = !entry.linkTarget.isEmpty();
        if (entry.folder || (link && !FolderPlan::isMp3(entry.name))) {
            if (!m_policy.mayEnter(request.depth + 1))
                continue;
            // Links come from FTP listings only; a web folder has no real path to keep.
            const QString real =
                !m_ftp ? QString()
                : link ? WalkPolicy::linkedFolder(request.realPath, entry.linkTarget)
                       : QDir::cleanPath(request.realPath + QLatin1Char('/') + entry.name);
            // A link to the folder, to an ancestor or to a folder already walked is not
            // entered.
            if (m_ftp && real.isEmpty())
                continue;
            if (!m_policy.mayQueueNew(m_ftp ? real : url.path(QUrl::FullyEncoded), m_pagesAsked,
                                      qsizetype(m_waiting.size())))
                continue;
            m_waiting.push_back({url.toEncoded(), path, real, request.depth + 1,
                                 link && !entry.folder, request.lineage});
        } else if (FolderPlan::isMp3(entry.name)) {
            fileUrls.insert(path, url);
        }
    }
    const QByteArray fingerprint = FolderPlan::fingerprintOf(kept);
    const qint64 mp3s = fileUrls.size();
    m_board.update(m_index, [mp3s](CrawlProgress& p) { p.files += mp3s; });
    const QByteArray before = m_sink.folderFingerprint(m_source, request.folder);
    if (FolderPlan::keepsFolder(before, fingerprint, kept, m_limits.forced)) {
        m_sink.keepFolder(m_source, m_crawl, request.folder);
        return;
    }
    FolderPlan plan = FolderPlan::make(
        request.folder, kept, m_sink.folderFiles(m_source, request.folder), m_limits.forced);
    if (!m_limits.readHeads)
        plan.needHead.clear();
    if (plan.needHead.isEmpty()) {
        m_sink.storeFolder(m_source, m_crawl, plan.folder, plan.fingerprint, plan.files);
        return;
    }
    const int id = m_nextOpen++;
    OpenFolder& open = m_open[id];
    for (const CrawledFile& file : plan.files)
        open.urls << fileUrls.value(file.path);
    for (int index : plan.needHead) {
        open.reads.emplace(index, HeadRead(plan.files[index].size));
        m_heads.push_back({id, index});
    }
    open.left = int(plan.needHead.size());
    open.plan = std::move(plan);
}

void CurlWalk::headDone(std::unique_ptr<CurlRequest> request) {
    if (retryLater(request))
        return;
    CurlRequest& r = *request;
    OpenFolder& open = m_open.at(r.openFolder);
    HeadRead& read = open.reads.at(r.file);
    const bool ftpOk = m_ftp && (r.result == CURLE_OK || r.overflow ||
                                 (r.result == CURLE_PARTIAL_FILE && !r.body.isEmpty()));
    const bool httpOk = !m_ftp && (r.result == CURLE_OK || r.overflow) &&
                        (r.status == 206 || r.status == 200 || r.status == 416);
    if (!ftpOk && !httpOk) {
        const QString why = r.result != CURLE_OK ? QString::fromLatin1(curl_easy_strerror(r.result))
                                                 : QStringLiteral("HTTP %1").arg(r.status);
        m_board.error(m_index, QStringLiteral("%1: %2").arg(describe(r), why));
        const QString end = m_policy.fileFailed(why, silent(r));
        if (!end.isEmpty()) {
            abandon(end); // the file keeps its old figures with the rest of its folder
            return;
        }
        // With its new quality when the head came (a later part failed), else as it was.
        const bool headCame = read.hasHead();
        read.giveUp();
        fileHeadDone(r.openFolder, r.file, headCame);
        return;
    }
    QByteArray bytes = r.body;
    qint64 total = -1;
    if (!m_ftp && r.status == 206) {
        total = totalFromContentRange(r.contentRange);
    } else if (!m_ftp && r.status == 200) {
        // The whole file comes from its start (the server ignores ranges): the part asked
        // for is taken, and the transfer was cut off after it.
        bool known = false;
        total = r.contentLength.toLongLong(&known);
        if (!known || total < 0)
            total = r.overflow ? -1 : r.body.size();
        bytes = r.part.tail ? (r.overflow ? QByteArray() : bytes.right(128))
                            : bytes.mid(r.part.offset, r.part.count);
    } else if (!m_ftp && r.status == 416) {
        bytes.clear(); // the file is shorter than the range
    }
    if (!m_ftp && r.etag.size() > 2 && r.etag.startsWith('"'))
        open.plan.files[r.file].etag = r.etag;
    read.add(r.part, bytes, total);
    if (open.plan.files[r.file].size < 0 && read.size() >= 0)
        open.plan.files[r.file].size = read.size();
    m_heads.push_front({r.openFolder, r.file}); // the next part, or done
}

// A head read whole goes to the judges; a read that failed leaves the file as it was.
void CurlWalk::fileHeadDone(int folder, int file, bool read) {
    OpenFolder& open = m_open.at(folder);
    if (read) {
        m_judges.submit({m_serial, folder, file, open.reads.at(file)});
        ++m_judging;
        return;
    }
    open.plan.keepOld(file);
    fileSettled(open, folder, file);
}

void CurlWalk::judged(int folder, int file, bool ok, FileHead head) {
    --m_judging;
    if (m_ended)
        return;
    guard([&] {
        OpenFolder& open = m_open.at(folder);
        CrawledFile& crawled = open.plan.files[file];
        if (ok) {
            crawled.head = std::move(head);
            crawled.headRead = true;
            m_board.update(m_index, [](CrawlProgress& p) { ++p.heads; });
        } else {
            open.plan.keepOld(file);
        }
        fileSettled(open, folder, file);
    });
}

// The file's figures are settled; the folder is stored when it was the last.
void CurlWalk::fileSettled(OpenFolder& open, int folder, int file) {
    open.reads.erase(file);
    if (--open.left > 0)
        return;
    m_sink.storeFolder(m_source, m_crawl, open.plan.folder, open.plan.fingerprint, open.plan.files);
    m_open.erase(folder);
}

void CurlWalk::endWalk(WalkEnd end) {
    m_ended = true;
    m_result.end = end;
    m_retry.clear();
    m_waiting.clear();
    m_heads.clear();
    m_open.clear();
}

void CurlWalk::abandon(const QString& reason) {
    if (m_ended)
        return;
    guard([&] {
        storeWhatWasRead();
        endWalk(WalkEnd::Abandoned);
        m_sink.abandonCrawl(m_source, m_crawl, reason);
        m_board.ended(m_index, true, reason);
    });
}

// The folders still waiting for heads keep the heads read (a first walk of a large folder
// is not lost); their other files keep their old figures, to be read by the next walk.
void CurlWalk::storeWhatWasRead() {
    for (auto& [id, open] : m_open) {
        for (const auto& [file, read] : open.reads)
            open.plan.keepOld(file);
        m_sink.storeFolder(m_source, m_crawl, open.plan.folder, open.plan.fingerprint,
                           open.plan.files);
    }
    m_open.clear();
}

void CurlWalk::lose() {
    if (!m_ended)
        endWalk(WalkEnd::Lost);
}

void CurlWalk::maybeFinish() {
    guard([this] { finishIfDone(); });
}

void CurlWalk::finishIfDone() {
    if (m_ended || m_inFlight > 0 || m_judging > 0 || !m_retry.empty() || !m_heads.empty() ||
        !m_open.empty())
        return;
    if (!m_waiting.empty() && m_policy.mayQueue(m_pagesAsked, 0))
        return;
    const QString cut = m_policy.cutShort();
    if (!cut.isEmpty()) {
        abandon(cut);
        return;
    }
    m_ended = true;
    m_result.end = WalkEnd::Finished;
    const QStringList notes = m_policy.notes();
    m_board.update(m_index, [&](CrawlProgress& p) { p.lastErrors << notes; });
    m_sink.finishCrawl(m_source, m_crawl, {m_policy.folderErrors(), m_policy.fileErrors()});
    m_board.ended(m_index, false, QString());
}
