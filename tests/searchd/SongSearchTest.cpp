#include "ProgramScrapers.h"
#include "RawHttp.h"
#include "searchd/SearchService.h"
#include "searchd/index/ServiceIndex.h"
#include "support/TempHome.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <thread>

using namespace ProgramScrapers;

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

FrameHeader frame(int bitrate, Verdict verdict, double seconds) {
    FrameHeader header;
    header.bitrate = QByteArray::number(bitrate);
    header.sampleRate = "44100";
    header.mode = "Joint Stereo";
    header.quality.version = AudioQuality::kCurrentVersion;
    header.quality.bitrate = bitrate;
    header.quality.mode = RateMode::Vbr;
    header.quality.verdict = verdict;
    header.quality.durationSeconds = seconds;
    return header;
}

CrawledFile crawled(const char* path, const char* artist, const char* title, int bitrate,
                    Verdict verdict, double seconds) {
    CrawledFile file;
    file.path = QString::fromUtf8(path);
    file.size = bitrate * 1000 / 8 * qint64(seconds);
    file.headRead = true;
    file.head.frame = frame(bitrate, verdict, seconds);
    file.head.artist = QString::fromUtf8(artist);
    file.head.title = QString::fromUtf8(title);
    return file;
}

// The service with one song on four crawled servers (one of them a transcode, one named
// but not tagged), a take of it 3 s longer, and two library songs, one of them also
// crawled at a lower bitrate. The servers are rows in the index only: nothing connects to
// them.
class SongSearchTest : public ::testing::Test {
protected:
    SongSearchTest() {
        ServiceSettings settings;
        settings.library = home.file("lib");
        QDir().mkpath(settings.library);
        settings.database = home.file("searchd.db");
        settings.port = 0;
        settings.pageSize = 3;
        settings.logRequests = false;
        settings.scanLibrary = false;
        service = std::make_unique<SearchService>(settings);
        port = service->bind();
        service->index().changeLibrary({{{"Kraftwerk/Autobahn.mp3", 9000000, "Kraftwerk",
                                          "Autobahn", frame(256, Verdict::Genuine, 300)},
                                         1},
                                        {{"Kraftwerk/Radioactivity.mp3", 4000000, "Kraftwerk",
                                          "Radioactivity", frame(128, Verdict::Genuine, 250)},
                                         1}},
                                       {});
        const Verdict genuine = Verdict::Genuine;
        add("ftp://c.example/", {crawled("blue_moon.mp3", "Ella Fitzgerald", "Blue Moon", 320,
                                         Verdict::Transcoded, 200)});
        add("http://a.example/",
            {crawled("Blue Moon.mp3", "Ella Fitzgerald", "Blue Moon", 128, genuine, 200),
             crawled("Kraftwerk - Autobahn.mp3", "KRAFTWERK", "autobahn", 192, genuine, 300),
             crawled("Radioactivity.mp3", "Kraftwerk", "Radioactivity", 320, genuine, 250)});
        add("http://b.example/",
            {crawled("01 - ella fitzgerald - blue moon.mp3", "ELLA  FITZGERALD", "blue moon", 192,
                     Verdict::Unknown, 201)});
        add("http://d.example/",
            {crawled("Ella Fitzgerald - Blue Moon.mp3", "", "", 256, genuine, 200.5)});
        add("http://e.example/",
            {crawled("Blue Moon (live).mp3", "Ella Fitzgerald", "Blue Moon", 256, genuine, 203)});
        thread = std::thread([this] { service->run(); });
    }
    ~SongSearchTest() override {
        service->stop();
        thread.join();
    }

    void add(const char* url, const QList<CrawledFile>& files) {
        const CrawlSource source{QString::fromLatin1(url), QUrl(QString::fromLatin1(url)), {}};
        ServiceIndex& index = service->index();
        const qint64 crawl = index.beginCrawl(source);
        index.storeFolder(source, crawl, QString(), "fp", files);
        index.finishCrawl(source, crawl, {});
    }

    QByteArray get(const QByteArray& target) {
        const RawResponse response = httpGet(port, target);
        EXPECT_EQ(response.status, 200) << target.constData();
        return response.body;
    }

    QJsonObject getJson(const QByteArray& target) {
        return QJsonDocument::fromJson(get(target)).object();
    }

    TempHome home;
    std::unique_ptr<SearchService> service;
    int port = 0;
    std::thread thread;
};

QStringList sourceUrls(const QJsonObject& song) {
    QStringList urls;
    for (const auto& source : song["sources"].toArray())
        urls.append(source.toObject()["url"].toString());
    return urls;
}

const QStringList kBlueMoonBestFirst = {
    "http://d.example/Ella%20Fitzgerald%20-%20Blue%20Moon.mp3",          // genuine 256
    "http://a.example/Blue%20Moon.mp3",                                  // genuine 128
    "http://b.example/01%20-%20ella%20fitzgerald%20-%20blue%20moon.mp3", // unknown 192
    "ftp://c.example/blue_moon.mp3",                                     // transcoded 320
};

} // namespace

TEST_F(SongSearchTest, ApiGroupsOneSongWithItsSourcesBestFirst) {
    const QJsonObject answer = getJson("/api/search?q=blue+moon&group=song");
    EXPECT_EQ(answer["total"], 2);
    const QJsonArray songs = answer["songs"].toArray();
    ASSERT_EQ(songs.size(), 2);
    const QJsonObject song = songs[0].toObject();
    EXPECT_EQ(song["artist"], "Ella Fitzgerald");
    EXPECT_EQ(song["title"], "Blue Moon");
    EXPECT_EQ(song["durationSeconds"], 200.5) << "the best source's";
    EXPECT_EQ(song["inLibrary"], false);
    EXPECT_EQ(sourceUrls(song), kBlueMoonBestFirst);
    const QJsonObject best = song["sources"].toArray()[0].toObject();
    EXPECT_EQ(best["kind"], "http");
    EXPECT_EQ(best["size"], 256 * 1000 / 8 * 200);
    EXPECT_EQ(best["bitrate"], 256);
    EXPECT_EQ(best["mode"], "VBR");
    EXPECT_EQ(best["verdict"], "genuine");
    EXPECT_EQ(sourceUrls(songs[1].toObject()),
              QStringList({"http://e.example/Blue%20Moon%20%28live%29.mp3"}))
        << "3 s longer: another take";

    // Without group=song the API answers as the page's JSON always did: file by file.
    const QByteArray files = get("/api/search?q=blue+moon");
    EXPECT_EQ(files, get("/?q=blue+moon&format=json"));
    EXPECT_EQ(QJsonDocument::fromJson(files).object()["files"].toArray().size(), 5);
    EXPECT_EQ(httpGet(port, "/api/search?q=moon&format=html").status, 400);
    EXPECT_EQ(httpGet(port, "/api/search?q=moon&group=album").status, 400);
}

TEST_F(SongSearchTest, LibraryCopiesAtTheSameOrBetterQualityAreAlreadyHad) {
    const QJsonArray songs =
        getJson("/api/search?q=kraftwerk&kind=http&group=song")["songs"].toArray();
    ASSERT_EQ(songs.size(), 2);
    QMap<QString, QJsonObject> byTitle;
    for (const auto& song : songs)
        byTitle.insert(song.toObject()["title"].toString(), song.toObject());
    EXPECT_EQ(byTitle["autobahn"]["inLibrary"], true) << "library 256 kbit/s, crawled 192";
    EXPECT_EQ(byTitle["autobahn"]["libraryBitrate"], 256);
    EXPECT_EQ(byTitle["Radioactivity"]["inLibrary"], false) << "library 128 kbit/s, crawled 320";
    EXPECT_TRUE(get("/?q=autobahn&kind=http").contains("in your library, 256 kbit/s"));

    // With the library in the search, its copy is one of the song's sources.
    const QJsonObject all = getJson("/api/search?q=autobahn&group=song");
    ASSERT_EQ(all["total"], 1);
    const QJsonObject autobahn = all["songs"].toArray()[0].toObject();
    EXPECT_EQ(autobahn["inLibrary"], true);
    EXPECT_EQ(autobahn["sources"].toArray()[0].toObject()["kind"], "library");

    // The program's engines leave out what the library has when asked (newonly=1), and the
    // next page's link keeps asking.
    const auto titles = [](const EnginePage& page) {
        QStringList names;
        for (const FoundLink& link : page.links)
            names.append(QString::fromLatin1(link.url).section('/', -1));
        return names;
    };
    const QByteArray first = "/cgi-bin/mp3asp/search.asp?since=&searchwords=kraftwerk";
    EXPECT_EQ(titles(readFirstEngine(get(first))).filter("autobahn", Qt::CaseInsensitive).size(),
              2);
    // The library's Radioactivity (128 kbit/s) and the crawled one (320) are both left.
    const QStringList fresh = {"Radioactivity.mp3", "Radioactivity.mp3"};
    EXPECT_EQ(titles(readFirstEngine(get(first + "&newonly=1"))), fresh);
    EXPECT_TRUE(get(first + "&newonly=1").contains("&page=2&newonly=1"));
    EXPECT_EQ(titles(readSecondEngine(get("/audiofind/search?words=kraftwerk&newonly=1"))), fresh);
}

TEST_F(SongSearchTest, PageShowsOneRowPerSongWithItsSources) {
    const QByteArray page = get("/?q=blue+moon");
    EXPECT_EQ(page.count("<tr><td data-label=\"Artist\">"), 2);
    EXPECT_TRUE(page.contains("Songs 1 to 2 of 2 (5 files)."));
    EXPECT_TRUE(page.contains("<summary>4 sources</summary>"));
    EXPECT_TRUE(page.contains("<summary>1 source</summary>"));
    // The row shows the best source's figures and plays it.
    EXPECT_TRUE(page.contains("<td data-label=\"Size (MB)\" class=\"n\" data-v=\"6400000\">6.4</td>"
                              "<td data-label=\"Bitrate\" class=\"n\" data-v=\"256\">256 kbit/s"
                              "</td><td data-label=\"Mode\">VBR</td>"))
        << page.constData();
    EXPECT_TRUE(page.contains("<audio controls preload=\"none\" src=\"" +
                              kBlueMoonBestFirst[0].toLatin1() + "\""));
    QStringList links; // the sources' links, in the order shown
    static const QRegularExpression kItem(QStringLiteral("<li><a href=\"([^\"]+)\">"));
    for (const auto& match : kItem.globalMatch(QString::fromUtf8(page)))
        links.append(match.captured(1));
    EXPECT_EQ(links.mid(0, 4), kBlueMoonBestFirst);
    EXPECT_EQ(page.count("<audio "), 2 + 3 + 1) << "one a row, one an HTTP source: none for FTP";
}

// The program's engines get the files of the same song together, best source first, and
// read every hit as before.
TEST_F(SongSearchTest, EnginePagesPutEachSongsBestSourceFirst) {
    QList<QByteArray> urls;
    for (int page = 1; page <= 2; ++page)
        for (const FoundLink& link :
             readFirstEngine(get("/cgi-bin/mp3asp/search.asp?since=&searchwords=blue+moon&page=" +
                                 QByteArray::number(page)))
                 .links)
            urls.append(link.url);
    const QList<QByteArray> expected = {
        kBlueMoonBestFirst[0].toLatin1(), kBlueMoonBestFirst[1].toLatin1(),
        kBlueMoonBestFirst[2].toLatin1(), "http://e.example/Blue%20Moon%20%28live%29.mp3"};
    EXPECT_EQ(urls, expected);
    const EnginePage second = readSecondEngine(get("/audiofind/search?words=blue+moon&page=2"));
    ASSERT_EQ(second.links.size(), 1);
    EXPECT_EQ(second.links[0].url, expected[3]);
}
