#include "search/EngineScrapers.h"
#include "core/SecondEngineMarkers.h"
#include "core/TextHelpers.h"

#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Records every call as one line of text, in order.
class RecordingHost : public IEngineScraperHost {
public:
    void sendFirstEngineRequest(const QByteArray& url) override { log("first " + url); }
    void sendSecondEngineRequest(const QByteArray& url) override { log("second " + url); }
    void markSourceDone(SearchSource source) override {
        log("done " + QByteArray::number(static_cast<int>(source) + 1));
    }
    bool allSourcesDone() const override { return allDone; }
    void startSecondEngineRetry() override { log("retry"); }
    void setNextPageUrl(const QByteArray& url) override { log("next " + url); }
    void offerLink(const QByteArray& url, const QByteArray& name) override {
        log("offer " + url + "|" + name);
        offered.insert(url);
    }
    void log(const QByteArray& line) { calls.append(line); }

    bool allDone = false;
    QList<QByteArray> calls;
    QSet<QByteArray> offered;
};

QList<QByteArray> first(const QByteArray& page, bool allDone = false) {
    RecordingHost host;
    host.allDone = allDone;
    ScrapeFirstEngine(SplitLines(page), "http://svc:81", host);
    return host.calls;
}

QList<QByteArray> second(const QByteArray& page) {
    RecordingHost host;
    ScrapeSecondEngine(SplitLines(page), host);
    return host.calls;
}

const QByteArray kPaging =
    "<a href=\"search.asp?since=&searchwords=a+b&page=2\"><IMG SRC=\"/mediabot/next.gif\"></a>";
const QByteArray kFirstResults =
    "<TR><TD B>x</TD></TR>\r\n" + kPaging +
    "\r\n<TABLE><TD 0><a href=\"http://h/1.mp3\">one_song.mp3</a>"
    "<TD 0><a href=\"/rel.mp3\">skipped</a><TD 0><a href=\"http://h/3.mp3\">passed over</a>"
    "<TD 0><a href=\"http://h/4.mp3\">b&amp;c</a></TABLE>";

QByteArray secondPage(const QByteArray& paging, const QByteArray& results) {
    return "<HTML>\r\n" + SecondEngineMarkers::pagingMarker() + paging + "</DIV>\r\n" +
           SecondEngineMarkers::resultsMarker() + results + "</DIV>\r\n</HTML>\r\n";
}

const QByteArray kSecondResults =
    "<P><A HREF=http://h/a.mp3>1.</A> 9 bytes<BR>a_b-c</P><P><A HREF=http://h/b.mp3>2.</A>"
    "<BR>&nbsp;</P><P><A HREF=http://h/c.mp3>3.</A> no break</P>";

} // namespace

TEST(EngineScrapers, FirstEnginePagingLinksAndSkippedLinks) {
    EXPECT_EQ(first(kFirstResults),
              (QList<QByteArray>{
                  "first http://svc:81/cgi-bin/mp3asp/search.asp?since=&searchwords=a+b&page=2",
                  "offer http://h/1.mp3|One Song", "offer http://h/4.mp3|Bc"}));
    // Two paging lines, two requests; a paging link without its end is empty.
    EXPECT_EQ(first(kPaging + "\r\n" + kPaging + "\r\n<a href=\"search.asp?since=&searchwords=x"),
              (QList<QByteArray>{
                  "first http://svc:81/cgi-bin/mp3asp/search.asp?since=&searchwords=a+b&page=2",
                  "first http://svc:81/cgi-bin/mp3asp/search.asp?since=&searchwords=a+b&page=2",
                  "first http://svc:81/cgi-bin/mp3asp/", "done 1"}));
    // After the end of the search only the paging is followed.
    EXPECT_EQ(first(kFirstResults, true).size(), 1);
}

TEST(EngineScrapers, FirstEngineEndsOnEmptyAndErrorPages) {
    const QByteArray ends[] = {"", "<P>hello</P>", "<TR><TD B>\r\nNo records found",
                               "<TR><TD B>\r\n<P>Server Error</P>"};
    for (const QByteArray& page : ends)
        EXPECT_EQ(first(page), QList<QByteArray>{"done 1"}) << page.constData();
    // Results before the last line are not read; the engine stays open.
    EXPECT_EQ(first("<TR><TD B 0><a href=\"http://h/1.mp3\">x</a>\r\n<P>end</P>"),
              QList<QByteArray>{});
}

TEST(EngineScrapers, SecondEnginePagingRetryAndEnd) {
    const QByteArray noResults = "<P>" + SecondEngineMarkers::noResultsMarker() + "</P>";
    const struct {
        QByteArray page;
        QList<QByteArray> calls;
    } rows[] = {
        {"<H1>Internal Server Error</H1>\r\n" + noResults, {"retry"}},
        {"<HTML>\r\n" + noResults, {"done 2"}},
        {"", {"done 2"}},
        {"<HTML>\r\n" + SecondEngineMarkers::resultsMarker(), {"done 2"}},
        {secondPage("nothing", ""), {"next ", "done 2"}},
        {"<HTML>\r\n" + SecondEngineMarkers::pagingMarker() + "<A HREF=u2>next</A>",
         {"next u2", "done 2"}},
        {secondPage("<A HREF=u1>previous</A> | <A HREF=u3>next</A>", kSecondResults),
         {"next u3", "offer http://h/a.mp3|A B - C", "offer http://h/c.mp3|Httphc>3.",
          "second u3"}},
        {secondPage("<A HREF=u1>previous</A>", kSecondResults),
         {"next ", "offer http://h/a.mp3|A B - C", "offer http://h/c.mp3|Httphc>3.", "done 2"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(second(row.page), row.calls) << row.page.constData();
}

// A TAB or line break in a link must not split the hit record the link becomes.
TEST(EngineScrapers, SeparatorsInALinkStayInsideItsFields) {
    EXPECT_EQ(first("<TR><TD B>x</TD></TR>\r\n<TD 0><a href=\"http://h/a\tb.mp3\">in\tside</a>"),
              QList<QByteArray>{"offer http://h/a%09b.mp3|In Side"});
    EXPECT_EQ(second(secondPage("", "<A HREF=http://h/c\td.mp3>1.</A><BR>tab\tin\ttext</P>")),
              (QList<QByteArray>{"next ", "offer http://h/c%09d.mp3|Tab In Text", "done 2"}));
}

// A first-engine page cut off anywhere (a dropped connection) may lose links but never
// offers a URL that the whole page does not hold, nor a piece of one.
TEST(EngineScrapers, FirstEnginePageCutAtEveryByteOffersOnlyWholeLinks) {
    RecordingHost whole;
    ScrapeFirstEngine(SplitLines(kFirstResults), "http://svc", whole);
    for (qsizetype cut = 0; cut <= kFirstResults.size(); ++cut) {
        RecordingHost part;
        ScrapeFirstEngine(SplitLines(kFirstResults.left(cut)), "http://svc", part);
        EXPECT_TRUE(whole.offered.contains(part.offered)) << "cut " << cut;
    }
}

TEST(EngineScrapers, ThousandsOfLinksOnAMegabyteLine) {
    QByteArray line = "<TR><TD B>\r\n";
    for (int i = 0; i < 20000; ++i)
        line += "<TD 0><a href=\"http://h/" + QByteArray::number(i) + ".mp3\">Song " +
                QByteArray::number(i) + "</a>" + QByteArray(40, ' ');
    RecordingHost host;
    ScrapeFirstEngine(SplitLines(line), "http://svc", host);
    EXPECT_EQ(host.offered.size(), 20000);
    EXPECT_EQ(host.calls.last(), "offer http://h/19999.mp3|Song 19999");
}
