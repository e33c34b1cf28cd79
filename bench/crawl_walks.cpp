// The crawler against the usual tools over the same generated trees, side by side:
//   names only over nginx autoindex against wget --spider -r -np;
//   the quality pass (first 64 KiB of each file) against curl --parallel --range 0-65535;
//   names over FTP (pyftpdlib) against lftp's find, over SMB (smbd) against smbclient;
//   peak memory of pellmar-searchd crawling a tree of LARGE files.
//
//   crawl_walks [FILES] [FOLDERS] [LARGE]   (defaults 10000 500 100000)
// The trees are hard links to a few sample files, so that they take little disk.
#include "crawl/CrawlSources.h"
#include "crawl/Crawler.h"
#include "searchd/fileservers/FileServers.h"
#include "searchd/library/SampleLibrary.h"
#include "support/LocalServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

// Counts what the walk reports and keeps nothing, so that the walk alone is measured.
class CountingSink : public CrawlSink {
public:
    std::atomic<qint64> files{0}, heads{0}, folders{0};
    qint64 beginCrawl(const CrawlSource&) override { return 1; }
    QByteArray folderFingerprint(const CrawlSource&, const QString&) override { return {}; }
    QList<CrawledFile> folderFiles(const CrawlSource&, const QString&) override { return {}; }
    void storeFolder(const CrawlSource&, qint64, const QString&, const QByteArray&,
                     const QList<CrawledFile>& list) override {
        ++folders;
        files += list.size();
        for (const CrawledFile& file : list)
            heads += file.headRead && file.head.hasQuality();
    }
    void keepFolder(const CrawlSource&, qint64, const QString&) override { ++folders; }
    void keepSubtree(const CrawlSource&, qint64, const QString&) override {}
    void finishCrawl(const CrawlSource&, qint64, const WalkErrors&) override {}
    void abandonCrawl(const CrawlSource&, qint64, const QString& reason) override {
        std::fprintf(stderr, "abandoned: %s\n", qPrintable(reason));
    }
};

// files hard links to a few sample MP3s, spread over folders; returns their URL paths.
QStringList makeTree(const QString& root, int files, int folders) {
    const QString samples = root + "/.samples";
    SampleLibrary::write(samples, 8);
    QStringList originals;
    for (const SampleLibrary::SampleFile& file : SampleLibrary::plan(8))
        originals << samples + '/' + file.path;
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        const QString folder = QStringLiteral("Artist %1").arg(i % folders, 4, 10, QChar('0'));
        QDir().mkpath(root + "/music/" + folder);
        const QString name = QStringLiteral("Song %1.mp3").arg(i, 6, 10, QChar('0'));
        const QString path = root + "/music/" + folder + '/' + name;
        if (::link(originals[i % originals.size()].toLocal8Bit(), path.toLocal8Bit()) != 0)
            std::fprintf(stderr, "cannot link %s\n", qPrintable(path));
        paths << "music/" + QString::fromLatin1(QUrl::toPercentEncoding(folder)) + '/' +
                     QString::fromLatin1(QUrl::toPercentEncoding(name));
    }
    return paths;
}

struct Walked {
    double seconds = 0;
    qint64 files = 0, heads = 0;
};

Walked crawl(const QString& url, bool heads) {
    CrawlSource source;
    QString problem;
    CrawlSources::parseLine(url, &source, &problem);
    CountingSink sink;
    CrawlLimits limits;
    limits.readHeads = heads;
    Crawler crawler({source}, sink, limits, [](const QString&) {});
    QElapsedTimer clock;
    clock.start();
    crawler.crawlOnce();
    return {clock.nsecsElapsed() / 1e9, sink.files, sink.heads};
}

double runTool(const QString& program, const QStringList& arguments, const QString& folder = {}) {
    QProcess process;
    process.setWorkingDirectory(folder.isEmpty() ? QDir::tempPath() : folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

void row(const char* what, const Walked& ours, double peer, const char* peerName) {
    std::printf(
        "%-30s pellmar %7.2f s (%lld files, %lld heads)  %-22s %7.2f s  speed ratio %.2fx\n", what,
        ours.seconds, static_cast<long long>(ours.files), static_cast<long long>(ours.heads),
        peerName, peer, peer / ours.seconds);
}

// Peak resident memory of pellmar-searchd crawling url into a fresh database, in MiB.
double searchdPeak(const QString& url, const QString& work) {
    QProcess searchd;
    searchd.setProcessChannelMode(QProcess::MergedChannels);
    searchd.start(PELLMAR_SEARCHD_BINARY,
                  {"--port", "0", "--db", work + "/peak.db", "--crawl", url});
    searchd.waitForStarted(10000);
    QByteArray said;
    double peak = 0;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("crawl of ") && searchd.state() == QProcess::Running &&
           clock.elapsed() < 1800000) {
        searchd.waitForReadyRead(1000);
        said += searchd.readAll();
        QFile status(QStringLiteral("/proc/%1/status").arg(searchd.processId()));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peak = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        }
    }
    const qsizetype end = said.lastIndexOf("crawl of ");
    std::printf("  %s", (end >= 0 ? said.mid(end) : said.right(2000)).constData());
    searchd.terminate();
    searchd.waitForFinished(10000);
    return peak;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 500;
    const int large = argc > 3 ? std::atoi(argv[3]) : 100000;
    QTemporaryDir work;
    const QStringList paths = makeTree(work.path(), files, folders);
    std::printf("%d files in %d folders (hard links to 8 sample MP3s)\n", files, folders);

    LocalServerProcess nginx("/usr/sbin/nginx", NginxConfig(work.path(), "    autoindex on;"));
    const QString failed = nginx.start();
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return 1;
    }
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port());

    const Walked names = crawl(base + "music/", false);
    QTemporaryDir wgetDir;
    const double wget =
        runTool("/usr/bin/wget",
                {"--spider", "-r", "-np", "-l", "inf", "-q", "-e", "robots=off", base + "music/"},
                wgetDir.path());
    row("HTTP names (nginx autoindex)", names, wget, "wget --spider -r -np");

    const Walked full = crawl(base + "music/", true);
    QFile list(work.filePath("urls.txt"));
    list.open(QIODevice::WriteOnly);
    for (const QString& path : paths)
        list.write(("url = \"" + base + path + "\"\noutput = \"/dev/null\"\n").toUtf8());
    list.close();
    const double curl = runTool("/usr/bin/curl", {"--parallel", "--parallel-max", "4", "-s",
                                                  "--range", "0-65535", "-K", list.fileName()});
    Walked headsOnly = full;
    headsOnly.seconds = std::max(0.001, full.seconds - names.seconds);
    row("HTTP quality pass (64 KiB each)", headsOnly, curl, "curl --parallel --range");
    row("HTTP names + quality, whole", full, curl, "curl --parallel --range");

    FileServers servers(work.filePath("music"), "mp3", true, true);
    for (const QString& problem : servers.problems())
        std::fprintf(stderr, "%s\n", qPrintable(problem));
    if (servers.ftp()) {
        const QString ftp = QStringLiteral("ftp://127.0.0.1:%1/").arg(servers.ftp()->port());
        const Walked ours = crawl(ftp, false);
        const double lftp = runTool("/usr/bin/lftp", {"-c", "open " + ftp + "; find"});
        row("FTP names (pyftpdlib)", ours, lftp, "lftp find");
    }
    if (servers.smb()) {
        const int port = servers.smb()->port();
        const Walked ours = crawl(QStringLiteral("smb://127.0.0.1:%1/mp3/").arg(port), false);
        const double smbclient =
            runTool("/usr/bin/smbclient",
                    {"//127.0.0.1/mp3", "-p", QString::number(port), "-N", "-c", "recurse; ls"});
        row("SMB names (smbd)", ours, smbclient, "smbclient recurse; ls");
    }

    if (large > 0) {
        QTemporaryDir big;
        makeTree(big.path(), large, std::max(1, large / 50));
        LocalServerProcess bigNginx("/usr/sbin/nginx",
                                    NginxConfig(big.path(), "    autoindex on;"));
        if (bigNginx.start().isEmpty()) {
            const double peak = searchdPeak(
                QStringLiteral("http://127.0.0.1:%1/music/").arg(bigNginx.port()), big.path());
            std::printf("peak memory of pellmar-searchd crawling %d files: %.1f MiB (goal < 200)\n",
                        large, peak);
        }
    }
    return 0;
}
