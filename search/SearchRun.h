#pragma once

#include "search/CompletionFlags.h"
#include "search/EngineScrapers.h"
#include "search/ListingScraper.h"
#include "search/SearchResults.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class HeaderProbes;
class QBuffer;
class QFile;
class SettingsFile;
class THttpCli;
struct DataFileConfig;
struct Platform;
struct ProbedHit;

// The sources a search asks, as the check boxes under the search box say.
struct SearchSources {
    bool http = true;
    bool ftp = true;
    bool smb = true;
    bool onlyLeech = false; // FTP: only the sites the service lists as leech sites
    // Our own service leaves out the songs the user's library has (also when the option
    // "Hide songs I have" is on).
    bool newOnly = false;
};

// The search service's four query addresses, from the data file.
struct SearchServiceUrls {
    QByteArray httpQueryUrl1;
    QByteArray httpQueryUrl2;
    QByteArray smbQueryUrl;
    QByteArray ftpQueryUrl;

    static SearchServiceUrls fromDataFile(const DataFileConfig& config);
};

// The search text as a query value: blanks and control characters trimmed from both ends,
// blanks as "+", and "/", double quotes, "#", "%", "&" and "+" percent-encoded, so the text
// reaches the service whole. Other bytes (Windows-1252 letters too) go as they are.
QByteArray EncodeQuery(const QByteArray& text);

// The search text as a query value for an engine that agreed on UTF-8 (EngineCharset.h):
// EncodeQuery of its UTF-8 bytes, with every byte outside ASCII percent-encoded too.
QByteArray EncodeUtf8Query(const QString& text);

// The search text as a query value for the engine at url: UTF-8 when its address asks for it,
// else Windows-1252 (characters without a code there become "?").
QByteArray EncodeQueryFor(const QByteArray& url, const QString& text);

// One search from start to end: the requests to the two HTTP engines, the SMB and the FTP
// search, their answers read by the scrapers, the header probes of the links found, the
// time limit, the progress and the history. What the search finds goes to its
// SearchResults: the three hit stores and the two list models.
// Windows and pellmar-cli drive it alike: they pass the search text and the check boxes
// in, show the models, and follow the signals. Everything runs on the event loop.
class SearchRun : public QObject, private IEngineScraperHost {
    Q_OBJECT
public:
    // random(n) draws from 0 to n - 1 (listing order, probe file names); none: the system's.
    SearchRun(SettingsFile& ini, QString programFolder, Platform& platform, RandomIndex random = {},
              QObject* parent = nullptr);
    ~SearchRun() override;

    void setServiceUrls(const SearchServiceUrls& urls) { m_urls = urls; }

    SearchResults& results() { return m_results; }
    HitListModel& hitList() { return m_results.hitList(); }
    HostListModel& hostList() { return m_results.hostList(); }
    // The lists' selection and focused (current) row; the views share them.
    QItemSelectionModel& hitSelection() { return m_results.hitSelection(); }
    QItemSelectionModel& hostSelection() { return m_results.hostSelection(); }

    // The width the progress bar may fill, in pixels.
    void setProgressSpace(int width) { m_progressSpace = width; }

    // Starts a search; "You must enter a search string!" for an empty text. Throws
    // PellmarError "Cannot create file ..." when a listing's file cannot be made in temp/.
    void SearchButtonClick(const QString& text, const SearchSources& sources);
    void AbortButtonClick();
    // The search box's keys: Enter is taken (true) and aborts a running search before
    // starting the new one; every other key is left to the box.
    bool ComboBox1KeyPress(QChar key, const QString& text, const SearchSources& sources);
    // Fills the hit list from the store of the host list's focused row.
    void HostListViewClick() { m_results.HostListViewClick(); }
    // The hit list's "Copy Path To Clipboard" and the host list's "Copy To Clipboard".
    void CopyPathToClipboard1Click() { m_results.CopyPathToClipboard1Click(); }
    void CopyFTPPathClick() { m_results.CopyFTPPathClick(); }

    // The timers' handlers, public so that tests can tick them.
    void ProgressTimerTimer();
    void SearchLimitTimerTimer();
    void AudioFindTimerTimer();

    bool isSearching() const { return m_searching; } // the abort button is shown
    QString statusText() const { return m_status; }
    int progressWidth() const { return m_progressWidth; }
    int SearchFound() const { return m_found; }
    HostView hostView() const { return m_results.hostView(); }
    QStringList history() const { return m_history; }
    const CompletionFlags& completionFlags() const { return m_flags; }
    // True while a request or probe of the search is on its way or a retry is due.
    bool hasWorkInFlight() const;

    const QList<QByteArray>& HttpHitStore() const { return m_results.HttpHitStore(); }
    const QList<QByteArray>& FtpHitStore() const { return m_results.FtpHitStore(); }
    const QList<QByteArray>& SmbHitStore() const { return m_results.SmbHitStore(); }
    const QList<QByteArray>& PendingProbeList() const;

    QTimer& ProgressTimer() { return m_progressTimer; }
    QTimer& SearchLimitTimer() { return m_searchLimitTimer; }
    QTimer& AudioFindTimer() { return m_audioFindTimer; }

signals:
    void statusChanged(const QString& text);
    // The abort button shows (and the check boxes are disabled) while true.
    void searchingChanged(bool searching);
    void progressChanged(int width);
    void foundChanged(int count);
    void historyChanged(const QStringList& entries);
    // A search start gives the host list the keyboard focus.
    void hostListFocusRequested();
    // The last request, probe or retry of a search has ended (see hasWorkInFlight).
    void workEnded();

private:
    struct EngineQuery;
    struct ListingQuery;

    // IEngineScraperHost
    void sendFirstEngineRequest(const QByteArray& url) override;
    void sendSecondEngineRequest(const QByteArray& url) override;
    void markSourceDone(SearchSource source) override { MarkSourceDone(source); }
    bool allSourcesDone() const override { return m_flags.allSet(); }
    void startSecondEngineRetry() override;
    void setNextPageUrl(const QByteArray& url) override { m_nextPageUrl = url; }
    void offerLink(const QByteArray& url, const QByteArray& name) override;

    void MarkSourceDone(SearchSource source);
    void setStatus(const QString& text);
    void setSearching(bool searching);
    void setProgress(int width);
    void setFound(int count);
    void startSearch(const QString& text, const SearchSources& sources);
    EngineCharset listingCharset(const ListingQuery& query) const;
    void resetLists();
    void sendEngineRequest(int tag, const QByteArray& url);
    void sendListingRequest(std::unique_ptr<ListingQuery>& slot, const QByteArray& url,
                            const QString& fileName);
    void QueryDone(THttpCli* client);
    void SmbDone();
    void FtpDone();
    QList<QByteArray> takeListing(std::unique_ptr<ListingQuery>& query);
    void ProbeAccepted(const ProbedHit& hit);
    void deleteTempFiles();
    void checkWorkEnded();
    void guarded(const std::function<void()>& handler);

    SettingsFile& m_ini;
    QString m_programFolder;
    Platform& m_platform;
    RandomIndex m_random;
    SearchServiceUrls m_urls;

    SearchResults m_results;

    std::vector<std::unique_ptr<EngineQuery>> m_activeQueries;
    std::unique_ptr<ListingQuery> m_smbQuery;
    std::unique_ptr<ListingQuery> m_ftpQuery;
    std::unique_ptr<HeaderProbes> m_probes;
    QSet<QByteArray> m_pagesAsked;   // "engine url" of the pages requested by this search
    QSet<QByteArray> m_offeredLinks; // "url|=@name" of the links probed by this search
    CompletionFlags m_flags;
    QByteArray m_lastEngine2Url;
    QByteArray m_nextPageUrl;
    QByteArray m_serviceOrigin; // scheme, host and port of the first engine's address

    QTimer m_progressTimer;
    QTimer m_searchLimitTimer;
    QTimer m_audioFindTimer;
    bool m_active = false;    // the search-active flag: from the start until an abort
    bool m_searching = false; // the abort button is shown
    SearchSources m_sources;
    QString m_status;
    int m_progressSpace = 0;
    int m_progressWidth = 0;
    int m_ticks = 0;
    int m_found = 0;
    QStringList m_history;
    bool m_workInFlight = false;
};
