// The whole way: pellmar-searchd crawls nginx and an FTP server, and pellmar-cli finds each
// file there with its size and quality and fetches it over HTTP.
#include "searchd/FileServers.h"
#include "searchd/QueryText.h"
#include "searchd/SampleLibrary.h"
#include "support/LocalServerProcess.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList cli(const QString& home, const QStringList& args) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELLMAR_HOME", home);
    process.setProcessEnvironment(environment);
    process.start(PELLMAR_CLI, args);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

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
    EXPECT_EQ(said.count(", 0 errors\n"), 2) << said.constData();

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
