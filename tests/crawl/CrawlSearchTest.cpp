// The whole way: pellmar-searchd crawls nginx and an FTP server, and pellmar-cli finds each
// file there with its size and quality and fetches it over HTTP.
#include "searchd/fileservers/FileServers.h"
#include "searchd/http/QueryText.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CliProcess.h"
#include "support/CorpusVerdicts.h"
#include "support/LocalServerProcess.h"
#include "support/Mp3Corpus.h"
#include "support/TestSeed.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {} // namespace

TEST(CrawlSearch, CrawledFilesAreFoundWithTheirQualityAndFetched) {
    QTemporaryDir library, home;
    SampleLibrary::write(library.path(), 30);
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    FileServers ftp(library.path(), "mp3", true, false);
    ASSERT_EQ(ftp.problems(), QStringList());
    const QStringList bases = {QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port()),
                               QStringLiteral("ftp://127.0.0.1:%1/").arg(ftp.ftp()->port())};

    QProcess searchd;
    QStringList args = {"--port",
                        "0",
                        "--db",
                        home.filePath("searchd.db"),
                        "--write-datafile",
                        home.filePath("Pellmar.dat")};
    for (const QString& base : bases)
        args << "--crawl" << base;
    searchd.start(PELLMAR_SEARCHD_BINARY, args);
    QByteArray said;
    QDeadlineTimer deadline(120000);
    while (said.count("finished after") < 2 && !deadline.hasExpired() &&
           searchd.state() != QProcess::NotRunning) {
        searchd.waitForReadyRead(1000);
        said += searchd.readAllStandardError();
        searchd.readAllStandardOutput();
    }
    ASSERT_EQ(said.count("finished after"), 2) << said.constData();
    // Each walk's closing line; a slow walk also prints progress lines on the way.
    const QRegularExpression clean("finished after [^\n]*, 0 errors\n");
    EXPECT_EQ(QString::fromUtf8(said).count(clean), 2) << said.constData();

    int found = 0, foundOnFtp = 0;
    for (const SampleLibrary::SampleFile& file : SampleLibrary::plan(30)) {
        SCOPED_TRACE(file.path.toStdString());
        const QString path = library.filePath(file.path);
        const QStringList probe = cli(home.path(), {"probe", path}).value(0).split('\t');
        QStringList hits;
        for (const QString& line : cli(home.path(), {"search", file.artist + ' ' + file.title}))
            if (line.endsWith(QString::fromLatin1(QueryText::encodePath(file.path))) ||
                line.endsWith('/' + file.path))
                hits << line;
        // The HTTP hits leave out what the program's header probe drops (small files,
        // unreadable headers).
        const int ftpHits = int(hits.filter(QRegularExpression("^ftp\t")).size());
        const int http = int(hits.filter(QRegularExpression("^http\t")).size());
        ASSERT_LE(ftpHits, 1) << hits.join('\n').toStdString();
        ASSERT_LE(http, 1) << hits.join('\n').toStdString();
        found += http;
        foundOnFtp += ftpHits;
        for (const QString& hit : hits) {
            const QStringList columns = hit.split('\t');
            ASSERT_EQ(columns.size(), 6) << hit.toStdString();
            EXPECT_EQ(columns[2], QString::number(file.size));
            if (columns[0] == "http" && probe.value(1) == "ok") {
                EXPECT_TRUE(columns[3].startsWith(
                    QStringLiteral("%1kb/s %2kHz").arg(probe[2]).arg(probe[3].toInt() / 1000)))
                    << hit.toStdString() << " against " << probe.join(' ').toStdString();
            }
        }
        if (found == 1 && http == 1) { // a download is the file itself
            const QString saved = home.filePath("got.mp3");
            cli(home.path(),
                {"download", hits.filter(QRegularExpression("^http\t"))[0].section('\t', 5), "-o",
                 saved});
            EXPECT_EQ(readAll(saved), readAll(path));
        }
    }
    EXPECT_GE(found, 10);
    EXPECT_EQ(foundOnFtp, 30);
    searchd.terminate();
    EXPECT_TRUE(searchd.waitForFinished(10000));
}

namespace {

// Every file the people's page finds for a word, as JSON, page after page.
QList<QJsonObject> pageFiles(unsigned short port, const QString& word) {
    QList<QJsonObject> files;
    for (int page = 1; page < 10; ++page) {
        QProcess curl;
        curl.start("curl", {"-sf", QStringLiteral("http://127.0.0.1:%1/?q=%2&kind=http&format=json"
                                                  "&page=%3")
                                       .arg(port)
                                       .arg(word)
                                       .arg(page)});
        curl.waitForFinished(30000);
        const QJsonObject answer = QJsonDocument::fromJson(curl.readAllStandardOutput()).object();
        for (const auto& file : answer.value("files").toArray())
            files.append(file.toObject());
        if (files.size() >= answer.value("total").toInt())
            break;
    }
    return files;
}

} // namespace

// Real files on a web server: the crawler finds the figures ffprobe finds in the whole files,
// and the program's own probe marks a VBR file by its average.
TEST(CrawlSearch, CrawledFilesAreJudgedByTheirAverageAndSpectrum) {
    const TestSeed seed(2026);
    const Mp3Corpus::Corpus corpus(seed.value());
    ASSERT_TRUE(corpus.ok()) << corpus.error().toStdString();
    QTemporaryDir home;
    // The corpus under a folder of its own, whose name every file's words then hold.
    QDir(home.path()).mkpath("site");
    ASSERT_TRUE(QFile::link(corpus.folder(), home.filePath("site/Corpus")));
    LocalServerProcess nginx("/usr/sbin/nginx",
                             NginxConfig(home.filePath("site"), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    QProcess searchd;
    searchd.start(PELLMAR_SEARCHD_BINARY,
                  {"--port", "0", "--db", home.filePath("searchd.db"), "--write-datafile",
                   home.filePath("Pellmar.dat"), "--crawl",
                   QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port())});
    QByteArray said, listening;
    QDeadlineTimer deadline(120000);
    while (!said.contains("finished after") && !deadline.hasExpired() &&
           searchd.state() != QProcess::NotRunning) {
        searchd.waitForReadyRead(1000);
        said += searchd.readAllStandardError();
        listening += searchd.readAllStandardOutput();
    }
    ASSERT_TRUE(said.contains(", 0 errors\n")) << said.constData();
    const QRegularExpression address("127\\.0\\.0\\.1:(\\d+)");
    const auto port = static_cast<unsigned short>(
        address.match(QString::fromUtf8(listening)).captured(1).toUInt());

    QHash<QString, QJsonObject> byName;
    for (const QJsonObject& file : pageFiles(port, "corpus"))
        byName.insert(file.value("url").toString().section('/', -1), file);
    CorpusVerdicts verdicts;
    for (const auto& file : corpus.files())
        verdicts.check(file, byName.value(QString::fromLatin1(file.entry.name) + ".mp3"));
    verdicts.expectMostTranscodesCaught();

    // The program's search: kind, caption, size, file info, mark, URL.
    const QStringList hits = cli(home.path(), {"search", "vbr"});
    const auto hit = [&](const char* name) {
        const QStringList lines =
            hits.filter(QRegularExpression(QStringLiteral("^http\t.*/%1$").arg(name)));
        return lines.value(0).split('\t');
    };
    EXPECT_TRUE(hit("vbr-v6.mp3").value(3).endsWith("kb/s VBR 44kHz Stereo"))
        << hits.join('\n').toStdString();
    EXPECT_EQ(hit("vbr-v6.mp3").value(4), "2") << "below 128 kbit/s on average";
    EXPECT_EQ(hit("vbr-v0.mp3").value(4), "0");
    searchd.terminate();
    EXPECT_TRUE(searchd.waitForFinished(10000));
}

namespace {

QByteArray curlStatus(const QStringList& args) {
    QProcess curl;
    curl.start("curl", QStringList{"-s", "-o", "/dev/null", "-w", "%{http_code}"} + args);
    curl.waitForFinished(30000);
    return curl.readAllStandardOutput();
}

// Reads the service's standard error until it has said text count times.
bool waitForSaid(QProcess& searchd, QByteArray& said, const char* text, int count) {
    QDeadlineTimer deadline(120000);
    while (said.count(text) < count && !deadline.hasExpired() &&
           searchd.state() != QProcess::NotRunning) {
        searchd.waitForReadyRead(1000);
        said += searchd.readAllStandardError() + searchd.readAllStandardOutput();
    }
    return said.count(text) >= count;
}

} // namespace

// A file retagged to the same size at the same time looks unchanged in nginx's listing: a
// crawl the user asks for (the status page's button, POST /api/crawl, SIGHUP) reads it again.
// The status page also names the source lines that are not crawled.
TEST(CrawlSearch, ACrawlAskedForReadsAgainWhatTheListingCannotVouchFor) {
    QTemporaryDir library, home;
    SampleLibrary::write(library.path(), 12);
    const QList<SampleLibrary::SampleFile> files = SampleLibrary::plan(12);
    const auto tagged = std::find_if(files.begin(), files.end(), [](const auto& file) {
        return file.wrapping == SampleLibrary::Wrapping::Id3v2Tag;
    });
    ASSERT_NE(tagged, files.end());
    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(library.path(), "    autoindex on;"));
    ASSERT_EQ(nginx.start(), QString());
    QFile sources(home.filePath("sources"));
    ASSERT_TRUE(sources.open(QIODevice::WriteOnly));
    sources.write(
        QStringLiteral("gopher://old.example/\nhttp://127.0.0.1:%1/\n").arg(nginx.port()).toUtf8());
    sources.close();
    QProcess searchd;
    searchd.start(PELLMAR_SEARCHD_BINARY, {"--port", "0", "--db", home.filePath("searchd.db"),
                                           "--sources", sources.fileName()});
    QByteArray said;
    ASSERT_TRUE(waitForSaid(searchd, said, "finished after", 1)) << said.constData();
    const QRegularExpression address("127\\.0\\.0\\.1:(\\d+)");
    const QString base = QStringLiteral("http://127.0.0.1:%1")
                             .arg(address.match(QString::fromUtf8(said)).captured(1));

    QProcess status;
    status.start("curl", {"-s", base + "/status"});
    status.waitForFinished(30000);
    const QByteArray page = status.readAllStandardOutput();
    EXPECT_TRUE(page.contains("<button type=\"submit\">Crawl now</button>")) << page.constData();
    EXPECT_TRUE(page.contains("gopher://old.example/: only http, https, ftp and smb are crawled"));
    EXPECT_EQ(curlStatus({base + "/api/crawl"}), "405");

    // The same size and time, another title.
    const QString path = library.filePath(tagged->path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    const QByteArray newTitle(tagged->title.toUtf8().size(), 'q');
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.contains(tagged->title.toUtf8()));
    file.seek(0);
    file.write(QByteArray(bytes).replace(tagged->title.toUtf8(), newTitle));
    file.setFileTime(modified, QFileDevice::FileModificationTime);
    file.close();

    EXPECT_EQ(curlStatus({"--data", "", base + "/api/crawl"}), "202");
    ASSERT_TRUE(waitForSaid(searchd, said, "finished after", 2)) << said.constData();
    QProcess search;
    search.start("curl", {"-s", base + "/?format=json&q=" + QString::fromLatin1(newTitle)});
    search.waitForFinished(30000);
    const QJsonObject found = QJsonDocument::fromJson(search.readAllStandardOutput()).object();
    EXPECT_EQ(found.value("total").toInt(), 1) << "the new title is found";

    ::kill(static_cast<pid_t>(searchd.processId()), SIGHUP);
    EXPECT_TRUE(waitForSaid(searchd, said, "finished after", 3)) << said.constData();
    EXPECT_EQ(curlStatus({"--data", "", base + "/api/crawl?then=status"}), "303");
    searchd.terminate();
    EXPECT_TRUE(searchd.waitForFinished(10000));
}

// The same song on three web servers, at 128 kbit/s, from -V0, and as a 128 -> 320 transcode,
// with the -V0 file in the user's library too: one song, its sources best first, had; the
// program's search with --new-only leaves it out.
TEST(CrawlSearch, OneSongOnThreeServersIsOneRowAndTheLibraryHasIt) {
    QTemporaryDir home;
    const QList<QByteArray> kinds = {"cbr-128", "vbr-v0", "transcode-128-to-320"};
    std::vector<std::unique_ptr<LocalServerProcess>> servers;
    QStringList args = {"--port",
                        "0",
                        "--db",
                        home.filePath("searchd.db"),
                        "--write-datafile",
                        home.filePath("Pellmar.dat"),
                        "--library",
                        home.filePath("library")};
    QDir(home.path()).mkpath("library");
    for (const Mp3Corpus::Entry& entry : Mp3Corpus::entries()) {
        if (!kinds.contains(entry.name))
            continue;
        const QString site = home.filePath(QString::fromLatin1(entry.name));
        QDir().mkpath(site);
        QString error;
        const QString made = Mp3Corpus::make(site, entry, 77, 6.0, &error);
        ASSERT_FALSE(made.isEmpty()) << error.toStdString();
        ASSERT_TRUE(QFile::rename(made, site + "/Blue Horizon.mp3"));
        QFile::remove(site + '/' + QString::fromLatin1(entry.name) + ".wav");
        if (QByteArray(entry.name) == "vbr-v0") {
            ASSERT_TRUE(
                QFile::copy(site + "/Blue Horizon.mp3", home.filePath("library/Blue Horizon.mp3")));
        }
        servers.push_back(std::make_unique<LocalServerProcess>(
            "/usr/sbin/nginx", NginxConfig(site, "    autoindex on;")));
        ASSERT_EQ(servers.back()->start(), QString());
        args << "--crawl" << QStringLiteral("http://127.0.0.1:%1/").arg(servers.back()->port());
    }
    QProcess searchd;
    searchd.start(PELLMAR_SEARCHD_BINARY, args);
    QByteArray said;
    ASSERT_TRUE(waitForSaid(searchd, said, "finished after", 3)) << said.constData();
    const QRegularExpression address("listening on (http://127\\.0\\.0\\.1:\\d+)");
    const QString base = address.match(QString::fromUtf8(said)).captured(1);

    QProcess api;
    api.start("curl", {"-s", base + "/api/search?q=horizon&kind=http&group=song"});
    api.waitForFinished(30000);
    const QJsonObject answer = QJsonDocument::fromJson(api.readAllStandardOutput()).object();
    ASSERT_EQ(answer.value("total").toInt(), 1) << QJsonDocument(answer).toJson().constData();
    const QJsonObject song = answer.value("songs").toArray()[0].toObject();
    EXPECT_TRUE(song.value("inLibrary").toBool());
    QStringList order; // the sources' sites, best first
    for (const auto& source : song.value("sources").toArray())
        order << source.toObject().value("verdict").toString() + ' ' +
                     source.toObject().value("mode").toString();
    EXPECT_EQ(order, QStringList({"genuine VBR", "genuine CBR", "transcoded CBR"}));

    const auto hits = [&](const QStringList& extra) {
        return cli(home.path(), QStringList{"search", "horizon", "--sources", "http"} + extra)
            .filter(QRegularExpression("^http\t"))
            .size();
    };
    // The program keeps one hit a name: the song's best source, first on the engines' pages.
    EXPECT_EQ(hits({}), 1);
    EXPECT_EQ(hits({"--new-only"}), 0);
    searchd.terminate();
    EXPECT_TRUE(searchd.waitForFinished(10000));
}
