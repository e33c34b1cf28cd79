// Header probes of a large search: COUNT links on the local search service probed at once by
// HeaderProbes, from the first start to the last end, against curl --parallel fetching the
// first 4 kB of the same files in the same run. Prints the median of the runs, the ratio and
// the peak memory of both.
//
//   probe_run [COUNT] [RUNS]
#include "download/HeaderProbes.h"
#include "platform/ResourceLimits.h"
#include "platform/SettingsFile.h"
#include "searchd/http/QueryText.h"
#include "searchd/library/SampleLibrary.h"
#include "support/FreePort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct ProbeFigures {
    double ms = 0;
    double startMs = 0; // spent inside StartHeaderProbe
    int kept = 0;
};

ProbeFigures probeAll(const QString& home, const QList<QByteArray>& urls) {
    const SettingsFile ini(home + QStringLiteral("/Pellmar.ini"));
    QEventLoop loop;
    ProbeFigures figures;
    HeaderProbes::Hooks hooks;
    hooks.isListed = [](const QByteArray&) { return false; };
    hooks.accepted = [&figures](const ProbedHit&) { ++figures.kept; };
    hooks.lastProbeEnded = [&loop] { loop.quit(); };
    hooks.error = [](const QString&) {};
    HeaderProbes probes(ini, home, hooks,
                        [](int range) { return QRandomGenerator::global()->bounded(range); });
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < urls.size(); ++i)
        probes.StartHeaderProbe(urls[i], "Song " + QByteArray::number(i));
    figures.startMs = clock.nsecsElapsed() / 1e6;
    loop.exec();
    figures.ms = clock.nsecsElapsed() / 1e6;
    return figures;
}

// curl's wall time in ms and its peak memory in kB (from GNU time).
std::pair<double, long> curlAll(const QString& work, const QList<QByteArray>& urls) {
    QFile config(work + QStringLiteral("/curl.conf"));
    config.open(QIODevice::WriteOnly);
    for (const QByteArray& url : urls)
        config.write("url = \"" + url + "\"\noutput = \"/dev/null\"\n");
    config.close();
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("/usr/bin/time"),
               {"-f", "%M", "curl", "-s", "--http1.0", "--parallel", "--parallel-max",
                QString::number(urls.size()), "-r", "0-4095", "-K", config.fileName()});
    curl.waitForFinished(600000);
    const double ms = clock.nsecsElapsed() / 1e6;
    const QList<QByteArray> lines = curl.readAllStandardError().trimmed().split('\n');
    return {ms, lines.last().toLong()};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool waitForPort(int port) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (AcceptsConnections((unsigned short)(port)))
            return true;
        QThread::msleep(50);
    }
    return false;
}

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;

    QTemporaryDir work;
    const QString library = work.filePath(QStringLiteral("lib"));
    SampleLibrary::write(library, count);
    // The service runs as its own process, so that only the probes count in our memory.
    const int port = int(FreeLoopbackPort());
    QProcess service;
    service.setStandardOutputFile(QProcess::nullDevice()); // one log line per request
    service.start(QStringLiteral(PELLMAR_SEARCHD_BINARY),
                  {"--library", library, "--port", QString::number(port), "--db",
                   work.filePath(QStringLiteral("searchd.db"))});
    if (!waitForPort(port)) {
        std::fprintf(stderr, "pellmar-searchd did not come up\n");
        return 1;
    }
    const QByteArray base = "http://127.0.0.1:" + QByteArray::number(port);

    QList<QByteArray> urls;
    for (const auto& file : SampleLibrary::plan(count))
        urls.append(base + "/files/" + QueryText::encodePath(file.path));

    const long before = peakKb();
    std::vector<double> ours, starts, theirs;
    long curlPeak = 0;
    int kept = 0;
    for (int run = 0; run < runs; ++run) {
        const ProbeFigures figures = probeAll(work.path(), urls);
        ours.push_back(figures.ms);
        starts.push_back(figures.startMs);
        kept = figures.kept;
        const auto [ms, peak] = curlAll(work.path(), urls);
        theirs.push_back(ms);
        curlPeak = std::max(curlPeak, peak);
        QDir(work.filePath(QStringLiteral("temp"))).removeRecursively();
    }
    service.terminate();
    service.waitForFinished(5000);

    std::printf("%d links, %d runs; kept %d hits\n", count, runs, kept);
    std::printf("HeaderProbes   median %8.1f ms   peak memory grew %ld kB over %ld kB\n",
                median(ours), peakKb() - before, before);
    std::printf("  of which starting the probes %8.1f ms\n", median(starts));
    std::printf("curl --parallel median %8.1f ms   peak memory %ld kB\n", median(theirs), curlPeak);
    std::printf("ratio HeaderProbes / curl: %.2f\n", median(ours) / median(theirs));
    return 0;
}
