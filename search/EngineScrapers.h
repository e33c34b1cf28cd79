#pragma once

#include "search/CompletionFlags.h"
#include "search/EngineCharset.h"

#include <QByteArray>
#include <QList>

// What the engine scrapers ask of the search run that called them.
class IEngineScraperHost {
public:
    virtual ~IEngineScraperHost() = default;
    virtual void sendFirstEngineRequest(const QByteArray& url) = 0;
    virtual void sendSecondEngineRequest(const QByteArray& url) = 0;
    virtual void markSourceDone(SearchSource source) = 0;
    virtual bool allSourcesDone() const = 0;
    // The service answered "Internal Server": ask the second engine again a little later.
    virtual void startSecondEngineRetry() = 0;
    virtual void setNextPageUrl(const QByteArray& url) = 0;
    // A result link with its prepared display name (never empty, never refused). The run
    // drops names already listed and probes the others.
    virtual void offerLink(const QByteArray& url, const QByteArray& name) = 0;
};

// Reads a page of the first engine: every paging line becomes a further request (relative
// links completed with serviceOrigin ("https://host:port") + the engine's folder), and the result
// links of the last line are offered. An empty page, one without a result table, or one
// saying "No records found" or "Server Error" ends the engine. Pages arriving after the
// search is done are ignored except for their paging. The names of a UTF-8 page are offered
// as hit texts (core/HitText.h).
void ScrapeFirstEngine(const QList<QByteArray>& lines, const QByteArray& serviceOrigin,
                       IEngineScraperHost& host,
                       EngineCharset charset = EngineCharset::Windows1252);

// Reads a page of the second engine: "Internal Server" on the first line starts the retry;
// the no-results marker, a page without its paging or result line, or no next page after
// the results ends the engine; otherwise the links are offered and the next page is asked
// for.
void ScrapeSecondEngine(const QList<QByteArray>& lines, IEngineScraperHost& host,
                        EngineCharset charset = EngineCharset::Windows1252);
