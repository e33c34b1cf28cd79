#include "search/EngineScrapers.h"

#include "core/FirstEngineMarkers.h"
#include "core/HitRecords.h"
#include "core/SecondEngineMarkers.h"
#include "search/NameCleaning.h"

#include <algorithm>

namespace {

// The scrapers walk one line with a cursor instead of copying the rest of the line after
// every cut, so a megabyte line with thousands of links stays linear.
class LineCursor {
public:
    explicit LineCursor(const QByteArray& line) : m_line(line) {}

    bool holds(QByteArrayView marker) const { return m_line.indexOf(marker, m_at) >= 0; }
    // Moves behind the next occurrence of marker; stays when there is none.
    void cutAfter(QByteArrayView marker) {
        const qsizetype found = m_line.indexOf(marker, m_at);
        if (found >= 0)
            m_at = found + marker.size();
    }
    // The text up to the next occurrence of marker; empty when there is none.
    QByteArray upTo(QByteArrayView marker) const {
        const qsizetype found = m_line.indexOf(marker, m_at);
        return found < 0 ? QByteArray() : m_line.mid(m_at, found - m_at);
    }

private:
    const QByteArray& m_line;
    qsizetype m_at = 0;
};

// The name and URL become fields of a hit record: a TAB or line break in them must not
// split it.
void offer(IEngineScraperHost& host, const QByteArray& url, const QByteArray& rawText,
           EngineCharset charset) {
    const QByteArray text = HitRecords::FieldText(rawText);
    const QByteArray name =
        charset == EngineCharset::Utf8 ? PrepareUtf8DisplayName(text) : PrepareDisplayName(text);
    if (!name.isEmpty())
        host.offerLink(HitRecords::FieldUrl(url), name);
}

void requestFirstEnginePages(const QList<QByteArray>& lines, const QByteArray& serviceOrigin,
                             IEngineScraperHost& host) {
    using namespace FirstEngineMarkers;
    for (const QByteArray& line : lines) {
        if (!line.contains(kPagingLine))
            continue;
        const QByteArray link = line.mid(line.indexOf(kPagingStart));
        host.sendFirstEngineRequest(serviceOrigin + kPageFolder +
                                    LineCursor(link).upTo(kPagingEnd));
    }
}

// The link after "previous" when the paging line has one, else the one of "next".
QByteArray secondEngineNextPage(const QByteArray& line) {
    LineCursor paging(line);
    if (line.contains("previous")) {
        paging.cutAfter("previous");
        paging.cutAfter("HREF=");
        return paging.holds("next") ? paging.upTo(">") : QByteArray();
    }
    if (!line.contains("next"))
        return {};
    paging.cutAfter("HREF=");
    return paging.upTo(">");
}

} // namespace

void ScrapeFirstEngine(const QList<QByteArray>& lines, const QByteArray& serviceOrigin,
                       IEngineScraperHost& host, EngineCharset charset) {
    using namespace FirstEngineMarkers;
    requestFirstEnginePages(lines, serviceOrigin, host);
    if (host.allSourcesDone())
        return;
    const bool table = std::any_of(lines.begin(), lines.end(), [](const QByteArray& line) {
        return line.contains(kResultTable);
    });
    if (!table || lines.last().contains(kNoRecords) || lines.last().contains(kServerError)) {
        host.markSourceDone(SearchSource::Engine1);
        return;
    }
    LineCursor text(lines.last());
    while (text.holds(kResultLink)) {
        text.cutAfter(kResultLink);
        const QByteArray url = text.upTo("\"");
        if (!url.contains(kFileLink)) {
            text.cutAfter(kResultLink); // the next link is passed over as well
            continue;
        }
        text.cutAfter(">");
        offer(host, url, text.upTo("<"), charset);
    }
}

void ScrapeSecondEngine(const QList<QByteArray>& lines, IEngineScraperHost& host,
                        EngineCharset charset) {
    if (host.allSourcesDone())
        return;
    if (!lines.isEmpty() && lines.first().contains("Internal Server")) {
        host.startSecondEngineRetry();
        return;
    }
    if (lines.isEmpty() || lines.last().contains(SecondEngineMarkers::noResultsMarker())) {
        host.markSourceDone(SearchSource::Engine2);
        return;
    }
    const QByteArray pagingMarker = SecondEngineMarkers::pagingMarker();
    const auto paging = std::find_if(lines.begin(), lines.end(), [&](const QByteArray& line) {
        return line.contains(pagingMarker);
    });
    if (paging == lines.end()) {
        host.markSourceDone(SearchSource::Engine2);
        return;
    }
    const QByteArray nextPage = secondEngineNextPage(*paging);
    host.setNextPageUrl(nextPage);
    const QByteArray resultsMarker = SecondEngineMarkers::resultsMarker();
    const auto results = std::find_if(
        paging, lines.end(), [&](const QByteArray& line) { return line.contains(resultsMarker); });
    if (results == lines.end()) {
        host.markSourceDone(SearchSource::Engine2);
        return;
    }
    LineCursor text(*results);
    while (text.holds("HREF=")) {
        text.cutAfter("HREF=");
        const QByteArray url = text.upTo(">");
        text.cutAfter("<BR>");
        offer(host, url, text.upTo("<"), charset);
    }
    if (nextPage.isEmpty())
        host.markSourceDone(SearchSource::Engine2);
    else
        host.sendSecondEngineRequest(nextPage);
}
