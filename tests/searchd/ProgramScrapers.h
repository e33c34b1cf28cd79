#pragma once

#include "core/HitRecords.h"
#include "core/TextHelpers.h"
#include "search/EngineScrapers.h"
#include "search/ListingScraper.h"

#include <QByteArray>
#include <QList>
#include <algorithm>

// The service's answers read by the program's own scrapers, so the service's tests check
// that every answer reads the way the program reads it.
struct FoundLink {
    QByteArray url;
    QByteArray name; // the display name the program makes of the link text
};

namespace ProgramScrapers {

inline constexpr char kServicePrefix[] = "http://service.host";

// What a page made the scraper do.
struct EnginePage {
    QList<QByteArray> pagingLinks; // further first-engine pages, as targets on the service
    QList<FoundLink> links;
    QByteArray nextUrl; // the second engine's next page
    bool done = false;  // the engine was ended
    bool retry = false; // "Internal Server": the program asks again
};
using FirstEnginePage = EnginePage;
using SecondEnginePage = EnginePage;

class PageRecorder : public IEngineScraperHost {
public:
    void sendFirstEngineRequest(const QByteArray& url) override {
        page.pagingLinks.append(url.mid(qsizetype(sizeof kServicePrefix) - 1));
    }
    void sendSecondEngineRequest(const QByteArray&) override {}
    void markSourceDone(SearchSource) override { page.done = true; }
    bool allSourcesDone() const override { return false; }
    void startSecondEngineRetry() override { page.retry = true; }
    void setNextPageUrl(const QByteArray& url) override { page.nextUrl = url; }
    void offerLink(const QByteArray& url, const QByteArray& name) override {
        page.links.append({url, name});
    }
    EnginePage page;
};

inline EnginePage readFirstEngine(const QByteArray& body) {
    PageRecorder recorder;
    ScrapeFirstEngine(SplitLines(body), kServicePrefix, recorder);
    return recorder.page;
}

inline EnginePage readSecondEngine(const QByteArray& body) {
    PageRecorder recorder;
    ScrapeSecondEngine(SplitLines(body), recorder);
    return recorder.page;
}

// The records in listing order: the scrapers shuffle them, and always drawing the last
// remaining one gives them in reverse.
inline QList<ListingRecord> inListingOrder(const QList<QByteArray>& shuffled) {
    QList<ListingRecord> records;
    for (auto line = shuffled.crbegin(); line != shuffled.crend(); ++line)
        records.append(ListingRecord::fromLine(*line));
    return records;
}

inline int lastRemaining(int n) {
    return n - 1;
}

inline QList<ListingRecord> readSmbListing(const QByteArray& body) {
    return inListingOrder(ScrapeSmbListing(SplitLines(body), lastRemaining));
}

inline QList<ListingRecord> readFtpListing(const QByteArray& body) {
    return inListingOrder(ScrapeFtpListing(SplitLines(body), lastRemaining));
}

} // namespace ProgramScrapers
