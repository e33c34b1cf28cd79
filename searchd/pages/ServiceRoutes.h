#pragma once

#include "searchd/ServiceSettings.h"
#include "searchd/pages/FoundFiles.h"
#include "searchd/pages/ResultPages.h"
#include "searchd/pages/SavedSearchRoutes.h"
#include "searchd/pages/SavedSearchRunner.h"
#include "searchd/pages/SongSearch.h"
#include "searchd/relay/RelayedFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

class LibraryFolder;
class ServedFile;
class LoginRelay;
class ServiceIndex;

struct ServiceRequest {
    QByteArray method = "GET";
    QByteArray target; // the request target as received: path and query, still escaped
    QByteArray range;  // the Range header, if any
    QString remoteAddress;
};

struct ServiceAnswer {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // A file answer sends fileLength bytes of file from fileOffset instead of body.
    std::shared_ptr<ServedFile> file;
    qint64 fileOffset = 0;
    qint64 fileLength = 0;
    // A streamed answer sends the same bytes through stream instead (false: the source
    // failed before the last of them).
    std::function<bool(qint64 offset, qint64 length, const BodyWriter& write)> stream;
};

// Everything the service answers, apart from HTTP itself: which path means what, the
// checks on parameters and paths, and the answer's bytes. Safe to call from many threads.
class ServiceRoutes {
public:
    // baseUrl is "http://host:port" or "https://host:port" of this service.
    ServiceRoutes(const ServiceSettings& settings, const QString& baseUrl,
                  const LibraryFolder& library, ServiceIndex& index);

    // Where /status learns how each source's walk goes; safe while serving.
    void setCrawlStates(CrawlStates provider);
    void setCrawlControl(CrawlControl control);

    // Where hits of sources with a login are fetched (see LoginRelay); safe while serving.
    void setRelay(const LoginRelay* relay) { m_relay = relay; }

    ServiceAnswer answer(const ServiceRequest& request);

    // Whether answering target costs no more than opening a library file, so a server
    // thread that moves bytes may answer it itself.
    static bool answersAtOnce(const QByteArray& target);

    // Runs the saved searches, with this service's links for what they find.
    SavedSearchRunner& savedSearches() { return m_savedRunner; }

    // Why there is no data file for this address; empty when there is one.
    QString dataFileProblem() const { return m_dataFileProblem; }

    static constexpr int kMaxWords = 32;
    static constexpr int kMaxPage = 100000;
    static constexpr int kListingLimit = 1000;
    static constexpr int kBrowserPageSize = 20;
    // Anyone may report a site: the newest reports are kept, their names no longer than a
    // real address, and the page shows them a hundred at a time.
    static constexpr int kMaxSubmissions = 10000;
    static constexpr int kMaxSiteLength = 1000;
    static constexpr int kSubmissionsPageSize = 100;

private:
    struct Search;
    std::optional<Search> readSearch(const QByteArray& query, const char* wordsKey,
                                     const QList<QByteArray>& trailingKeys,
                                     ServiceAnswer& error) const;

    ServiceAnswer firstEngine(const QByteArray& query);
    ServiceAnswer secondEngine(const QByteArray& query);
    ServiceAnswer smbListing(const QByteArray& query);
    ServiceAnswer ftpListing(const QByteArray& query);
    ServiceAnswer file(const QByteArray& escapedPath, const QByteArray& range);
    ServiceAnswer relayed(const QByteArray& keyAndPath, const QByteArray& range);
    ServiceAnswer submission(const QByteArray& script, const QByteArray& query,
                             const QString& remoteAddress);
    ServiceAnswer submissions(const QByteArray& query);
    // The search page; api: /api/search, which answers JSON only.
    ServiceAnswer home(const QByteArray& query, bool api = false);
    ServiceAnswer status(const QByteArray& query);
    ServiceAnswer crawlNow(const ServiceRequest& request, const QByteArray& query);
    ServiceAnswer saved(const ServiceRequest& request, const QByteArray& path,
                        const QByteArray& query);

    QByteArray fileUrl(const QString& path) const;
    QByteArray linkOf(const FoundFile& found) const;
    QList<ResultLink> linksFor(const QList<FoundFile>& files) const;
    QStringList relayedSources() const;

    ServiceSettings m_settings;
    QString m_baseUrl;
    QByteArray m_dataFile;
    QString m_dataFileProblem;
    const LibraryFolder& m_library;
    ServiceIndex& m_index;
    FoundFiles m_found;
    SongSearch m_songs;
    SavedSearchRunner m_savedRunner;
    SavedSearchRoutes m_savedRoutes;
    mutable std::mutex m_statesMutex;
    CrawlStates m_crawlStates;
    CrawlControl m_crawlControl;
    std::atomic<int> m_failuresLeft;
    std::atomic<const LoginRelay*> m_relay = nullptr;
};
