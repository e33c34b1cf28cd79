#include "searchd/pages/ServiceRoutes.h"

#include "searchd/LibraryFolder.h"
#include "searchd/ServiceError.h"
#include "searchd/http/ByteRange.h"
#include "searchd/http/QueryText.h"
#include "searchd/index/ServiceIndex.h"
#include "searchd/pages/BrowserPages.h"
#include "searchd/pages/Listings.h"
#include "searchd/pages/ResultPages.h"
#include "searchd/pages/ServiceFiles.h"
#include "searchd/relay/LoginRelay.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <optional>

namespace {

// The parameter by which our own program asks for UTF-8 pages and listings.
const QByteArray kUtf8Parameter = "charset=utf-8";

QByteArray pageType(PageCharset charset) {
    return charset == PageCharset::Utf8 ? "text/html; charset=utf-8"
                                        : "text/html; charset=windows-1252";
}

QByteArray listingType(PageCharset charset) {
    return charset == PageCharset::Utf8 ? "text/plain; charset=utf-8"
                                        : "text/plain; charset=windows-1252";
}

// UTF-8 when a parameter before the search words says charset=utf-8. The words run to the
// end of the query, so only what comes before them is looked at here: typed words never ask.
// (The first engine's own paging links carry it last; readSearch takes that one.)
PageCharset askedCharset(const QByteArray& query, const char* wordsKey) {
    const QByteArray key = QByteArray(wordsKey) + '=';
    const qsizetype words = query.startsWith(key) ? 0 : query.indexOf('&' + key);
    for (const QByteArray& parameter : query.left(std::max<qsizetype>(words, 0)).split('&')) {
        if (parameter.toLower() == kUtf8Parameter)
            return PageCharset::Utf8;
    }
    return PageCharset::Windows1252;
}

ServiceAnswer textAnswer(int status, const QString& message) {
    ServiceAnswer answer;
    answer.status = status;
    answer.body = message.toUtf8() + '\n';
    return answer;
}

ServiceAnswer bytesAnswer(const QByteArray& contentType, const QByteArray& body, int status = 200) {
    ServiceAnswer answer;
    answer.status = status;
    answer.contentType = contentType;
    answer.body = body;
    return answer;
}

// A page for people's browsers: it runs no script, loads nothing from elsewhere and is
// never shown inside another site's frame.
ServiceAnswer browserPage(const QByteArray& body) {
    ServiceAnswer answer = bytesAnswer("text/html; charset=utf-8", body);
    answer.headers.emplaceBack("Content-Security-Policy", BrowserPages::securityPolicy());
    answer.headers.emplaceBack("X-Frame-Options", "DENY");
    return answer;
}

// A proxy sends the whole URL; the service only cares for its path and query.
QByteArray originForm(const QByteArray& target) {
    const qsizetype schemeEnd = target.startsWith("http://")    ? 7
                                : target.startsWith("https://") ? 8
                                                                : 0;
    if (schemeEnd == 0)
        return target;
    const qsizetype slash = target.indexOf('/', schemeEnd);
    return slash < 0 ? QByteArray("/") : target.mid(slash);
}

// A file path from a request: percent-escaped UTF-8, relative, without "." or ".." parts.
// Nothing, and *error set, when it is not.
std::optional<QString> requestedPath(const QByteArray& escapedPath, ServiceAnswer* error) {
    const auto bytes = QueryText::strictPercentDecode(escapedPath);
    if (!bytes) {
        *error = textAnswer(400, QStringLiteral("Bad escape in the file path"));
        return std::nullopt;
    }
    auto path = QueryText::decodeUtf8(*bytes);
    if (!path) {
        *error = textAnswer(400, QStringLiteral("The file path is not UTF-8 text"));
        return std::nullopt;
    }
    if (!LibraryFolder::isSafeRelativePath(*path)) {
        *error = textAnswer(400, QStringLiteral("Bad file path: empty, \".\" and \"..\" parts "
                                                "are not allowed"));
        return std::nullopt;
    }
    return path;
}

// The answer for the part of a file of size that a Range header asks for: its status and
// headers, and which bytes go out (fileOffset, fileLength); 416 when none can.
ServiceAnswer rangeAnswer(const QByteArray& range, qint64 size) {
    const ByteRange part = ByteRange::parse(range, size);
    ServiceAnswer answer;
    answer.headers.emplaceBack("Accept-Ranges", "bytes");
    if (part.kind == ByteRange::Kind::Unsatisfiable) {
        answer = textAnswer(416, QStringLiteral("Range not satisfiable"));
        answer.headers.emplaceBack("Content-Range", "bytes */" + QByteArray::number(size));
        return answer;
    }
    answer.contentType = "audio/mpeg";
    answer.fileOffset = part.first;
    answer.fileLength = part.length;
    if (part.kind == ByteRange::Kind::Part) {
        answer.status = 206;
        const qint64 last = part.first + part.length - 1;
        answer.headers.emplaceBack("Content-Range", "bytes " + QByteArray::number(part.first) +
                                                        '-' + QByteArray::number(last) + '/' +
                                                        QByteArray::number(size));
    }
    return answer;
}

} // namespace

struct ServiceRoutes::Search {
    QString text;
    QStringList words;
    int page = 1;
    QMap<QByteArray, QByteArray> trailing;
    PageCharset charset = PageCharset::Windows1252;
};

ServiceRoutes::ServiceRoutes(const ServiceSettings& settings, const QString& baseUrl,
                             const LibraryFolder& library, ServiceIndex& index)
    : m_settings(settings), m_baseUrl(baseUrl), m_library(library), m_index(index), m_found(index),
      m_songs(m_found, index),
      m_savedRunner(index, [this](const FoundFile& found) { return linkOf(found); }),
      m_savedRoutes(index, m_savedRunner), m_failuresLeft(settings.failSecondEngine) {
    // Some addresses give a line that cannot be stored scrambled; the service still runs,
    // only its data file is missing.
    try {
        m_dataFile = ServiceFiles::dataFile(baseUrl, settings.dataVersion);
    } catch (const ServiceError& error) {
        m_dataFileProblem = QString::fromUtf8(error.what());
    }
}

void ServiceRoutes::setCrawlStates(CrawlStates provider) {
    std::lock_guard lock(m_statesMutex);
    m_crawlStates = std::move(provider);
}

void ServiceRoutes::setCrawlControl(CrawlControl control) {
    std::lock_guard lock(m_statesMutex);
    m_crawlControl = std::move(control);
}

bool ServiceRoutes::answersAtOnce(const QByteArray& target) {
    return QueryText::splitTarget(originForm(target)).path.startsWith(ServiceFiles::kFilesPath);
}

ServiceAnswer ServiceRoutes::answer(const ServiceRequest& request) {
    const auto [path, query] = QueryText::splitTarget(originForm(request.target));
    // Only the routes that start a crawl and keep saved searches take a POST.
    const bool takesPost =
        path == "/api/crawl" || path == "/api/saved" || path.startsWith("/api/saved/");
    if (request.method != "GET" && request.method != "HEAD" &&
        !(request.method == "POST" && takesPost)) {
        ServiceAnswer answer = textAnswer(405, QStringLiteral("Only GET and HEAD are served"));
        answer.headers.append(std::pair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
        return answer;
    }
    if (path == "/api/crawl")
        return crawlNow(request, query);
    if (path == "/saved" || path == "/api/saved" || path.startsWith("/api/saved/"))
        return saved(request, path, query);
    if (path == ServiceFiles::kFirstEnginePath)
        return firstEngine(query);
    if (path == ServiceFiles::kSecondEnginePath)
        return secondEngine(query);
    if (path == ServiceFiles::kSmbPath)
        return smbListing(query);
    if (path == ServiceFiles::kFtpPath)
        return ftpListing(query);
    if (path.startsWith(ServiceFiles::kFilesPath))
        return file(path.mid(qstrlen(ServiceFiles::kFilesPath)), request.range);
    if (path.startsWith(LoginRelay::kPath))
        return relayed(path.mid(qstrlen(LoginRelay::kPath)), request.range);
    if (path == ServiceFiles::kVersionPath)
        return bytesAnswer("text/plain", ServiceFiles::versionFile(m_baseUrl, m_settings.version,
                                                                   m_settings.dataVersion));
    if (path == ServiceFiles::kDataFilePath && m_dataFile.isEmpty())
        return textAnswer(500, m_dataFileProblem);
    if (path == ServiceFiles::kDataFilePath)
        return bytesAnswer("application/octet-stream", m_dataFile);
    if (path.startsWith("/cgi-bin/"))
        return submission(path.mid(9), query, request.remoteAddress);
    if (path == ServiceFiles::kSubmissionsPath)
        return submissions(query);
    if (path == "/")
        return home(query);
    if (path == "/api/search")
        return home(query, true);
    if (path == "/status")
        return status(query);
    return textAnswer(404, QStringLiteral("Not found"));
}

std::optional<ServiceRoutes::Search>
ServiceRoutes::readSearch(const QByteArray& query, const char* wordsKey,
                          const QList<QByteArray>& trailingKeys, ServiceAnswer& error) const {
    Search search;
    const auto raw = QueryText::openEndedValue(query, wordsKey, trailingKeys, &search.trailing);
    if (!raw) {
        error = textAnswer(
            400, QStringLiteral("Missing parameter: %1").arg(QLatin1StringView(wordsKey)));
        return std::nullopt;
    }
    const auto text = QueryText::decodeText(QueryText::percentDecode(*raw, true));
    if (!text) {
        error = textAnswer(400, QStringLiteral("The search words are not text"));
        return std::nullopt;
    }
    search.charset = askedCharset(query, wordsKey);
    if (search.trailing.value("charset").toLower() == "utf-8")
        search.charset = PageCharset::Utf8;
    search.text = text->trimmed();
    search.words = QueryText::searchWords(*text);
    if (search.words.size() > kMaxWords) {
        error =
            textAnswer(400, QStringLiteral("Too many search words (at most %1)").arg(kMaxWords));
        return std::nullopt;
    }
    if (search.trailing.contains("page")) {
        bool ok = false;
        search.page = search.trailing.value("page").toInt(&ok);
        if (!ok || search.page < 1 || search.page > kMaxPage) {
            error = textAnswer(400, QStringLiteral("Bad page number"));
            return std::nullopt;
        }
    }
    return search;
}

QByteArray ServiceRoutes::fileUrl(const QString& path) const {
    return m_baseUrl.toLatin1() + ServiceFiles::kFilesPath + QueryText::encodePath(path);
}

// A hit of a source with a login points at the service's relay, which alone can log in.
QByteArray ServiceRoutes::linkOf(const FoundFile& found) const {
    if (found.fromLibrary)
        return fileUrl(found.file.path);
    const LoginRelay* relay = m_relay;
    const QByteArray key = relay ? relay->keyOf(found.crawled.sourceId) : QByteArray();
    if (key.isEmpty())
        return found.serverUrl();
    return m_baseUrl.toLatin1() + LoginRelay::kPath + key + '/' +
           QueryText::encodePath(found.crawled.path);
}

QStringList ServiceRoutes::relayedSources() const {
    const LoginRelay* relay = m_relay;
    return relay ? relay->sourceIds() : QStringList();
}

QList<ResultLink> ServiceRoutes::linksFor(const QList<FoundFile>& files) const {
    QList<ResultLink> links;
    for (const FoundFile& found : files)
        links.append({linkOf(found), found.file.displayName(), found.file.size});
    return links;
}

namespace {

// The program fetches HTTP hits with a plain HTTP client, and its first engine's reader
// passes over the link after one without "http://": https:// hits are left out. The files
// the service relays are HTTP hits too, and so are never in the listings.
FileFilter engineFilter(const QStringList& relayed) {
    FileFilter filter;
    filter.crawled.schemes = {QStringLiteral("http")};
    filter.crawled.relayed = relayed;
    return filter;
}

FileFilter listingFilter(const char* scheme, const QStringList& relayed) {
    FileFilter filter;
    filter.crawled.schemes = {QString::fromLatin1(scheme)};
    filter.crawled.relayed = relayed;
    return filter;
}

} // namespace

ServiceAnswer ServiceRoutes::firstEngine(const QByteArray& query) {
    ServiceAnswer error;
    const auto search = readSearch(query, "searchwords", {"page", "newonly", "charset"}, error);
    if (!search)
        return error;
    const int offset = (search->page - 1) * m_settings.pageSize;
    const bool newOnly = search->trailing.value("newonly") == "1";
    const QList<FoundFile> files = m_songs.bestFirst(search->words, engineFilter(relayedSources()),
                                                     offset, m_settings.pageSize, newOnly);
    const PageCharset charset = search->charset;
    if (files.isEmpty())
        return bytesAnswer(pageType(charset),
                           ResultPages::firstEngineNoRecords(search->text, charset));
    // The program marks the engine done only on an empty page, so even the last page of
    // results links on to the next one. It knows that link by its start, so the marker goes
    // last, where the words are escaped and cannot hold it.
    const QByteArray next =
        "search.asp?since=&searchwords=" + QueryText::encodeValue(search->text) +
        "&page=" + QByteArray::number(search->page + 1) + (newOnly ? "&newonly=1" : "") +
        (charset == PageCharset::Utf8 ? '&' + kUtf8Parameter : QByteArray());
    const auto links = linksFor(files);
    return bytesAnswer(pageType(charset),
                       ResultPages::firstEngine(search->text, links, offset + 1, next, charset));
}

ServiceAnswer ServiceRoutes::secondEngine(const QByteArray& query) {
    int left = m_failuresLeft.load();
    while (left > 0 && !m_failuresLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left > 0)
        return bytesAnswer(pageType(askedCharset(query, "words")),
                           ResultPages::internalServerError(), 500);

    ServiceAnswer error;
    const auto search = readSearch(query, "words", {"page", "newonly"}, error);
    if (!search)
        return error;
    const int size = m_settings.pageSize;
    const int offset = (search->page - 1) * size;
    const bool newOnly = search->trailing.value("newonly") == "1";
    QList<FoundFile> files =
        m_songs.bestFirst(search->words, engineFilter(relayedSources()), offset, size + 1, newOnly);
    const PageCharset charset = search->charset;
    if (files.isEmpty())
        return bytesAnswer(pageType(charset),
                           ResultPages::secondEngineNoResults(search->text, charset));
    const bool more = files.size() > size;
    files = files.mid(0, size);
    auto pageUrl = [&](int page) {
        return m_baseUrl.toLatin1() + ServiceFiles::kSecondEnginePath + '?' +
               (charset == PageCharset::Utf8 ? kUtf8Parameter + '&' : QByteArray()) +
               "words=" + QueryText::encodeValue(search->text) +
               "&page=" + QByteArray::number(page) + (newOnly ? "&newonly=1" : "");
    };
    const QByteArray previous = search->page > 1 ? pageUrl(search->page - 1) : QByteArray();
    const QByteArray next = more ? pageUrl(search->page + 1) : QByteArray();
    const auto links = linksFor(files);
    return bytesAnswer(pageType(charset), ResultPages::secondEngine(search->text, links, offset + 1,
                                                                    previous, next, charset));
}

ServiceAnswer ServiceRoutes::smbListing(const QByteArray& query) {
    ServiceAnswer error;
    const auto search = readSearch(query, "q", {}, error);
    if (!search)
        return error;
    QList<Listings::ListedFile> listed;
    for (const FoundFile& found :
         m_found.search(search->words, listingFilter("smb", relayedSources()), 0, kListingLimit)) {
        if (found.fromLibrary) {
            listed.append({m_settings.smbHost,
                           m_settings.smbShare + QLatin1Char('/') + found.file.path,
                           found.file.size});
            continue;
        }
        const QString host = found.smbHost(); // may look the name up
        if (!host.isEmpty())
            listed.append({host, found.smbPath(), found.file.size});
    }
    return bytesAnswer(listingType(search->charset), Listings::smb(listed, search->charset));
}

ServiceAnswer ServiceRoutes::ftpListing(const QByteArray& query) {
    ServiceAnswer error;
    const auto search = readSearch(query, "q", {"leech"}, error);
    if (!search)
        return error;
    const QByteArray leech = search->trailing.value("leech", "n");
    if (leech != "y" && leech != "n")
        return textAnswer(400, QStringLiteral("Bad parameter: leech must be y or n"));
    if (leech == "y" && !m_settings.ftpLeech)
        return bytesAnswer(listingType(search->charset), {});
    QList<Listings::ListedFile> listed;
    for (const FoundFile& found :
         m_found.search(search->words, listingFilter("ftp", relayedSources()), 0, kListingLimit)) {
        if (found.fromLibrary)
            listed.append({m_settings.ftpSite, found.file.path, found.file.size});
        else
            listed.append({found.ftpSite(), found.ftpPath(), found.file.size});
    }
    return bytesAnswer(listingType(search->charset), Listings::ftp(listed, search->charset));
}

ServiceAnswer ServiceRoutes::file(const QByteArray& escapedPath, const QByteArray& range) {
    ServiceAnswer error;
    const std::optional<QString> path = requestedPath(escapedPath, &error);
    if (!path)
        return error;
    const std::shared_ptr<ServedFile> file = m_library.open(*path);
    if (!file && (errno == EMFILE || errno == ENFILE)) {
        ServiceAnswer busy = textAnswer(503, QStringLiteral("Too many open files; try again soon"));
        busy.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "5"));
        return busy;
    }
    if (!file)
        return textAnswer(404, QStringLiteral("No such file"));
    ServiceAnswer answer = rangeAnswer(range, file->size());
    if (answer.status != 416)
        answer.file = file;
    return answer;
}

// "KEY/escaped/path": a file of a source with a login, fetched from its server as it is sent.
ServiceAnswer ServiceRoutes::relayed(const QByteArray& keyAndPath, const QByteArray& range) {
    const LoginRelay* relay = m_relay;
    const qsizetype slash = keyAndPath.indexOf('/');
    if (!relay || slash <= 0)
        return textAnswer(404, QStringLiteral("No such file"));
    ServiceAnswer error;
    const std::optional<QString> path = requestedPath(keyAndPath.mid(slash + 1), &error);
    if (!path)
        return error;
    LoginRelay::Opened opened = relay->open(keyAndPath.left(slash), *path);
    if (!opened.file)
        return textAnswer(opened.status, opened.problem);
    ServiceAnswer answer = rangeAnswer(range, opened.file->size());
    if (answer.status == 416)
        return answer;
    std::shared_ptr<RelayedFile> file = std::move(opened.file);
    answer.stream = [file](qint64 offset, qint64 length, const BodyWriter& write) {
        return file->send(offset, length, write);
    };
    return answer;
}

ServiceAnswer ServiceRoutes::submission(const QByteArray& script, const QByteArray& query,
                                        const QString& remoteAddress) {
    static const QMap<QByteArray, std::pair<QString, QByteArray>> kScripts = {
        {"ftpaddsite", {QStringLiteral("ftp"), "site_info"}},
        {"httpaddsite", {QStringLiteral("http"), "site_info"}},
        {"smbaddsite", {QStringLiteral("smb"), "ip"}},
        {"addmysmbsite", {QStringLiteral("mysmb"), {}}},
    };
    const auto found = kScripts.constFind(script);
    if (found == kScripts.cend())
        return textAnswer(404, QStringLiteral("Not found"));
    const auto& [kind, key] = *found;
    QString site = remoteAddress;
    if (!key.isEmpty()) {
        const auto raw = QueryText::openEndedValue(query, key, {});
        if (!raw || raw->isEmpty())
            return textAnswer(400,
                              QStringLiteral("Missing parameter: %1").arg(QLatin1StringView(key)));
        const auto text = QueryText::decodeText(QueryText::percentDecode(*raw, false));
        if (!text)
            return textAnswer(400, QStringLiteral("The site is not text"));
        if (text->size() > kMaxSiteLength)
            return textAnswer(
                400,
                QStringLiteral("The site is too long (at most %1 characters)").arg(kMaxSiteLength));
        site = *text;
    }
    m_index.addSubmission({kind, site, remoteAddress, QDateTime::currentDateTimeUtc()},
                          kMaxSubmissions);
    return browserPage("<html><body><p>Thank you. The site has been noted.</p></body></html>\n");
}

namespace {

// A browser's form: name=value pairs, '+' for a blank, UTF-8. Nothing when one is not text.
std::optional<QHash<QByteArray, QString>> formValues(const QByteArray& query) {
    QHash<QByteArray, QString> values;
    for (const QByteArray& pair : query.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = pair.left(equals < 0 ? pair.size() : equals);
        const auto value = QueryText::decodeText(
            QueryText::percentDecode(equals < 0 ? QByteArray() : pair.mid(equals + 1), true));
        if (!value)
            return std::nullopt;
        if (!key.isEmpty())
            values.insert(key, *value);
    }
    return values;
}

// A whole number from min to max; an empty field counts as min.
std::optional<int> formNumber(const QString& text, int min, int max) {
    if (text.trimmed().isEmpty())
        return min;
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    return ok && number >= min && number <= max ? std::optional<int>(number) : std::nullopt;
}

} // namespace

ServiceAnswer ServiceRoutes::submissions(const QByteArray& query) {
    const auto form = formValues(query);
    const auto page = form ? formNumber(form->value("page"), 1, kMaxPage) : std::nullopt;
    if (!page)
        return textAnswer(400, QStringLiteral("Bad page number"));
    const int total = m_index.submissionCount();
    const QList<Submission> shown =
        m_index.latestSubmissions((*page - 1) * kSubmissionsPageSize, kSubmissionsPageSize);
    return browserPage(BrowserPages::submissionsHtml(shown, total, *page, kSubmissionsPageSize));
}

ServiceAnswer ServiceRoutes::home(const QByteArray& query, bool api) {
    const auto form = formValues(query);
    if (!form)
        return textAnswer(400, QStringLiteral("The form's values are not UTF-8 text"));
    SearchPageView view;
    view.words = form->value("q").trimmed();
    view.kind = form->value("kind", QStringLiteral("all"));
    const auto minBitrate = formNumber(form->value("minbitrate"), 0, 1000);
    const auto page = formNumber(form->value("page"), 1, kMaxPage);
    const auto filter =
        minBitrate ? FileFilter::ofKind(view.kind, *minBitrate, false) : std::nullopt;
    if (!minBitrate || !page || !filter)
        return textAnswer(400, QStringLiteral("Bad kind, minimum bitrate or page number"));
    const QStringList words = QueryText::searchWords(view.words);
    if (words.size() > kMaxWords)
        return textAnswer(400, QStringLiteral("Too many search words (at most %1)").arg(kMaxWords));
    view.minBitrate = *minBitrate;
    view.hideTranscodes = form->value("hidetranscodes") == QLatin1String("1");
    FileFilter chosen = *filter;
    chosen.crawled.hideTranscodes = view.hideTranscodes;
    const QString format =
        form->value("format", api ? QStringLiteral("json") : QStringLiteral("html"));
    if (format != QLatin1String("json") && (api || format != QLatin1String("html")))
        return textAnswer(400, api ? QStringLiteral("Bad format: the API answers json")
                                   : QStringLiteral("Bad format: json or html"));
    const QString group = form->value("group", QStringLiteral("file"));
    if (group != QLatin1String("file") && group != QLatin1String("song"))
        return textAnswer(400, QStringLiteral("Bad group: file or song"));
    // The page for people always shows songs; JSON lists files unless asked for songs.
    const bool bySong = format == QLatin1String("html") || group == QLatin1String("song");
    view.page = *page;
    view.pageSize = kBrowserPageSize;
    view.searched = !words.isEmpty();
    view.libraryFiles = m_index.libraryFileCount();
    const int offset = (view.page - 1) * view.pageSize;
    if (view.searched && bySong) {
        const SongPage songs = m_songs.songs(words, chosen, offset, view.pageSize);
        view.songs = songs.songs;
        view.total = songs.total;
        view.files = songs.files;
        view.allGrouped = songs.allGrouped;
    } else if (view.searched) {
        view.total = m_found.count(words, chosen);
        view.hits = m_found.search(words, chosen, offset, view.pageSize);
    }
    const auto link = [this](const FoundFile& found) { return linkOf(found); };
    if (format == QLatin1String("json"))
        return bytesAnswer("application/json", bySong ? BrowserPages::songsJson(view, link)
                                                      : BrowserPages::searchJson(view, link));
    return browserPage(BrowserPages::searchHtml(view, link));
}

ServiceAnswer ServiceRoutes::status(const QByteArray& query) {
    const auto form = formValues(query);
    if (!form)
        return textAnswer(400, QStringLiteral("The form's values are not UTF-8 text"));
    CrawlStates provider;
    CrawlControl control;
    {
        std::lock_guard lock(m_statesMutex);
        provider = m_crawlStates;
        control = m_crawlControl;
    }
    StatusView view;
    view.sources = BrowserPages::sourceStatus(m_index.crawledSources(),
                                              provider ? provider() : QList<CrawlSourceState>());
    view.problems = control.problems;
    view.canCrawlNow = bool(control.crawlNow);
    view.said = form->value("crawl");
    const QString format = form->value("format", QStringLiteral("html"));
    if (format == QLatin1String("json"))
        return bytesAnswer("application/json", BrowserPages::statusJson(view));
    if (format != QLatin1String("html"))
        return textAnswer(400, QStringLiteral("Bad format: json or html"));
    return browserPage(BrowserPages::statusHtml(view));
}

// POST /api/crawl starts a crawl now. The status page's button sends then=status and is
// sent back to the page, which says what came of it.
ServiceAnswer ServiceRoutes::crawlNow(const ServiceRequest& request, const QByteArray& query) {
    if (request.method != "POST") {
        ServiceAnswer answer = textAnswer(405, QStringLiteral("A crawl is started by POST"));
        answer.headers.append(std::pair<QByteArray, QByteArray>("Allow", "POST"));
        return answer;
    }
    std::function<bool()> start;
    {
        std::lock_guard lock(m_statesMutex);
        start = m_crawlControl.crawlNow;
    }
    if (!start)
        return textAnswer(404, QStringLiteral("This service crawls no sources"));
    const bool started = start();
    const auto form = formValues(query);
    if (form && form->value("then") == QLatin1String("status")) {
        ServiceAnswer answer = textAnswer(303, QString());
        answer.headers.append(std::pair<QByteArray, QByteArray>(
            "Location", started ? "/status?crawl=started" : "/status?crawl=busy"));
        return answer;
    }
    return started ? textAnswer(202, QStringLiteral("A crawl has started"))
                   : textAnswer(409, QStringLiteral("A crawl is under way"));
}

ServiceAnswer ServiceRoutes::saved(const ServiceRequest& request, const QByteArray& path,
                                   const QByteArray& query) {
    const auto form = formValues(query);
    if (!form)
        return textAnswer(400, QStringLiteral("The form's values are not UTF-8 text"));
    return m_savedRoutes.answer(request.method, path, *form);
}
