#include "search/SearchRun.h"

#include "core/DataFileConfig.h"
#include "core/FirstEngineMarkers.h"
#include "core/SearchHistory.h"
#include "core/TextHelpers.h"
#include "core/UserOptions.h"
#include "download/HeaderProbes.h"
#include "net/HttpCli.h"
#include "net/RequestSetup.h"
#include "net/SplitUrl.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/SettingsFile.h"
#include "search/NameCleaning.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <limits>

namespace {

const QString kCaption = QStringLiteral("Pellmar");
constexpr int kProgressTickMs = 1000;
constexpr int kRetryMs = 3000;
// A service page or listing beyond this is not one: it would only fill the memory.
constexpr qint64 kMaxAnswerBytes = 32 * 1024 * 1024;
// Engine pages one search asks for at most: far more than a time limit lets anyone read,
// and few enough that a page of thousands of paging links cannot pile up clients.
constexpr qsizetype kMaxPagesPerSearch = 1000;

QByteArray percentEncoded(char c) {
    return '%' + QByteArray(1, c).toHex().toUpper();
}

} // namespace

// An engine request: the client and the memory its answer goes to.
struct SearchRun::EngineQuery {
    THttpCli client;
    QBuffer body;
    QByteArray url; // as asked for: it says whether UTF-8 was
};

// The SMB or FTP request: the client and the file in temp/ its listing goes to.
struct SearchRun::ListingQuery {
    THttpCli client;
    std::unique_ptr<QFile> file;
    QByteArray url;
    bool running = false;
};

SearchServiceUrls SearchServiceUrls::fromDataFile(const DataFileConfig& config) {
    return {Cp1252::fromUnicode(config.HttpQueryUrl1), Cp1252::fromUnicode(config.HttpQueryUrl2),
            Cp1252::fromUnicode(config.SmbQueryUrl), Cp1252::fromUnicode(config.FtpQueryUrl)};
}

QByteArray EncodeQuery(const QByteArray& text) {
    QByteArray query;
    query.reserve(text.size() + 16);
    for (const char c : TrimBlanks(text)) {
        switch (c) {
        case ' ':
            query.append('+');
            break;
        case '/':
        case '"':
        case '#':
        case '%':
        case '&':
        case '+':
            query.append(percentEncoded(c));
            break;
        default:
            query.append(c);
        }
    }
    return query;
}

QByteArray EncodeUtf8Query(const QString& text) {
    QByteArray query;
    for (const char c : EncodeQuery(text.toUtf8()))
        query.append(static_cast<unsigned char>(c) < 0x80 ? QByteArray(1, c) : percentEncoded(c));
    return query;
}

QByteArray EncodeQueryFor(const QByteArray& url, const QString& text) {
    return RequestedCharset(url) == EngineCharset::Utf8 ? EncodeUtf8Query(text)
                                                        : EncodeQuery(Cp1252::fromUnicode(text));
}

SearchRun::SearchRun(SettingsFile& ini, QString programFolder, Platform& platform,
                     RandomIndex random, QObject* parent)
    : QObject(parent), m_ini(ini), m_programFolder(std::move(programFolder)), m_platform(platform),
      m_random(std::move(random)), m_results(ini, platform) {
    if (!m_random)
        m_random = [](int n) { return static_cast<int>(QRandomGenerator::global()->bounded(n)); };
    HeaderProbes::Hooks hooks;
    hooks.isListed = [this](const QByteArray& name) { return m_results.isListed(name); };
    hooks.accepted = [this](const ProbedHit& hit) { ProbeAccepted(hit); };
    hooks.lastProbeEnded = [this] {
        MarkSourceDone(SearchSource::Probes);
        checkWorkEnded();
    };
    hooks.error = [this](const QString& message) {
        showGeneralError(m_platform.messages, message);
    };
    m_probes = std::make_unique<HeaderProbes>(m_ini, m_programFolder, hooks, m_random);

    m_progressTimer.setInterval(kProgressTickMs);
    m_audioFindTimer.setInterval(kRetryMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &SearchRun::ProgressTimerTimer);
    connect(&m_searchLimitTimer, &QTimer::timeout, this, &SearchRun::SearchLimitTimerTimer);
    connect(&m_audioFindTimer, &QTimer::timeout, this, &SearchRun::AudioFindTimerTimer);
    m_history = SearchHistory::Read(m_ini);
}

SearchRun::~SearchRun() = default;

const QList<QByteArray>& SearchRun::PendingProbeList() const {
    return m_probes->PendingProbeList();
}

void SearchRun::guarded(const std::function<void()>& handler) {
    // What escapes a handler that the network called goes to the general error box here,
    // as the window's would; it must not unwind through the client.
    try {
        handler();
    } catch (const PellmarError& error) {
        showGeneralError(m_platform.messages, error.message());
    }
}

bool SearchRun::hasWorkInFlight() const {
    const auto running = [](const std::unique_ptr<ListingQuery>& query) {
        return query && query->running;
    };
    return !m_activeQueries.empty() || !m_probes->PendingProbeList().isEmpty() ||
           running(m_smbQuery) || running(m_ftpQuery) || m_audioFindTimer.isActive();
}

void SearchRun::checkWorkEnded() {
    const bool inFlight = hasWorkInFlight();
    const bool ended = m_workInFlight && !inFlight;
    m_workInFlight = inFlight;
    if (ended)
        emit workEnded();
}

// ---- state shown by the window

void SearchRun::setStatus(const QString& text) {
    m_status = text;
    emit statusChanged(text);
}

void SearchRun::setSearching(bool searching) {
    if (searching == m_searching)
        return;
    m_searching = searching;
    emit searchingChanged(searching);
}

void SearchRun::setProgress(int width) {
    if (width == m_progressWidth)
        return;
    m_progressWidth = width;
    emit progressChanged(width);
}

void SearchRun::setFound(int count) {
    m_found = count;
    emit foundChanged(count);
}

// ---- start, requests and answers

void SearchRun::SearchButtonClick(const QString& text, const SearchSources& sources) {
    if (text.isEmpty()) {
        m_platform.messages.show(kCaption, QStringLiteral("You must enter a search string!"),
                                 MessageIcon::None, MessageButtons::Ok);
        return;
    }
    startSearch(text, sources);
    m_history = SearchHistory::Updated(m_history, text);
    SearchHistory::Write(m_ini, m_history);
    emit historyChanged(m_history);
}

void SearchRun::startSearch(const QString& text, const SearchSources& sources) {
    m_sources = sources;
    m_active = true;
    setSearching(true);
    resetLists();

    // A time limit below a second means none: the timer stays off and the bar empty.
    const qint64 limitMs = qint64(UserOptions::TimeLimit(m_ini)) * 1000;
    m_searchLimitTimer.stop();
    m_searchLimitTimer.setInterval(
        int(std::min<qint64>(std::max<qint64>(limitMs, 0), std::numeric_limits<int>::max())));
    if (m_searchLimitTimer.interval() >= 1000)
        m_searchLimitTimer.start();
    m_progressTimer.start();
    setFound(0);

    const UrlParts service = SplitUrl(m_urls.httpQueryUrl1);
    // The engine's own pages keep its scheme: a service reached over https stays there.
    m_serviceOrigin = (service.scheme.isEmpty() ? QByteArray("http") : service.scheme.toLower()) +
                      "://" +
                      (service.port.isEmpty() ? service.host : service.host + ':' + service.port);
    m_pagesAsked.clear();
    m_offeredLinks.clear();
    m_workInFlight = true;
    if (sources.http) {
        // Only our own service (it asks for UTF-8) knows the user's library.
        const bool newOnly = sources.newOnly || UserOptions::HideSongsIHave(m_ini);
        const auto newOnlyFor = [newOnly](const QByteArray& url) {
            return newOnly && RequestedCharset(url) == EngineCharset::Utf8
                       ? QByteArray("&newonly=1")
                       : QByteArray();
        };
        sendFirstEngineRequest(m_urls.httpQueryUrl1 + EncodeQueryFor(m_urls.httpQueryUrl1, text) +
                               newOnlyFor(m_urls.httpQueryUrl1));
        sendSecondEngineRequest(m_urls.httpQueryUrl2 + EncodeQueryFor(m_urls.httpQueryUrl2, text) +
                                newOnlyFor(m_urls.httpQueryUrl2));
    }
    if (sources.smb)
        sendListingRequest(m_smbQuery,
                           m_urls.smbQueryUrl + EncodeQueryFor(m_urls.smbQueryUrl, text),
                           QStringLiteral("smb.txt"));
    if (sources.ftp) {
        sendListingRequest(m_ftpQuery,
                           m_urls.ftpQueryUrl + EncodeQueryFor(m_urls.ftpQueryUrl, text) +
                               (sources.onlyLeech ? "&leech=y" : "&leech=n"),
                           QStringLiteral("ftp.txt"));
    }
    checkWorkEnded();
}

void SearchRun::resetLists() {
    setProgress(0);
    m_ticks = 0;
    m_results.clear();
    emit hostListFocusRequested();
}

void SearchRun::sendFirstEngineRequest(const QByteArray& url) {
    // A page that links back to a page of this search (its "previous" page) is not asked
    // again: pages linking each other would be fetched over and over until the time limit.
    if (m_pagesAsked.contains("1 " + url) || m_pagesAsked.size() >= kMaxPagesPerSearch)
        return;
    m_pagesAsked.insert("1 " + url);
    sendEngineRequest(1, url);
}

void SearchRun::sendSecondEngineRequest(const QByteArray& url) {
    if (m_pagesAsked.contains("2 " + url) || m_pagesAsked.size() >= kMaxPagesPerSearch) {
        MarkSourceDone(SearchSource::Engine2); // no new next page
        return;
    }
    m_pagesAsked.insert("2 " + url);
    sendEngineRequest(2, url);
}

void SearchRun::sendEngineRequest(int tag, const QByteArray& url) {
    const SearchSource engine = tag == 1 ? SearchSource::Engine1 : SearchSource::Engine2;
    m_flags.clear(engine);
    if (tag == 2)
        m_lastEngine2Url = url;
    setStatus(QStringLiteral("Searching..."));
    auto query = std::make_unique<EngineQuery>();
    query->url = url;
    THttpCli& client = query->client;
    client.SetURL(url);
    SetUpRequest(client, m_ini);
    if (tag == 1)
        client.SetReference(m_serviceOrigin + FirstEngineMarkers::kReferencePage);
    client.SetTag(tag);
    query->body.open(QIODevice::WriteOnly);
    client.SetReceiveStream(&query->body);
    client.OnRequestDone = [this](THttpCli* sender, THttpRequest, quint16) {
        guarded([&] { QueryDone(sender); });
    };
    client.OnDocData = [body = &query->body](THttpCli* sender, const char*, int length) {
        if (body->size() + length <= kMaxAnswerBytes)
            return;
        sender->SetReceiveStream(nullptr);
        sender->Abort(); // ends like a failed request
    };
    m_activeQueries.push_back(std::move(query));
    try {
        client.GetAsync();
    } catch (const PellmarError&) {
        // A link the client cannot even start (no host in it) ends like a failed request.
        m_activeQueries.pop_back();
        MarkSourceDone(engine);
    }
}

void SearchRun::QueryDone(THttpCli* client) {
    const auto found = std::find_if(m_activeQueries.begin(), m_activeQueries.end(),
                                    [&](const auto& query) { return &query->client == client; });
    if (found == m_activeQueries.end())
        return;
    // Released when this handler returns: the client allows that from its own OnRequestDone.
    const std::unique_ptr<EngineQuery> query = std::move(*found);
    m_activeQueries.erase(found);
    const int tag = client->Tag();
    if (client->StatusCode() == 404) {
        MarkSourceDone(tag == 1 ? SearchSource::Engine1 : SearchSource::Engine2);
    } else {
        const QList<QByteArray> lines = SplitLines(query->body.data());
        query->body.close();
        const EngineCharset charset = AnswerCharset(query->url, client->ContentType());
        if (tag == 1)
            ScrapeFirstEngine(lines, m_serviceOrigin, *this, charset);
        else
            ScrapeSecondEngine(lines, *this, charset);
    }
    checkWorkEnded();
}

void SearchRun::sendListingRequest(std::unique_ptr<ListingQuery>& slot, const QByteArray& url,
                                   const QString& fileName) {
    setStatus(QStringLiteral("Searching..."));
    if (!m_active)
        return;
    const QString path = m_programFolder + QStringLiteral("/temp/") + fileName;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw PellmarError(QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(path));
    auto query = std::make_unique<ListingQuery>();
    query->file = std::move(file);
    query->url = url;
    THttpCli& client = query->client;
    client.SetURL(url);
    SetUpRequest(client, m_ini);
    client.SetReceiveStream(query->file.get());
    const bool smb = &slot == &m_smbQuery;
    client.OnDocEnd = [this, smb](THttpCli*) { guarded([&] { smb ? SmbDone() : FtpDone(); }); };
    client.OnRequestDone = [this, smb](THttpCli*, THttpRequest, quint16) {
        (smb ? m_smbQuery : m_ftpQuery)->running = false;
        checkWorkEnded();
    };
    slot = std::move(query);
    try {
        client.GetAsync();
        slot->running = true;
    } catch (const PellmarError&) {
        // Nothing comes of it; the time limit ends the search.
    }
}

EngineCharset SearchRun::listingCharset(const ListingQuery& query) const {
    return AnswerCharset(query.url, query.client.ContentType());
}

QList<QByteArray> SearchRun::takeListing(std::unique_ptr<ListingQuery>& query) {
    if (!query || !query->file)
        return {};
    query->client.SetReceiveStream(nullptr);
    const QString path = query->file->fileName();
    query->file.reset();
    QFile file(path);
    QList<QByteArray> lines = file.open(QIODevice::ReadOnly)
                                  ? SplitLines(file.read(kMaxAnswerBytes))
                                  : QList<QByteArray>();
    file.remove();
    return lines;
}

void SearchRun::SmbDone() {
    if (!m_smbQuery || !m_smbQuery->file)
        return;
    const EngineCharset charset = listingCharset(*m_smbQuery);
    const int count =
        m_results.setSmbHits(ScrapeSmbListing(takeListing(m_smbQuery), m_random, charset));
    setFound(m_found + count);
}

void SearchRun::FtpDone() {
    if (!m_ftpQuery || !m_ftpQuery->file)
        return;
    const EngineCharset charset = listingCharset(*m_ftpQuery);
    const int count =
        m_results.setFtpHits(ScrapeFtpListing(takeListing(m_ftpQuery), m_random, charset));
    if (count > 0)
        setFound(m_found + count);
}

void SearchRun::offerLink(const QByteArray& url, const QByteArray& name) {
    if (m_results.hitList().hasCaption(name))
        return;
    // Both engines often list the same link: it is probed once per search.
    const QByteArray link = url + "|=@" + name;
    if (m_offeredLinks.contains(link))
        return;
    m_offeredLinks.insert(link);
    m_flags.clear(SearchSource::Probes);
    m_probes->StartHeaderProbe(url, name);
}

// Called inside the probe client's data event. A quality setting that is not an integer
// stops it before anything is stored; the probes show that error after the event, since an
// error box's own event loop could release the client under the event's feet.
void SearchRun::ProbeAccepted(const ProbedHit& hit) {
    m_results.addHttpHit(hit);
    setFound(m_found + 1);
}

// ---- completion, timers and abort

void SearchRun::MarkSourceDone(SearchSource source) {
    m_flags.set(source);
    if (!m_flags.allSet())
        return;
    m_progressTimer.stop();
    setStatus(QStringLiteral("Done"));
    setSearching(false);
}

void SearchRun::startSecondEngineRetry() {
    m_audioFindTimer.setInterval(kRetryMs);
    m_audioFindTimer.start();
}

void SearchRun::AudioFindTimerTimer() {
    m_audioFindTimer.stop();
    m_audioFindTimer.setInterval(kRetryMs);
    if (!m_flags.isSet(SearchSource::Engine2))
        sendEngineRequest(2, m_lastEngine2Url);
    checkWorkEnded();
}

void SearchRun::ProgressTimerTimer() {
    ++m_ticks;
    const int seconds = m_searchLimitTimer.interval() / 1000;
    if (seconds <= 0)
        return;
    const int width = qRound(double(m_progressSpace) * m_ticks / seconds);
    if (width <= m_progressSpace)
        setProgress(width);
}

void SearchRun::SearchLimitTimerTimer() {
    if (m_searching) {
        AbortButtonClick();
        if (m_found == 0) {
            m_platform.messages.show(
                kCaption,
                QStringLiteral("Sorry, no matches found in specified time.\rThis could be "
                               "because:\r1) You are searching for a rare artist/song\r2) Our "
                               "server is temporarily down. Try again later."),
                MessageIcon::None, MessageButtons::Ok);
        }
    }
    m_searchLimitTimer.stop();
    setStatus(QString());
}

void SearchRun::AbortButtonClick() {
    setStatus(QStringLiteral("Aborting..."));
    for (auto [checked, query] :
         {std::pair{m_sources.smb, m_smbQuery.get()}, std::pair{m_sources.ftp, m_ftpQuery.get()}}) {
        if (!checked || !query)
            continue;
        // The stream goes first, so that an end of document the abort brings reads nothing.
        query->client.SetReceiveStream(nullptr);
        query->file.reset();
        query->client.Abort();
    }
    deleteTempFiles();
    setProgress(0);
    m_active = false;
    m_searchLimitTimer.stop();
    m_progressTimer.stop();
    setSearching(false);
    // Released while running, outside their events: they close without a word.
    while (!m_activeQueries.empty()) {
        m_activeQueries.erase(m_activeQueries.begin());
        m_flags.set(SearchSource::Engine1);
        m_flags.set(SearchSource::Engine2);
    }
    m_probes->ClearPending();
    setStatus(QStringLiteral("Search aborted"));
    checkWorkEnded();
}

void SearchRun::deleteTempFiles() {
    QDir temp(m_programFolder + QStringLiteral("/temp"));
    const QStringList files = temp.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : files)
        temp.remove(name);
}

bool SearchRun::ComboBox1KeyPress(QChar key, const QString& text, const SearchSources& sources) {
    if (key != QLatin1Char('\r') && key != QLatin1Char('\n'))
        return false;
    if (m_searching)
        AbortButtonClick();
    SearchButtonClick(text, sources);
    return true;
}
