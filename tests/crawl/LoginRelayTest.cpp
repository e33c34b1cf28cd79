// Sources that need a login: pellmar-searchd crawls an FTP server with a password and an SMB
// share with a credentials file, and the program finds their files as plain HTTP hits on
// the service, which fetches them from the servers as they are sent.
#include "searchd/fileservers/SmbServer.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CliProcess.h"
#include "support/LocalServerProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kUser = QStringLiteral("joe");
const QString kPassword = QStringLiteral("s3cret-pw");

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

// One answer as curl got it: the status line's code, the headers (names in lower case),
// the body.
struct Fetched {
    int status = 0;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
};

Fetched fetch(const QString& url, const QStringList& options = {}) {
    QTemporaryDir dir;
    QProcess curl;
    curl.start("curl", QStringList{"-s", "-D", dir.filePath("head"), "-o", dir.filePath("body")} +
                           options + QStringList{url});
    curl.waitForFinished(60000);
    Fetched fetched;
    for (const QByteArray& line : readAll(dir.filePath("head")).split('\n')) {
        if (line.startsWith("HTTP/"))
            fetched.status = line.split(' ').value(1).toInt();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            fetched.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    fetched.body = readAll(dir.filePath("body"));
    return fetched;
}

// A real MP3 head, then 1.5 MiB of bytes that differ from their neighbours, so that a part
// from a wrong offset cannot pass, and the share is read in several pieces.
QByteArray patternedSong() {
    QByteArray bytes = SampleLibrary::content(SampleLibrary::plan(8)[3]);
    for (int i = 0; i < 1536 * 1024; ++i)
        bytes += char(i % 251);
    return bytes;
}

} // namespace

TEST(LoginRelay, FilesOfSourcesWithALoginComeThroughTheService) {
    QTemporaryDir library, home, smbState;
    ASSERT_TRUE(QDir(library.path()).mkpath("Sub Folder"));
    const QByteArray song = patternedSong();
    writeFile(library.filePath("Sub Folder/Relay Band - Pattern Song.mp3"), song);

    LocalServerProcess ftp("/usr/bin/python3", [&](const QString&, unsigned short port) {
        return QStringList{PELLMAR_LOGIN_FTP_SERVER, QString::number(port), library.path(), kUser,
                           kPassword};
    });
    ASSERT_EQ(ftp.start(), QString());
    const SmbServer smb(library.path(), "mp3", smbState.path());
    writeFile(home.filePath("smb-login"), "username = joe\npassword = " + kPassword.toUtf8());
    writeFile(home.filePath("sources"),
              QStringLiteral("ftp://%1:%2@127.0.0.1:%3/\nsmb://127.0.0.1:%4/mp3/ credentials=%5\n")
                  .arg(kUser, kPassword)
                  .arg(ftp.port())
                  .arg(smb.port())
                  .arg(home.filePath("smb-login"))
                  .toUtf8());

    QProcess searchd;
    searchd.start(PELLMAR_SEARCHD_BINARY,
                  {"--port", "0", "--db", home.filePath("searchd.db"), "--write-datafile",
                   home.filePath("Pellmar.dat"), "--sources", home.filePath("sources")});
    QByteArray said, listening;
    QDeadlineTimer deadline(120000);
    while (said.count("finished after") < 2 && !deadline.hasExpired() &&
           searchd.state() != QProcess::NotRunning) {
        searchd.waitForReadyRead(1000);
        said += searchd.readAllStandardError();
        listening += searchd.readAllStandardOutput();
    }
    ASSERT_EQ(said.count(", 0 errors\n"), 2) << said.constData();
    const QString service = QRegularExpression("listening on (http://127\\.0\\.0\\.1:\\d+)")
                                .match(QString::fromUtf8(listening))
                                .captured(1);
    ASSERT_FALSE(service.isEmpty()) << listening.constData();

    // Each server's file is a plain HTTP hit on the service, for people and for the program
    // (which shows files of the same name and size once).
    QStringList urls;
    const QJsonArray files =
        QJsonDocument::fromJson(fetch(service + "/?q=pattern&format=json").body)
            .object()
            .value("files")
            .toArray();
    for (const auto& file : files)
        urls << file.toObject().value("url").toString();
    const QRegularExpression relayUrl(
        "^" + QRegularExpression::escape(service) +
        "/relay/[0-9a-f]{16}/Sub%20Folder/Relay%20Band%20-%20Pattern%20Song\\.mp3$");
    ASSERT_EQ(urls.size(), 2) << urls.join('\n').toStdString();
    EXPECT_NE(urls[0], urls[1]);
    for (const QString& url : urls)
        EXPECT_TRUE(relayUrl.match(url).hasMatch()) << url.toStdString();
    const QStringList hits =
        cli(home.path(), {"search", "pattern song"}).filter(QRegularExpression("^http\t"));
    ASSERT_EQ(hits.size(), 1) << hits.join('\n').toStdString();
    EXPECT_TRUE(urls.contains(hits[0].section('\t', 5))) << hits[0].toStdString();

    // No page names the login; the listings leave the relayed files to the engines.
    for (const QString page : {"/cgi-bin/mp3asp/search.asp?searchwords=pattern",
                               "/audiofind/search?words=pattern", "/?q=pattern&format=json",
                               "/?q=pattern", "/ftp/search?q=pattern", "/smb/search?q=pattern"}) {
        SCOPED_TRACE(page.toStdString());
        const Fetched answer = fetch(service + page);
        EXPECT_EQ(answer.status, 200);
        EXPECT_FALSE(answer.body.contains("joe") || answer.body.contains("s3cret"));
        EXPECT_EQ(answer.body.contains("Pattern"), !page.contains("/search?q="));
    }

    const QByteArray size = QByteArray::number(song.size());
    for (const QString& url : urls) {
        SCOPED_TRACE(url.toStdString());
        cli(home.path(), {"download", url, "-o", home.filePath("got.mp3")});
        EXPECT_TRUE(readAll(home.filePath("got.mp3")) == song) << "the program's download";

        struct Part {
            const char* range;
            qint64 first, last;
        };
        for (const Part& part : {Part{"1000000-", 1000000, song.size() - 1}, Part{"5-9", 5, 9},
                                 Part{"-100", song.size() - 100, song.size() - 1}}) {
            SCOPED_TRACE(part.range);
            const Fetched answer = fetch(url, {"-H", QStringLiteral("Range: bytes=") + part.range});
            EXPECT_EQ(answer.status, 206);
            EXPECT_EQ(answer.headers.value("content-range"),
                      "bytes " + QByteArray::number(part.first) + '-' +
                          QByteArray::number(part.last) + '/' + size);
            EXPECT_TRUE(answer.body == song.mid(part.first, part.last - part.first + 1));
        }
        const Fetched head = fetch(url, {"-I"});
        EXPECT_EQ(head.status, 200);
        EXPECT_EQ(head.headers.value("content-length"), size);
        EXPECT_EQ(head.headers.value("content-type"), "audio/mpeg");
        EXPECT_EQ(head.headers.value("accept-ranges"), "bytes");

        // Only what the index holds of the source: another name, another source, no source.
        const QString key = url.section('/', 4, 4);
        EXPECT_EQ(fetch(url.section('/', 0, 4) + "/Sub%20Folder/other.mp3").status, 404);
        EXPECT_EQ(fetch(QString(url).replace(key, "0123456789abcdef")).status, 404);
        EXPECT_EQ(fetch(service + "/relay/" + key + "/..%2Fsources").status, 400);
    }

    // A server that is gone: the service says so instead of sending a part of nothing.
    ftp.stop();
    QString ftpUrl;
    for (const QString& url : urls)
        if (fetch(url, {"-I"}).status == 502)
            ftpUrl = url;
    ASSERT_FALSE(ftpUrl.isEmpty());
    const Fetched gone = fetch(ftpUrl);
    EXPECT_EQ(gone.status, 502);
    EXPECT_TRUE(gone.body.startsWith("the FTP server cannot give the file: "))
        << gone.body.constData();
    EXPECT_FALSE(gone.body.contains("s3cret"));

    searchd.terminate();
    EXPECT_TRUE(searchd.waitForFinished(10000));
}
