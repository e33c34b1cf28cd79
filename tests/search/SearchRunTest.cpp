#include "search/SearchRun.h"
#include "LocalSearchService.h"
#include "core/HitRecords.h"
#include "core/HitText.h"
#include "core/SecondEngineMarkers.h"
#include "download/ExternalHandoff.h"
#include "download/TargetNames.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/ListRows.h"
#include "support/NonLatinSongs.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "support/TestSeed.h"

#include <QDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <random>

namespace {

const SearchSources kAll{true, true, true, false};
const SearchSources kHttpOnly{true, false, false, false};

class SearchRunTest : public ::testing::Test {
protected:
    SearchRunTest() {
        QObject::connect(&run, &SearchRun::statusChanged,
                         [this](const QString& text) { statuses.append(text); });
    }

    QStringList hitRows() const { return HitRowTexts(const_cast<SearchRun&>(run).hitList()); }
    QStringList hostRows() const { return HostRowTexts(const_cast<SearchRun&>(run).hostList()); }
    // A click on a host row: selected and focused, then the list is filled for it.
    void clickHost(int row) {
        run.hostSelection().setCurrentIndex(run.hostList().index(row, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
        run.HostListViewClick();
    }
    void focusHit(int row) {
        run.hitSelection().setCurrentIndex(run.hitList().index(row, 0),
                                           QItemSelectionModel::NoUpdate);
    }
    void setOption(const QString& key, const QString& value) {
        ini.writeString("Options", key, value);
    }

    TempHome home;
    SettingsFile ini{home.file("Pellmar.ini")};
    FakePlatform fake;
    const TestSeed seed{7};
    std::mt19937 generator{seed.value()};
    SearchRun run{ini, home.path(), fake.platform,
                  [this](int n) { return static_cast<int>(generator() % unsigned(n)); }};
    QStringList statuses;
};

} // namespace

TEST(EncodeQuery, TrimsAndEncodesWhatWouldCutTheQuery) {
    const QByteArray rows[][2] = {
        {"  a/b \"c\" d  ", "a%2Fb+%22c%22+d"},
        {"#1 hits", "%231+hits"},
        {"100% C++ Simon & Garfunkel?", "100%25+C%2B%2B+Simon+%26+Garfunkel?"},
        {"\t\r\xE9t\xE9\x01", "\xE9t\xE9"},
        {"   ", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(EncodeQuery(row[0]), row[1]) << row[0].constData();
}

TEST(EncodeQuery, Utf8WordsGoPercentEncoded) {
    EXPECT_EQ(EncodeUtf8Query(QStringLiteral(" \u00C7elik \u6771/& ")),
              "%C3%87elik+%E6%9D%B1%2F%26");
    EXPECT_EQ(EncodeQueryFor("http://h/s?q=", QStringLiteral("\u00C7elik \u6771")), "\xC7"
                                                                                    "elik+?");
    EXPECT_EQ(EncodeQueryFor("http://h/s?Charset=UTF-8&q=", QStringLiteral("\u00C7elik")),
              "%C3%87elik");
}

namespace {

QStringList captions(const HitListModel& hits) {
    QStringList texts;
    for (int row = 0; row < hits.rowCount(); ++row)
        texts.append(hits.index(row, 0).data().toString());
    texts.sort(); // FTP and SMB hits come in random order
    return texts;
}

} // namespace

// Our service and the program agree on UTF-8: a name Windows-1252 can hold arrives and is
// kept exactly as from a Windows-1252 engine, one it cannot hold whole, in every list, store,
// file name and path handed on.
TEST_F(SearchRunTest, NamesOutsideWindows1252ArriveWholeFromOurService) {
    LocalSearchService service({}, 60, nullptr, NonLatinSongs::files());
    run.setServiceUrls(service.urls());
    run.SearchButtonClick(QStringLiteral("world"), kAll);
    ASSERT_TRUE(WaitFor([&] {
        return run.statusText() == "Done" && run.FtpHitStore().size() == 2 &&
               run.SmbHitStore().size() == 2;
    })) << statuses.join(',').toStdString();
    const QString latin = NonLatinSongs::kLatinArtist + " - " + NonLatinSongs::kLatinTitle;
    const QString cjk = NonLatinSongs::kCjkArtist + " - " + NonLatinSongs::kCjkTitle;
    EXPECT_EQ(captions(run.hitList()), (QStringList{latin + ".mp3", cjk + ".mp3"}));
    clickHost(HostListModel::FtpRow);
    EXPECT_EQ(captions(run.hitList()), (QStringList{latin + ".mp3", cjk + ".mp3"}));
    clickHost(HostListModel::HttpRow); // listed again from the store's records
    ASSERT_EQ(captions(run.hitList()), (QStringList{latin, cjk}));

    // The store keeps the one as a Windows-1252 engine's hit, the other as marked UTF-8.
    QMap<QString, QByteArray> names;
    for (const QByteArray& line : run.HttpHitStore()) {
        const HttpHitRecord record = HttpHitRecord::fromLine(line);
        EXPECT_EQ(record.line(), line);
        names.insert(HitText::toUnicode(record.name), record.name);
    }
    EXPECT_EQ(names.value(latin), "\xC7"
                                  "elik - R\xFCzgar");
    EXPECT_EQ(names.value(cjk), HitText::kUtf8Mark + cjk.toUtf8());
    EXPECT_EQ(TargetNames::LocalName(run.hitList().hit(1).caption), cjk + ".mp3");
    focusHit(1);
    run.CopyPathToClipboard1Click();
    EXPECT_EQ(fake.clipboard.content,
              service.base() + "/files/World/" +
                  QString::fromLatin1(QUrl::toPercentEncoding(cjk + ".mp3", "/")));

    // The outside programs are handed the remote paths whole.
    QStringList paths;
    for (qsizetype i = 0; i < 2; ++i) {
        paths.append(HitText::toUnicode(*ExternalHandoff::FtpRecordUrl(run.FtpHitStore(), i)));
        paths.append(ExternalHandoff::SmbFetch(run.SmbHitStore(), i, "t.mp3", "/p")->args[0]);
    }
    paths.sort();
    EXPECT_EQ(paths, (QStringList{"\\\\127.0.0.1\\mp3\\World\\" + latin + ".mp3",
                                  "\\\\127.0.0.1\\mp3\\World\\" + cjk + ".mp3",
                                  "ftp://anonymous@127.0.0.1:2121/World/" + latin + ".mp3",
                                  "ftp://anonymous@127.0.0.1:2121/World/" + cjk + ".mp3"}));
    for (const RecordedMessage& message : fake.messages.shown)
        ADD_FAILURE() << message.text.toStdString();
}

// UTF-8 only when both ends say so; any other listing reads as Windows-1252, byte for byte as
// before, and words go as Windows-1252 unless the address asks for UTF-8.
TEST_F(SearchRunTest, OnlyAnAgreedAnswerReadsAsUtf8) {
    const QByteArray listing = "u@127.0.0.1:1\t/p/\t\xC3\x87"
                               "elik.mp3\t5\r\n"
                               "\t\xE6\x9D\xB1.mp3\t6\r\n";
    const QByteArray utf8Type = "Content-Type: text/plain; charset=utf-8\r\n";
    const struct {
        QByteArray query;
        QByteArray header;
        QByteArray request;
        QList<QByteArray> names;
        QStringList shown;
    } rows[] = {
        {"/ftp?q=",
         utf8Type,
         "GET /ftp?q=%C7elik+?&leech=n ",
         {"\xC3\x87"
          "elik.mp3",
          "\xE6\x9D\xB1.mp3"},
         {QStringLiteral("\u00C3\u2021elik.mp3"), QStringLiteral("\u00E6\u009D\u00B1.mp3")}},
        {"/ftp?charset=utf-8&q=",
         "Content-Type: text/plain\r\n",
         "GET /ftp?charset=utf-8&q=%C3%87elik+%E6%9D%B1&leech=n ",
         {"\xC3\x87"
          "elik.mp3",
          "\xE6\x9D\xB1.mp3"},
         {QStringLiteral("\u00C3\u2021elik.mp3"), QStringLiteral("\u00E6\u009D\u00B1.mp3")}},
        {"/ftp?charset=utf-8&q=",
         utf8Type,
         "GET /ftp?charset=utf-8&q=%C3%87elik+%E6%9D%B1&leech=n ",
         {"\xC7"
          "elik.mp3",
          "\xEF\xBB\xBF\xE6\x9D\xB1.mp3"},
         {QStringLiteral("\u00C7elik.mp3"), QStringLiteral("\u6771.mp3")}},
    };
    for (const auto& row : rows) {
        ScriptedServer server(
            ScriptedServer::reply("HTTP/1.0 200 OK\r\n" + row.header + "\r\n" + listing));
        run.setServiceUrls({server.url("/one?w="), server.url("/two?w="), server.url("/smb?q="),
                            server.url(row.query)});
        run.SearchButtonClick(QStringLiteral("\u00C7elik \u6771"), {false, true, false, false});
        ASSERT_TRUE(WaitFor([&] { return !run.hasWorkInFlight(); })) << row.query.constData();
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_TRUE(server.requests()[0].startsWith(row.request))
            << server.requests()[0].constData();
        QList<QByteArray> names;
        for (const QByteArray& line : run.FtpHitStore())
            names.append(ListingRecord::fromLine(line).name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, row.names) << row.query.constData();
        clickHost(HostListModel::FtpRow);
        EXPECT_EQ(captions(run.hitList()), row.shown) << row.query.constData();
    }
}

// "Hide songs I have" asks only our own service (the engine that agrees on UTF-8) to leave
// out what the library has; another engine's request stays as it was.
TEST_F(SearchRunTest, HideSongsIHaveAsksOnlyOurService) {
    setOption("HideSongsIHave", "1");
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    run.setServiceUrls({server.url("/one?since=&charset=utf-8&w="), server.url("/two?w="),
                        server.url("/smb?q="), server.url("/ftp?q=")});
    run.SearchButtonClick(QStringLiteral("blue"), kHttpOnly);
    ASSERT_TRUE(WaitFor([&] { return server.requests().size() >= 2; }));
    QList<QByteArray> lines;
    for (const QByteArray& request : server.requests())
        lines.append(request.left(request.indexOf("\r\n")));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, QList<QByteArray>({"GET /one?since=&charset=utf-8&w=blue&newonly=1 HTTP/1.0",
                                        "GET /two?w=blue HTTP/1.0"}));
}

TEST_F(SearchRunTest, AllSourcesListHitsWithMarksAndCountsAndReachDone) {
    LocalSearchService service;
    run.setServiceUrls(service.urls());
    setOption("MinBitrate", "100");
    run.SearchButtonClick("marla", kAll);
    EXPECT_TRUE(run.isSearching());
    ASSERT_TRUE(WaitFor([&] {
        return run.statusText() == "Done" && run.FtpHitStore().size() == 3 &&
               run.SmbHitStore().size() == 3;
    })) << statuses.join(',').toStdString();
    EXPECT_FALSE(run.isSearching());
    EXPECT_EQ(hostRows(), (QStringList{"HTTP Links|2", "SMB Links|3", "FTP Links|3"}));
    EXPECT_EQ(run.SearchFound(), 8);
    // "SMB Links" is the focused row from the start: its hits were listed on arrival.
    EXPECT_EQ(run.hostView(), HostView::Smb);
    EXPECT_EQ(hitRows().size(), 3);
    EXPECT_TRUE(hitRows().contains("Marla Quinn - Telephone Wires.mp3|1|30001|N/A"));

    clickHost(HostListModel::HttpRow);
    EXPECT_EQ(hitRows(),
              (QStringList{"Marla Quinn - Blue Motel|0|80000|112kb/s 48kHz Stereo",
                           "Marla Quinn - Telephone Wires|2|30001|48kb/s 22kHz Stereo"}));
    focusHit(1);
    run.CopyPathToClipboard1Click();
    EXPECT_TRUE(fake.clipboard.content.startsWith(service.base() + "/files/Jazz/Marla"));

    clickHost(HostListModel::FtpRow);
    EXPECT_EQ(hitRows().size(), 3);
    EXPECT_TRUE(hitRows().contains("Marla Quinn - Blue Motel.mp3|1|80000|"));
    focusHit(2);
    run.CopyPathToClipboard1Click();
    EXPECT_EQ(fake.clipboard.content, "anonymous@127.0.0.1:2121");
    run.CopyFTPPathClick(); // no record holds the caption "FTP Links"
    EXPECT_EQ(fake.clipboard.content, "anonymous@127.0.0.1:2121");

    clickHost(HostListModel::SmbRow);
    run.CopyPathToClipboard1Click();
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, "Function not available for SMB files");
    EXPECT_EQ(fake.clipboard.content, "anonymous@127.0.0.1:2121");

    run.SearchLimitTimerTimer(); // the time limit after "Done" only clears the status
    EXPECT_EQ(run.statusText(), "");
    EXPECT_EQ(fake.messages.shown.size(), 1);
}

// Chosen before the first hit arrives, the HTTP row still lists its hits by caption.
TEST_F(SearchRunTest, HttpHitsAreSortedWhenTheirRowIsChosenFirst) {
    LocalSearchService service;
    run.setServiceUrls(service.urls());
    setOption("MinBitrate", "100");
    run.SearchButtonClick("marla", kHttpOnly);
    clickHost(HostListModel::HttpRow);
    ASSERT_TRUE(WaitFor([&] { return run.statusText() == "Done"; }));
    EXPECT_TRUE(run.hitList().isSorted());
    EXPECT_EQ(hitRows(),
              (QStringList{"Marla Quinn - Blue Motel|0|80000|112kb/s 48kHz Stereo",
                           "Marla Quinn - Telephone Wires|2|30001|48kb/s 22kHz Stereo"}));
}

namespace {

// Message boxes that run an event loop while they are open, as real ones do.
class NestedLoopMessageBoxes : public FakeMessageBoxes {
public:
    MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                       MessageButtons buttons) override {
        const MessageResult result = FakeMessageBoxes::show(caption, text, icon, buttons);
        DeliverPending();
        return result;
    }
};

} // namespace

// The error of a quality threshold that is not a number is shown after the probe's data
// event: shown inside it, the box's loop released the client under the event (the
// sanitizers see that).
TEST(SearchRunErrors, AThresholdThatIsNoNumberAddsNoHitAndIsShownAfterTheEvent) {
    TempHome home;
    SettingsFile ini{home.file("Pellmar.ini")};
    FakePlatform fake;
    NestedLoopMessageBoxes boxes;
    Platform platform{boxes, fake.dialogs, fake.shell, fake.clipboard, fake.registry};
    SearchRun run{ini, home.path(), platform};
    LocalSearchService service;
    run.setServiceUrls(service.urls());
    ini.writeString("Options", "MinBitrate", "128k");
    run.SearchButtonClick("marla", kHttpOnly);
    run.hostSelection().setCurrentIndex(run.hostList().index(HostListModel::HttpRow, 0),
                                        QItemSelectionModel::ClearAndSelect |
                                            QItemSelectionModel::Rows);
    run.HostListViewClick();
    ASSERT_TRUE(WaitFor([&] { return run.statusText() == "Done"; }));
    DeliverPending();
    QStringList texts;
    for (const RecordedMessage& message : boxes.shown)
        texts.append(message.caption + "|" + message.text);
    EXPECT_EQ(texts, (QStringList{"Pellmar|'128k' is not a valid integer value",
                                  "Pellmar|'128k' is not a valid integer value"}));
    EXPECT_EQ(run.hitList().count(), 0);
    EXPECT_TRUE(run.HttpHitStore().isEmpty());
    EXPECT_EQ(run.SearchFound(), 0);
    EXPECT_EQ(run.hostList().index(HostListModel::HttpRow, 1).data().toString(), "0");
}

TEST_F(SearchRunTest, NoMatchEndsByTheTimeLimitWithTheMessage) {
    LocalSearchService service;
    run.setServiceUrls(service.urls());
    setOption("TimeLimit", "1");
    run.SearchButtonClick("zzzzq", kAll);
    ASSERT_TRUE(WaitFor([&] { return !fake.messages.shown.isEmpty(); }));
    EXPECT_EQ(fake.messages.shown[0].text,
              "Sorry, no matches found in specified time.\rThis could be because:\r1) You are "
              "searching for a rare artist/song\r2) Our server is temporarily down. Try again "
              "later.");
    // Both engines ended, but no probe ever ran: the search never reached "Done".
    EXPECT_EQ(statuses.mid(statuses.size() - 3),
              (QStringList{"Aborting...", "Search aborted", ""}));
    EXPECT_FALSE(statuses.contains("Done"));
    EXPECT_FALSE(run.isSearching());
    EXPECT_EQ(QDir(home.file("temp")).entryList(QDir::Files), QStringList());
}

TEST_F(SearchRunTest, EnterDuringASearchAbortsItAndStartsTheNextAtOnce) {
    ServiceSettings slow;
    slow.delayMs = 2000;
    LocalSearchService service(slow);
    run.setServiceUrls(service.urls());
    EXPECT_FALSE(run.ComboBox1KeyPress('a', "marla", kHttpOnly));
    EXPECT_TRUE(run.ComboBox1KeyPress('\r', "marla", kHttpOnly));
    EXPECT_TRUE(run.ComboBox1KeyPress('\r', "Quinn", kHttpOnly));
    EXPECT_EQ(statuses, (QStringList{"Searching...", "Searching...", "Aborting...",
                                     "Search aborted", "Searching...", "Searching..."}));
    EXPECT_TRUE(run.isSearching());
    EXPECT_EQ(run.history(), (QStringList{"Quinn", "marla"}));
    run.AbortButtonClick();
    EXPECT_EQ(run.statusText(), "Search aborted");
    EXPECT_FALSE(run.isSearching());
    EXPECT_FALSE(run.hasWorkInFlight());
}

TEST_F(SearchRunTest, SecondEngineRetriesAfterInternalServerAndRecovers) {
    ServiceSettings failing;
    failing.failSecondEngine = 1;
    LocalSearchService service(failing);
    run.setServiceUrls(service.urls());
    run.SearchButtonClick("marla", kHttpOnly);
    ASSERT_TRUE(WaitFor([&] { return run.statusText() == "Done"; }));
    EXPECT_EQ(hostRows(), (QStringList{"HTTP Links|2", "SMB Links|0"}));
}

TEST_F(SearchRunTest, FtpOnlySendsOneRequestWithTheEncodedText) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    run.setServiceUrls({server.url("/one?w="), server.url("/two?w="), server.url("/smb?q="),
                        server.url("/ftp?q=")});
    run.SearchButtonClick("  a/b \"c\" d  ", {false, true, false, false});
    ASSERT_TRUE(WaitFor([&] { return !run.hasWorkInFlight(); }));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].startsWith("GET /ftp?q=a%2Fb+%22c%22+d&leech=n HTTP/1.0\r\n"));
    EXPECT_EQ(run.history(), QStringList{"  a/b \"c\" d  "});
}

TEST_F(SearchRunTest, ProgressFillsByTicksUpToTheFrameAndNeverWithoutALimit) {
    const struct {
        QString timeLimit;
        QList<int> widths;
        bool limited;
    } rows[] = {
        {"10", {28, 55, 83, 111, 139, 166, 194, 222, 249, 277, 277, 277}, true},
        {"0", {0, 0, 0}, false},
        {"-3", {0, 0}, false},
        {"x", {2, 3}, true}, // not an integer: the default of 180 seconds
    };
    run.setProgressSpace(277);
    for (const auto& row : rows) {
        setOption("TimeLimit", row.timeLimit);
        run.SearchButtonClick("t", {false, false, false, false});
        EXPECT_EQ(run.SearchLimitTimer().isActive(), row.limited) << row.timeLimit.toStdString();
        QList<int> widths;
        for (qsizetype i = 0; i < row.widths.size(); ++i) {
            run.ProgressTimerTimer();
            widths.append(run.progressWidth());
        }
        EXPECT_EQ(widths, row.widths) << row.timeLimit.toStdString();
    }
}

TEST_F(SearchRunTest, StartsThatStopEarly) {
    run.SearchButtonClick("", kAll);
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, "You must enter a search string!");
    EXPECT_FALSE(run.isSearching());

    QDir(home.path()).rmdir("temp");
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    run.setServiceUrls({server.url("/1"), server.url("/2"), server.url("/3"), server.url("/4")});
    try {
        run.SearchButtonClick("x", {false, true, true, false});
        FAIL() << "no error";
    } catch (const PellmarError& error) {
        EXPECT_EQ(error.message(), "Cannot create file " + home.file("temp/smb.txt"));
    }
    EXPECT_EQ(run.history(), QStringList{});
}

TEST_F(SearchRunTest, PagesLinkingEachOtherAreAskedForOnce) {
    QByteArray secondPageUrl;
    ScriptedServer server([&](ScriptedServer::Connection& connection) {
        const QByteArray request = connection.readRequest();
        const QByteArray page =
            request.startsWith("GET /two")
                ? SecondEngineMarkers::pagingMarker() + "<A HREF=" + secondPageUrl +
                      ">next</A>\r\n" + SecondEngineMarkers::resultsMarker() + "\r\n"
                : "<TR><TD B>\r\n<a href=\"search.asp?since=&searchwords=x&page=2\"><IMG "
                  "SRC=\"/mediabot/next.gif\"></a>\r\n<P>results</P>\r\n";
        connection.send("HTTP/1.0 200 OK\r\n\r\n" + page);
    });
    secondPageUrl = server.url("/two?w=x&page=2");
    run.setServiceUrls(
        {server.url("/one?w="), server.url("/two?w="), server.url("/3?q="), server.url("/4?q=")});
    run.SearchButtonClick("x", kHttpOnly);
    ASSERT_TRUE(WaitFor([&] { return !run.hasWorkInFlight(); }));
    QList<QByteArray> targets;
    for (const QByteArray& request : server.requests())
        targets.append(request.left(request.indexOf(" HTTP/")));
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets,
              (QList<QByteArray>{"GET /cgi-bin/mp3asp/search.asp?since=&searchwords=x&page=2",
                                 "GET /one?w=x", "GET /two?w=x", "GET /two?w=x&page=2"}));
    EXPECT_TRUE(run.completionFlags().isSet(SearchSource::Engine2));
    EXPECT_FALSE(run.completionFlags().isSet(SearchSource::Engine1));
}

TEST_F(SearchRunTest, AnOversizedPageEndsItsEngineUnread) {
    ScriptedServer server([](ScriptedServer::Connection& connection) {
        const QByteArray request = connection.readRequest();
        const QByteArray paging =
            "<a href=\"search.asp?since=&searchwords=x&page=2\"><IMG SRC=\"/mediabot/\r\n";
        connection.send("HTTP/1.0 200 OK\r\n\r\n" + paging);
        if (request.startsWith("GET /one"))
            connection.send(QByteArray(33 * 1024 * 1024, 'x'));
    });
    run.setServiceUrls(
        {server.url("/one?w="), server.url("/two?w="), server.url("/3?q="), server.url("/4?q=")});
    run.SearchButtonClick("x", kHttpOnly);
    ASSERT_TRUE(WaitFor([&] { return !run.hasWorkInFlight(); }));
    // Read, the first engine's page would have asked for its page 2.
    EXPECT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(run.completionFlags().isSet(SearchSource::Engine1));
}
