#include "searchd/SearchService.h"
#include "PellmarVersion.h"
#include "ProgramScrapers.h"
#include "RawHttp.h"
#include "core/DataFileConfig.h"
#include "platform/Cp1252.h"
#include "platform/ResourceLimits.h"
#include "searchd/http/QueryText.h"
#include "searchd/library/SampleLibrary.h"
#include "support/NonLatinSongs.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

using namespace ProgramScrapers;

namespace {

// The service with a sample library, serving on a free loopback port for one test.
class RunningService {
public:
    // further: files written into the library beside the sample ones.
    explicit RunningService(ServiceSettings settings = {},
                            const QList<SampleLibrary::SampleFile>& further = {}) {
        SampleLibrary::write(m_home.file("lib"), 60);
        for (const SampleLibrary::SampleFile& file : further) {
            QDir().mkpath(QFileInfo(m_home.file("lib/" + file.path)).absolutePath());
            m_home.write("lib/" + file.path, SampleLibrary::content(file));
        }
        settings.library = m_home.file("lib");
        settings.database = m_home.file("searchd.db");
        settings.port = 0;
        settings.pageSize = 4;
        settings.ftpSite = QStringLiteral("anonymous@127.0.0.1:2121");
        m_service = std::make_unique<SearchService>(settings);
        m_port = m_service->bind();
        m_thread = std::thread([this] { m_service->run(); });
    }
    ~RunningService() {
        m_service->stop();
        m_thread.join();
    }
    int port() const { return m_port; }
    QByteArray base() const { return "http://127.0.0.1:" + QByteArray::number(m_port); }
    const TempHome& home() const { return m_home; }
    // The target of an absolute URL of this service.
    QByteArray target(const QByteArray& url) const { return url.mid(base().size()); }

private:
    TempHome m_home;
    std::unique_ptr<SearchService> m_service;
    int m_port = 0;
    std::thread m_thread;
};

// The sample files whose names hold every word, as the index should find them.
QSet<QByteArray> expectedUrls(const RunningService& service, const QStringList& words) {
    QSet<QByteArray> urls;
    for (const auto& file : SampleLibrary::plan(60)) {
        const QStringList names = QueryText::searchWords(file.path);
        const bool all = std::all_of(words.begin(), words.end(), [&](const QString& w) {
            return std::any_of(names.begin(), names.end(), [&](const QString& name) {
                return name.startsWith(w, Qt::CaseInsensitive);
            });
        });
        if (all)
            urls.insert(service.base() + "/files/" + QueryText::encodePath(file.path));
    }
    return urls;
}

class SearchServiceTest : public ::testing::Test {
protected:
    RunningService service;
};

} // namespace

TEST_F(SearchServiceTest, FirstEnginePagesLeadToNoRecordsFound) {
    QSet<QByteArray> seen;
    QByteArray target = "/cgi-bin/mp3asp/search.asp?since=&searchwords=static";
    int pages = 0;
    for (; pages < 20; ++pages) {
        const RawResponse response = httpGet(service.port(), target);
        ASSERT_EQ(response.status, 200);
        EXPECT_EQ(response.headers.value("content-type"), "text/html; charset=windows-1252");
        const FirstEnginePage page = readFirstEngine(response.body);
        if (page.done) {
            EXPECT_TRUE(page.pagingLinks.isEmpty());
            break;
        }
        EXPECT_LE(page.links.size(), 4);
        for (const FoundLink& link : page.links)
            seen.insert(link.url);
        ASSERT_EQ(page.pagingLinks.size(), 1);
        target = page.pagingLinks[0];
    }
    EXPECT_EQ(seen, expectedUrls(service, {"static"}));
    EXPECT_EQ(pages, (seen.size() + 3) / 4);
}

TEST_F(SearchServiceTest, SecondEngineFollowsNextUntilTheLastPage) {
    QSet<QByteArray> seen;
    QByteArray target = "/audiofind/search?words=the";
    for (int pages = 0; pages < 30; ++pages) {
        const SecondEnginePage page = readSecondEngine(httpGet(service.port(), target).body);
        ASSERT_FALSE(page.retry);
        for (const FoundLink& link : page.links)
            seen.insert(link.url);
        if (page.done)
            break;
        ASSERT_TRUE(page.nextUrl.startsWith(service.base() + "/audiofind/search?words="));
        target = service.target(page.nextUrl);
    }
    EXPECT_EQ(seen, expectedUrls(service, {"the"}));
    EXPECT_GT(seen.size(), 8);
}

TEST_F(SearchServiceTest, EnginesAnswerNoResultsTheirOwnWay) {
    const RawResponse first =
        httpGet(service.port(), "/cgi-bin/mp3asp/search.asp?since=&searchwords=zzzz+qqq");
    EXPECT_EQ(first.status, 200);
    EXPECT_TRUE(readFirstEngine(first.body).done);
    EXPECT_TRUE(SplitLines(first.body).last().contains("No records found"));
    const RawResponse second = httpGet(service.port(), "/audiofind/search?words=");
    EXPECT_EQ(second.status, 200);
    EXPECT_TRUE(readSecondEngine(second.body).done);
    EXPECT_TRUE(readSecondEngine(second.body).links.isEmpty());
}

TEST_F(SearchServiceTest, SearchTextAsTheProgramSendsIt) {
    // "Caf\xE9 Lumi\xE8re" in Windows-1252, blanks as '+', and an ampersand left as typed.
    const RawResponse response =
        httpGet(service.port(), "/audiofind/search?words=caf\xE9+lumi\xE8re+&+sugar");
    ASSERT_EQ(response.status, 200);
    const SecondEnginePage page = readSecondEngine(response.body);
    ASSERT_EQ(page.links.size(), 1);
    EXPECT_EQ(page.links[0].name, "Caf\xE9 Lumi\xE8re - Sugar  Smoke");
}

TEST_F(SearchServiceTest, SearchTextWithQuestionMarksIsStillAnswered) {
    // The program leaves '?' unescaped; "Why? Not!" arrives as Why?+Not!
    const RawResponse response = httpGet(service.port(), "/smb/search?q=Rock?+Jonah?");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(readSmbListing(response.body).size(), 3);
    EXPECT_EQ(httpGet(service.port(), "/audiofind/search?words=??").status, 200);
}

TEST_F(SearchServiceTest, ListingsReadAsSmbAndFtpRecords) {
    const RawResponse smb = httpGet(service.port(), "/smb/search?q=jazz");
    EXPECT_EQ(smb.status, 200);
    const QList<ListingRecord> shares = readSmbListing(smb.body);
    ASSERT_EQ(shares.size(), expectedUrls(service, {"jazz"}).size());
    for (const ListingRecord& record : shares) {
        EXPECT_EQ(record.host, "127.0.0.1");
        EXPECT_EQ(record.folder, "\\mp3\\Jazz\\");
        EXPECT_TRUE(record.name.endsWith(".mp3"));
        EXPECT_GT(record.rest.toLongLong(), 0);
    }
    const QList<ListingRecord> sites =
        readFtpListing(httpGet(service.port(), "/ftp/search?q=jazz&leech=y").body);
    ASSERT_EQ(sites.size(), shares.size());
    EXPECT_EQ(sites[0].host, "anonymous@127.0.0.1:2121");
    EXPECT_EQ(sites[0].folder, "/Jazz/");
    // The FTP URL the program builds from a record names a file the service also serves.
    const QByteArray path = sites[0].folder + sites[0].name;
    EXPECT_EQ(
        httpGet(service.port(), "/files" + QueryText::encodePath(Cp1252::toUnicode(path))).status,
        200);
    EXPECT_TRUE(httpGet(service.port(), "/ftp/search?q=zzzz&leech=n").body.isEmpty());
}

// Without charset=utf-8 before the words every answer is Windows-1252 as it always was
// (a name it cannot hold shows as "?" on the pages and is left out of the listings); with it
// the same search answers in UTF-8 and says so, and every name is there.
TEST(SearchServiceCharset, TheMarkerTurnsPagesAndListingsToUtf8) {
    const RunningService service({}, NonLatinSongs::files());
    const QByteArray latin = "\xC3\x87"
                             "elik - R\xC3\xBCzgar.mp3"; // UTF-8
    const QByteArray cjk = "\xE5\xAE\x87\xE5\xA4\x9A\xE7\x94\xB0 - "
                           "\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x81\xAE\xE5\xA4\x9C.mp3";
    const QByteArray latinLink = "/files/World/%C3%87elik%20-%20R%C3%BCzgar.mp3\">";
    const struct {
        QByteArray target;
        QByteArray type;
        QList<QByteArray> holds;
        QList<QByteArray> lacks;
    } rows[] = {
        {"/cgi-bin/mp3asp/search.asp?since=&searchwords=%C7elik",
         "text/html; charset=windows-1252",
         {latinLink + "\xC7"
                      "elik - R\xFCzgar.mp3</a>",
          "search.asp?since=&searchwords=%C3%87%65%6C%69%6B&page=2"},
         {latin}},
        {"/cgi-bin/mp3asp/search.asp?since=&charset=utf-8&searchwords=%C3%87elik",
         "text/html; charset=utf-8",
         {latinLink + latin + "</a>",
          "MP3 files for: \xC3\x87"
          "elik</B>",
          "search.asp?since=&searchwords=%C3%87%65%6C%69%6B&page=2&charset=utf-8"},
         {"\xC7"}},
        {"/audiofind/search?words=%E6%9D%B1%E4%BA%AC",
         "text/html; charset=windows-1252",
         {"<BR>??? - ????.mp3</P>"},
         {cjk}},
        {"/audiofind/search?charset=utf-8&words=%E6%9D%B1%E4%BA%AC",
         "text/html; charset=utf-8",
         {"<BR>" + cjk + "</P>"},
         {"???"}},
        {"/smb/search?q=%E6%9D%B1%E4%BA%AC", "text/plain; charset=windows-1252", {}, {"World"}},
        {"/smb/search?charset=utf-8&q=%E6%9D%B1%E4%BA%AC",
         "text/plain; charset=utf-8",
         {"127.0.0.1\t\\mp3\\World\\\t" + cjk + "\t"},
         {}},
        {"/ftp/search?q=%C3%87elik&leech=n",
         "text/plain; charset=windows-1252",
         {"anonymous@127.0.0.1:2121\t/World/\t\xC7"
          "elik - R\xFCzgar.mp3\t"},
         {latin}},
        {"/ftp/search?charset=utf-8&q=%C3%A7elik+%E6%9D%B1%E4%BA%AC&leech=n",
         "text/plain; charset=utf-8",
         {},
         {"World"}},
        {"/ftp/search?charset=utf-8&q=%E5%AE%87%E5%A4%9A&leech=n",
         "text/plain; charset=utf-8",
         {"anonymous@127.0.0.1:2121\t/World/\t" + cjk + "\t"},
         {}},
        // Typed words cannot ask: the marker counts only before them.
        {"/smb/search?q=%C3%87elik&charset=utf-8", "text/plain; charset=windows-1252", {}, {}},
    };
    for (const auto& row : rows) {
        const RawResponse response = httpGet(service.port(), row.target);
        EXPECT_EQ(response.status, 200) << row.target.constData();
        EXPECT_EQ(response.headers.value("content-type"), row.type) << row.target.constData();
        for (const QByteArray& piece : row.holds)
            EXPECT_TRUE(response.body.contains(piece))
                << row.target.constData() << " lacks " << piece.constData() << "\n"
                << response.body.constData();
        for (const QByteArray& piece : row.lacks)
            EXPECT_FALSE(response.body.contains(piece))
                << row.target.constData() << " holds " << piece.constData();
    }
}

TEST_F(SearchServiceTest, FilesWithLengthsAndRanges) {
    const auto sample = SampleLibrary::plan(60)[1];
    const QByteArray content = SampleLibrary::content(sample);
    const QByteArray target = "/files/" + QueryText::encodePath(sample.path);

    const RawResponse whole = httpGet(service.port(), target);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers.value("content-length"), QByteArray::number(content.size()));
    EXPECT_EQ(whole.headers.value("content-type"), "audio/mpeg");
    EXPECT_EQ(whole.headers.value("accept-ranges"), "bytes");
    EXPECT_EQ(whole.body, content);

    const RawResponse part = httpGet(service.port(), target, "Range: bytes=100-199\r\n");
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.headers.value("content-length"), "100");
    EXPECT_EQ(part.headers.value("content-range"),
              "bytes 100-199/" + QByteArray::number(content.size()));
    EXPECT_EQ(part.body, content.mid(100, 100));

    const RawResponse tail = httpGet(service.port(), target, "Range: bytes=-4\r\n");
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.body, content.right(4));

    const RawResponse beyond = httpGet(service.port(), target, "Range: bytes=999999-\r\n");
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(beyond.headers.value("content-range"),
              "bytes */" + QByteArray::number(content.size()));

    // Several ranges, and headers that are not byte ranges at all, are ignored.
    for (const QByteArray range :
         {"bytes=0-1,4-5", "bytes=5-1", "items=0-5", "bytes= 0 - 5", "bytes=1-2-3", "bytes=-",
          "bytes=99999999999999999999-", "bytes=0-5\r\nRange: bytes=6-9"}) {
        SCOPED_TRACE(range.constData());
        const RawResponse ignored = httpGet(service.port(), target, "Range: " + range + "\r\n");
        EXPECT_EQ(ignored.status, 200);
        EXPECT_EQ(ignored.body, content);
    }

    const RawResponse head = httpGet(service.port(), target, {}, "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers.value("content-length"), QByteArray::number(content.size()));
    EXPECT_TRUE(head.body.isEmpty());
}

// Files go out straight from the file: one cut short while it is sent ends the answer
// short, so the client can tell, instead of hanging or going on.
TEST_F(SearchServiceTest, AFileThatShrinksWhileSentEndsTheAnswerShort) {
    QByteArray content(48 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i % 251);
    const QString path = service.home().file("lib/Big - Long.mp3");
    service.home().write("lib/Big - Long.mp3", content);

    const int small = 16 * 1024; // the client takes little, so the server waits to send more
    const int client = connectLoopback(service.port(), 30);
    setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const QByteArray request = "GET /files/Big%20-%20Long.mp3 HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(client, request.constData(), request.size(), MSG_NOSIGNAL), request.size());
    QByteArray received;
    char buffer[4096];
    while (received.size() < 65536) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        received.append(buffer, n);
    }
    ASSERT_TRUE(QFile::resize(path, 1024 * 1024));
    ssize_t last = 0;
    while ((last = ::recv(client, buffer, sizeof buffer, 0)) > 0)
        received.append(buffer, last);
    EXPECT_EQ(last, 0); // closed by the server, not given up by the client's time limit
    ::close(client);

    const RawResponse response = parseResponse(received);
    EXPECT_EQ(response.headers.value("content-length"), QByteArray::number(content.size()));
    EXPECT_LT(response.body.size(), content.size());
    // Bytes already on their way past the new end may be the file's new ones (none, zeros).
    ASSERT_GE(response.body.size(), 1024 * 1024);
    EXPECT_TRUE(response.body.left(1024 * 1024) == content.left(1024 * 1024));
}

TEST_F(SearchServiceTest, BadRequestsGetAClearAnswerAndServingGoesOn) {
    QFile::link(service.home().file("searchd.db"), service.home().file("lib/db.mp3"));
    service.home().write("secret.mp3", "outside");
    QFile::link(service.home().file("secret.mp3"), service.home().file("lib/secret.mp3"));
    const struct {
        QByteArray target;
        int status;
        QByteArray text;
    } rows[] = {
        {"/cgi-bin/mp3asp/search.asp?since=", 400, "Missing parameter: searchwords"},
        {"/audiofind/search", 400, "Missing parameter: words"},
        {"/smb/search?x=1", 400, "Missing parameter: q"},
        {"/ftp/search?q=a&leech=maybe", 400, "Bad parameter: leech must be y or n"},
        {"/audiofind/search?words=a&page=0", 400, "Bad page number"},
        {"/audiofind/search?words=a%01b", 400, "The search words are not text"},
        {"/audiofind/search?words=" + QByteArray(33, 'a').replace("a", "a+"), 400,
         "Too many search words (at most 32)"},
        {"/cgi-bin/mp3asp/search.asp?since=&searchwords=" + QByteArray(20 * 1024, 'x'), 414,
         "414 URI Too Long"},
        // Past what a connection holds of a header: the HTTP library's own answer.
        {"/cgi-bin/mp3asp/search.asp?since=&searchwords=" + QByteArray(100 * 1024, 'x'), 414, ""},
        {"/files/../secret.mp3", 400, "Bad file path"},
        {"/files/Rock/%2e%2e/%2e%2e/secret.mp3", 400, "Bad file path"},
        {"/files//etc/passwd", 400, "Bad file path"},
        {"/files/Caf\xE9.mp3", 400, "The file path is not UTF-8 text"},
        {"/files/a%2", 400, "Bad escape in the file path"},
        {"/files/secret.mp3", 404, "No such file"},
        {"/files/db.mp3", 404, "No such file"},
        {"/files/nothing.mp3", 404, "No such file"},
        {"/cgi-bin/httpaddsite", 400, "Missing parameter: site_info"},
        {"/nowhere", 404, "Not found"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target.left(80).toStdString());
        const RawResponse response = httpGet(service.port(), row.target);
        EXPECT_EQ(response.status, row.status);
        EXPECT_TRUE(response.body.startsWith(row.text)) << response.body.constData();
    }
    EXPECT_EQ(httpGet(service.port(), "/version2.txt", "Content-Length: 0\r\n", "POST").status,
              405);
    EXPECT_EQ(parseResponse(sendRaw(service.port(), "GET / FOO/1.1\r\n\r\n")).status, 400);
    // A first line that is no request line at all is closed without an answer.
    EXPECT_EQ(sendRaw(service.port(), "NONSENSE\r\n\r\n"), "");
    EXPECT_EQ(httpGet(service.port(), "/smb/search?q=rock").status, 200);
}

TEST_F(SearchServiceTest, VersionFileAndDataFilePointAtTheService) {
    const RawResponse version = httpGet(service.port(), "/version2.txt");
    EXPECT_EQ(version.status, 200);
    const QList<QByteArray> lines = SplitLines(version.body);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Version=" + QByteArray(kPellmarVersion));
    EXPECT_EQ(lines[1].mid(lines[1].indexOf('=') + 1), service.base() + "/");
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(lines[3], service.base() + "/Pellmar.dat");

    // Through a proxy the request line carries the whole URL.
    EXPECT_EQ(httpGet(service.port(), service.base() + "/version2.txt").body, version.body);

    const RawResponse data = httpGet(service.port(), service.target(lines[3]));
    EXPECT_EQ(data.status, 200);
    EXPECT_GE(data.body.size(), 100) << "the program refuses shorter data files";
    service.home().write("Pellmar.dat", data.body);
    DataFileConfig config;
    ASSERT_EQ(config.load(service.home().file("Pellmar.dat")), DataFileConfig::LoadResult::Loaded);
    EXPECT_EQ(config.DataVersion, 1);
    EXPECT_EQ(config.HomeUrl, QString::fromLatin1(service.base()));
    EXPECT_EQ(config.HttpQueryUrl1,
              service.base() + "/cgi-bin/mp3asp/search.asp?since=&charset=utf-8&searchwords=");
    EXPECT_EQ(config.HttpQueryUrl2, service.base() + "/audiofind/search?charset=utf-8&words=");
    EXPECT_EQ(config.SmbQueryUrl, service.base() + "/smb/search?charset=utf-8&q=");
    EXPECT_EQ(config.FtpQueryUrl, service.base() + "/ftp/search?charset=utf-8&q=");
}

TEST_F(SearchServiceTest, SubmissionsAreStoredAndListed) {
    const QByteArray requests[] = {
        "/cgi-bin/ftpaddsite?site_info=anonymous:me@example.com@10.0.0.5:21",
        "/cgi-bin/httpaddsite?site_info=www.example.com/<b>mp3</b>?a=1&b=2",
        "/cgi-bin/smbaddsite?ip=10.0.0.9",
        "/cgi-bin/addmysmbsite",
    };
    for (const QByteArray& target : requests)
        EXPECT_EQ(httpGet(service.port(), target).status, 200) << target.constData();
    const QByteArray page = httpGet(service.port(), "/submissions").body;
    EXPECT_TRUE(page.contains("<p>4 submissions.</p>"));
    EXPECT_TRUE(page.contains("<td>ftp</td><td>anonymous:me@example.com@10.0.0.5:21</td>"));
    EXPECT_TRUE(
        page.contains("<td>http</td><td>www.example.com/&lt;b&gt;mp3&lt;/b&gt;?a=1&amp;b=2</td>"));
    EXPECT_TRUE(page.contains("<td>smb</td><td>10.0.0.9</td>"));
    EXPECT_TRUE(page.contains("<td>mysmb</td><td>127.0.0.1</td><td>127.0.0.1</td>"));
    EXPECT_FALSE(page.contains("<b>"));

    const RawResponse tooLong =
        httpGet(service.port(), "/cgi-bin/httpaddsite?site_info=" + QByteArray(1001, 'a'));
    EXPECT_EQ(tooLong.status, 400);
    EXPECT_EQ(tooLong.body, "The site is too long (at most 1000 characters)\n");
    EXPECT_EQ(
        httpGet(service.port(), "/cgi-bin/httpaddsite?site_info=" + QByteArray(1000, 'a')).status,
        200);
}

// Anyone may report sites: the page shows a hundred at a time, newest first.
TEST_F(SearchServiceTest, SubmissionsArePagedNewestFirst) {
    for (int i = 1; i <= 103; ++i)
        ASSERT_EQ(httpGet(service.port(), "/cgi-bin/smbaddsite?ip=10.0.0." + QByteArray::number(i))
                      .status,
                  200);
    const QByteArray first = httpGet(service.port(), "/submissions").body;
    EXPECT_TRUE(first.contains("<p>103 submissions.</p>"));
    EXPECT_EQ(first.count("<td>smb</td>"), 100);
    EXPECT_LT(first.indexOf("<td>10.0.0.103</td>"), first.indexOf("<td>10.0.0.102</td>"));
    EXPECT_FALSE(first.contains("<td>10.0.0.3</td>"));
    EXPECT_TRUE(first.contains("<nav><a href=\"/submissions?page=2\">Older</a></nav>"));
    const QByteArray second = httpGet(service.port(), "/submissions?page=2").body;
    EXPECT_EQ(second.count("<td>smb</td>"), 3);
    EXPECT_TRUE(second.contains("<td>10.0.0.1</td>"));
    EXPECT_TRUE(second.contains("<nav><a href=\"/submissions?page=1\">Newer</a> </nav>"));
    EXPECT_EQ(httpGet(service.port(), "/submissions?page=0").status, 400);
}

TEST(SearchServiceSwitches, SecondEngineFailsTheGivenNumberOfTimesFirst) {
    ServiceSettings settings;
    settings.failSecondEngine = 2;
    RunningService service(settings);
    for (int i = 0; i < 2; ++i) {
        const RawResponse failing = httpGet(service.port(), "/audiofind/search?words=blue");
        EXPECT_EQ(failing.status, 500);
        EXPECT_TRUE(readSecondEngine(failing.body).retry);
    }
    const RawResponse working = httpGet(service.port(), "/audiofind/search?words=blue");
    EXPECT_EQ(working.status, 200);
    EXPECT_FALSE(readSecondEngine(working.body).links.isEmpty());
    EXPECT_EQ(httpGet(service.port(), "/cgi-bin/mp3asp/search.asp?since=&searchwords=blue").status,
              200);
}

TEST(SearchServiceSwitches, DelayedAnswersStillArriveWhole) {
    ServiceSettings settings;
    settings.delayMs = 300;
    RunningService service(settings);
    const auto start = std::chrono::steady_clock::now();
    const RawResponse response = httpGet(service.port(), "/version2.txt");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.startsWith("Version=" + QByteArray(kPellmarVersion) + "\r\n"));
    // The switch holds every answer back at least this long (a lower bound only).
    EXPECT_GE(waited, std::chrono::milliseconds(300));
}

namespace {

// Sends bytes over fd; false once the server has closed the connection.
bool sendBytes(int fd, const QByteArray& bytes) {
    return ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
           bytes.size();
}

// What the server sent until it closed the connection, marked when the receive limit
// passed first.
QByteArray answerUntilClosed(int fd) {
    errno = 0;
    const QByteArray received = readToClose(fd);
    return errno == EAGAIN ? received + "(still open)" : received;
}

// Feeds an endless header a byte at a time until the server closes the connection (at
// most 600 bytes, a minute); returns what the server sent.
QByteArray trickleUntilClosed(int fd) {
    const QByteArray header = "GET /version2.txt HTTP/1.0\r\nX-Slow: " + QByteArray(600, 'a');
    for (const char byte : header) {
        pollfd closed{fd, POLLIN, 0};
        if (!sendBytes(fd, QByteArray(1, byte)) || ::poll(&closed, 1, 100) == 1)
            break;
    }
    return answerUntilClosed(fd);
}

ServiceSettings withLimits(int headerMs, int idleMs, int maxWaiting = 0) {
    ServiceSettings settings;
    settings.headerTimeoutMs = headerMs;
    settings.idleTimeoutMs = idleMs;
    settings.maxWaiting = maxWaiting;
    settings.logRequests = false;
    return settings;
}

} // namespace

TEST(SearchServiceClients, SilentSlowAndStalledClientsAreClosedAtTheLimits) {
    RunningService service(withLimits(600, 300));
    struct Row {
        const char* client;
        QByteArray first; // sent at once
        bool trickles;    // then a byte at a time, never ending the header
    };
    const Row rows[] = {
        {"silent", "", false},
        {"stalls inside the header", "GET /version2.txt HTTP/1.0\r\nHost: x", false},
        {"trickles for ever", "", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.client);
        const int fd = connectLoopback(service.port(), 60);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendBytes(fd, row.first));
        EXPECT_EQ(row.trickles ? trickleUntilClosed(fd) : answerUntilClosed(fd), "");
        ::close(fd);
    }
    EXPECT_EQ(httpGet(service.port(), "/version2.txt").status, 200);
}

TEST(SearchServiceClients, ARequestIsAnsweredWhileThousandsOfClientsHoldConnections) {
    const long limit = RaiseFileDescriptorLimit(); // -1: none
    if (limit >= 0 && limit < 5000)
        GTEST_SKIP() << "the test and the service hold 2040 connections each; the descriptor "
                        "limit is "
                     << limit;
    RunningService service;
    std::vector<int> held;
    held.reserve(2040);
    for (int i = 0; i < 2000; ++i) // silent
        held.push_back(connectLoopback(service.port()));
    for (int i = 0; i < 40; ++i) { // slow: part of a header, then nothing for a while
        held.push_back(connectLoopback(service.port()));
        sendBytes(held.back(), "GET /version2.txt HTTP/1.0\r\nX-Slow: ");
    }
    ASSERT_EQ(std::count(held.begin(), held.end(), -1), 0);
    const RawResponse answer =
        parseResponse(sendRaw(service.port(), "GET /version2.txt HTTP/1.0\r\n\r\n", 60));
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.startsWith("Version=" + QByteArray(kPellmarVersion) + "\r\n"))
        << answer.raw.constData();
    for (const int fd : held)
        ::close(fd);
}

TEST(SearchServiceClients, AFullWaitingRoomClosesTheLongestWaitingForTheNewest) {
    RunningService service(withLimits(60000, 60000, 4));
    std::vector<int> silent;
    silent.reserve(4);
    for (int i = 0; i < 4; ++i)
        silent.push_back(connectLoopback(service.port(), 60));
    const RawResponse answer =
        parseResponse(sendRaw(service.port(), "GET /version2.txt HTTP/1.0\r\n\r\n", 60));
    EXPECT_EQ(answer.status, 200);
    // The oldest was closed when the newest came in, before it was answered; the others
    // still wait.
    char byte = 0;
    EXPECT_EQ(::recv(silent[0], &byte, 1, MSG_DONTWAIT), 0);
    for (size_t i = 1; i < silent.size(); ++i) {
        EXPECT_EQ(::recv(silent[i], &byte, 1, MSG_DONTWAIT), -1);
        EXPECT_EQ(errno, EAGAIN);
    }
    for (const int fd : silent)
        ::close(fd);
}

// Requests sent in one go on one connection: those answered while it stays open come back
// in order, and the connection closes after one that ends it, or at the idle limit.
TEST(SearchServiceClients, ConnectionsStayOpenOnlyForClientsThatAskForIt) {
    RunningService service(withLimits(600, 300));
    const QByteArray v11 = "GET /version2.txt HTTP/1.1\r\nHost: x\r\n\r\n";
    const struct {
        const char* client;
        QByteArray requests;
        int answers;
        QByteArray lastHeader; // of the last answer
    } rows[] = {
        {"HTTP/1.1", v11 + v11, 2, "Keep-Alive: timeout=1, max=100"},
        {"HTTP/1.1, closing",
         v11 + "GET /version2.txt HTTP/1.1\r\nConnection: TE, Close\r\n\r\n" + v11, 2,
         "Connection: close"},
        {"HTTP/1.0", "GET /version2.txt HTTP/1.0\r\n\r\n" + v11, 1, "Connection: close"},
        {"HTTP/1.0, keeping",
         "GET /version2.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\nHEAD /version2.txt "
         "HTTP/1.0\r\n\r\n",
         2, "Connection: close"},
        {"a body", "POST /version2.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc" + v11, 1,
         "Connection: close"},
        {"header lines left unread",
         "GET /audiofind/search?words=a?b HTTP/1.1\r\nX: y\r\n\r\n" + v11, 1, "Connection: close"},
        {"a bad request", "GET / FOO/1.1\r\n\r\n" + v11, 1, "Connection: close"},
        {"the hundredth request", v11.repeated(100), 100, "Connection: close"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.client);
        const int fd = connectLoopback(service.port(), 60);
        ASSERT_TRUE(sendBytes(fd, row.requests));
        const QByteArray received = answerUntilClosed(fd);
        ::close(fd);
        EXPECT_EQ(received.count("HTTP/1.1 "), row.answers);
        const QByteArray last = received.mid(received.lastIndexOf("HTTP/1.1 "));
        EXPECT_TRUE(last.contains("\r\n" + row.lastHeader + "\r\n")) << last.constData();
        EXPECT_EQ(received.count("Connection: close"), row.lastHeader.startsWith("Conn") ? 1 : 0);
    }
}

// A request's body comes at the gate under the header's limits; one the service would not
// take whole, or one whose length a proxy could read otherwise, is answered at once without
// being read, and the connection closes: nothing that follows is taken for a request.
TEST(SearchServiceClients, BodiesAndAmbiguousFramingAreSettledBeforeAnAnswer) {
    RunningService service(withLimits(60000, 60000));
    const QByteArray smuggled = "GET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n";
    const QByteArray get = "GET /version2.txt HTTP/1.1\r\nHost: x\r\n";
    const QByteArray post = "POST /version2.txt HTTP/1.1\r\nHost: x\r\n";
    const struct {
        const char* request;
        QByteArray bytes;
        QByteArray statusLine;
        // libmicrohttpd 0.9.75 sends the header of its refusal of a Content-Length it cannot
        // read twice, before the one body; the connection still closes after it.
        int statusLines = 1;
    } rows[] = {
        {"two lengths that differ",
         get + "Content-Length: 0\r\nContent-Length: 33\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request"},
        {"two lengths in one field", get + "Content-Length: 0, 33\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request", 2},
        {"a folded line", get + "X-A: b\r\n Content-Length: 33\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request"},
        {"a blank before the colon", get + "Content-Length : 33\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request"},
        {"a length that is no number", get + "Content-Length: +33\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request", 2},
        {"a length beside chunks",
         post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled,
         "HTTP/1.1 400 Bad Request"},
        {"chunks", post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled,
         "HTTP/1.1 411 Length Required"},
        {"a huge body announced", post + "Content-Length: 1500000000\r\n\r\n" + smuggled,
         "HTTP/1.1 413 Content Too Large"},
        {"a body past the header's limit, waiting for 100 Continue",
         post + "Content-Length: 70000\r\nExpect: 100-continue\r\n\r\n",
         "HTTP/1.1 413 Content Too Large"},
        {"the same length twice", get + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nhello",
         "HTTP/1.1 200 OK"},
        {"a small body", post + "Content-Length: 5\r\n\r\nhello" + smuggled,
         "HTTP/1.1 405 Method Not Allowed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        const int fd = connectLoopback(service.port(), 10);
        ASSERT_TRUE(sendBytes(fd, row.bytes));
        const QByteArray received = answerUntilClosed(fd);
        ::close(fd);
        EXPECT_TRUE(received.startsWith(row.statusLine + "\r\n")) << received.constData();
        EXPECT_EQ(received.count("HTTP/1.1 "), row.statusLines) << received.constData();
        EXPECT_TRUE(received.contains("\r\nConnection: close\r\n"));
    }
}

// Clients that announce a body and send it slowly, or wait for a "100 Continue", never
// hold a worker: the service's two workers still answer at once.
TEST(SearchServiceClients, SlowBodiesHoldNoWorker) {
    ServiceSettings settings = withLimits(60000, 60000);
    settings.threads = 2;
    RunningService service(settings);
    const QByteArray slow[] = {
        "POST /version2.txt HTTP/1.1\r\nContent-Length: 10000000\r\n\r\nx",
        "POST /version2.txt HTTP/1.1\r\nContent-Length: 10\r\nExpect: 100-continue\r\n\r\n",
        "GET /version2.txt HTTP/1.1\r\nContent-Length: 100\r\n\r\nx",
    };
    std::vector<int> held;
    for (int i = 0; i < 2; ++i)
        for (const QByteArray& start : slow) {
            held.push_back(connectLoopback(service.port(), 10));
            ASSERT_TRUE(sendBytes(held.back(), start));
        }
    const RawResponse answer =
        parseResponse(sendRaw(service.port(), "GET /version2.txt HTTP/1.0\r\n\r\n", 10));
    EXPECT_EQ(answer.status, 200) << answer.raw.constData();
    for (const int fd : held)
        ::close(fd);
}
