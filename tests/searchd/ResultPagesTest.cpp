#include "searchd/pages/ResultPages.h"
#include "ProgramScrapers.h"
#include "core/SecondEngineMarkers.h"
#include "core/TextHelpers.h"
#include "searchd/pages/Listings.h"

#include <gtest/gtest.h>

using namespace ProgramScrapers;

namespace {

QList<ResultLink> twoLinks() {
    return {
        {"http://127.0.0.1:8790/files/a.mp3", QStringLiteral("Harbor & Vine - \"Salt\".mp3"),
         45000},
        {"http://127.0.0.1:8790/files/Caf%C3%A9.mp3", QStringLiteral("Caf\u00E9 <Live>.mp3"), 12}};
}

} // namespace

TEST(SecondEngineMarkers, PlainTextsHaveTheirLengthsAndStayApart) {
    const QByteArray a = SecondEngineMarkers::noResultsMarker();
    const QByteArray b = SecondEngineMarkers::pagingMarker();
    const QByteArray c = SecondEngineMarkers::resultsMarker();
    EXPECT_EQ(a, "<P CLASS=none>No MP3 files match your words");
    EXPECT_EQ(b, "<DIV CLASS=pages>");
    EXPECT_EQ(c, "<DIV ID=hits>");
    EXPECT_EQ(a.size(), 43);
    EXPECT_EQ(b.size(), 17);
    EXPECT_EQ(c.size(), 13);
    EXPECT_EQ(ScrambleText(c), QByteArray(SecondEngineMarkers::kResultsScrambled));
    // Paging words must not turn up in the marker line itself.
    for (const QByteArray& marker : {a, b, c}) {
        EXPECT_FALSE(marker.contains("next") || marker.contains("previous") ||
                     marker.contains("HREF="));
    }
}

TEST(ResultPages, FirstEngineResultsReadAsLinksAndANextPage) {
    const QByteArray body = ResultPages::firstEngine(QStringLiteral("salt <b>"), twoLinks(), 11,
                                                     "search.asp?since=&searchwords=%73&page=3");
    EXPECT_FALSE(body.contains('\n') && !body.contains("\r\n"));
    const FirstEnginePage page = readFirstEngine(body);
    EXPECT_FALSE(page.done);
    EXPECT_EQ(page.pagingLinks,
              QList<QByteArray>{"/cgi-bin/mp3asp/search.asp?since=&searchwords=%73&page=3"});
    ASSERT_EQ(page.links.size(), 2);
    EXPECT_EQ(page.links[0].url, "http://127.0.0.1:8790/files/a.mp3");
    EXPECT_EQ(page.links[0].name, "Harbor  Vine - Salt");
    EXPECT_EQ(page.links[1].url, "http://127.0.0.1:8790/files/Caf%C3%A9.mp3");
    EXPECT_EQ(page.links[1].name, "Caf\xE9 &lt;live&gt;"); // Windows-1252
    EXPECT_FALSE(body.contains("<b>"));
    EXPECT_FALSE(body.contains("previous"));
}

TEST(ResultPages, FirstEngineEmptyPageEndsTheEngine) {
    const QByteArray body = ResultPages::firstEngineNoRecords(QStringLiteral("zzz"));
    const FirstEnginePage page = readFirstEngine(body);
    EXPECT_TRUE(page.done);
    EXPECT_TRUE(page.pagingLinks.isEmpty());
    EXPECT_TRUE(SplitLines(body).last().contains("No records found"));
}

TEST(ResultPages, SecondEnginePagingReadsTheNextUrl) {
    const QByteArray previous = "http://h:1/audiofind/search?words=%6E%65%78%74&page=1";
    const QByteArray next = "http://h:1/audiofind/search?words=%6E%65%78%74&page=3";
    struct Row {
        QByteArray previous, next, expected;
    } rows[] = {{{}, next, next}, {previous, next, next}, {previous, {}, {}}, {{}, {}, {}}};
    for (const Row& row : rows) {
        const QByteArray body = ResultPages::secondEngine(QStringLiteral("next"), twoLinks(), 1,
                                                          row.previous, row.next);
        const SecondEnginePage page = readSecondEngine(body);
        EXPECT_FALSE(page.retry);
        EXPECT_EQ(page.nextUrl, row.expected);
        EXPECT_EQ(page.done, row.expected.isEmpty());
        ASSERT_EQ(page.links.size(), 2);
        EXPECT_EQ(page.links[0].url, "http://127.0.0.1:8790/files/a.mp3");
        EXPECT_EQ(page.links[0].name, "Harbor  Vine - Salt");
        EXPECT_EQ(page.links[1].name, "Caf\xE9 &lt;live&gt;");
    }
}

TEST(ResultPages, SecondEngineEmptyAndFailingPages) {
    const QByteArray empty = ResultPages::secondEngineNoResults(QStringLiteral("x"));
    EXPECT_TRUE(SplitLines(empty).last().contains(SecondEngineMarkers::noResultsMarker()));
    EXPECT_TRUE(readSecondEngine(empty).done);
    const SecondEnginePage failing = readSecondEngine(ResultPages::internalServerError());
    EXPECT_TRUE(failing.retry);
    EXPECT_FALSE(failing.done);
}

TEST(Listings, SmbTreeReadsBackAsRecords) {
    const QList<IndexedFile> files = {{"Rock/b.mp3", 20, {}, {}},
                                      {"a.mp3", 10, {}, {}},
                                      {"Rock/c.mp3", 30, {}, {}},
                                      {"Rock/Live/d.mp3", 40, {}, {}},
                                      {"bad\\name.mp3", 1, {}, {}},
                                      {"tab\there.mp3", 1, {}, {}},
                                      {QStringLiteral("\u65E5\u672C.mp3"), 1, {}, {}},
                                      {"Jazz/e:f.mp3", 50, {}, {}}};
    const QByteArray body = Listings::smb("192.168.0.7", "mp3", files);
    EXPECT_TRUE(body.startsWith("192.168.0.7\t\\mp3\\\ta.mp3\t10\r\n"));
    const QList<ListingRecord> expected = {{"192.168.0.7", "\\mp3\\", "a.mp3", "10"},
                                           {"192.168.0.7", "\\mp3\\Jazz\\", "e:f.mp3", "50"},
                                           {"192.168.0.7", "\\mp3\\Rock\\", "b.mp3", "20"},
                                           {"192.168.0.7", "\\mp3\\Rock\\", "c.mp3", "30"},
                                           {"192.168.0.7", "\\mp3\\Rock\\Live\\", "d.mp3", "40"}};
    EXPECT_EQ(readSmbListing(body), expected);
}

TEST(Listings, FtpTreeGivesEachFolderAHostLine) {
    const QList<IndexedFile> files = {{"Rock/b.mp3", 20, {}, {}},
                                      {"a.mp3", 10, {}, {}},
                                      {"Rock/c.mp3", 30, {}, {}},
                                      {"Jazz/e:f.mp3", 50, {}, {}},
                                      {QStringLiteral("Caf\u00E9.mp3"), 5, {}, {}}};
    const QByteArray body = Listings::ftp("anonymous@127.0.0.1:2121", files);
    const QByteArray site = "anonymous@127.0.0.1:2121";
    const QList<ListingRecord> expected = {{site, "/", "a.mp3", "10"},
                                           {site, "/", "Caf\xE9.mp3", "5"},
                                           {site, "/Rock/", "b.mp3", "20"},
                                           {site, "/Rock/", "c.mp3", "30"}};
    EXPECT_EQ(readFtpListing(body), expected);
    EXPECT_EQ(body.count('\n'), 4);
    EXPECT_TRUE(Listings::ftp("a@b:1", {}).isEmpty());
}
