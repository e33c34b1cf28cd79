// Ten simultaneous downloads through the program's own download jobs against curl --parallel,
// in the same run, from one nginx on 127.0.0.1.
//
//   build/bin/download_jobs [FILES] [SIZE_MB] [ROUNDS] [--tls]   (defaults 10, 100, 3)
//
// With --tls, over HTTPS: a test CA made with openssl, trusted through the option "CaFile"
// and by curl --cacert; nginx offers TLS 1.3 with TLS_AES_128_GCM_SHA256 only, so both
// clients use that cipher suite.
//
// Each round fetches FILES files of SIZE_MB MiB with each client, alternating, into a
// temporary folder, and checks every size. Prints the median wall time and throughput of
// both, their ratio (curl's time over ours), and the CPU time each spent.

#include "download/DownloadJob.h"
#include "download/DownloadQueue.h"
#include "platform/SettingsFile.h"
#include "support/LocalServerProcess.h"
#include "support/TestCertificates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char kCipher[] = "TLS_AES_128_GCM_SHA256";

LocalServerProcess::Configure ServerConfig(const QString& root, const TestCertificates* tls) {
    if (!tls)
        return NginxConfig(root, QStringLiteral("    sendfile on;"));
    return NginxConfig(root,
                       QStringLiteral("    ssl_certificate %1; ssl_certificate_key %2;\n"
                                      "    ssl_protocols TLSv1.3;\n"
                                      "    ssl_conf_command Ciphersuites %3;")
                           .arg(tls->path(QStringLiteral("server.pem")),
                                tls->path(QStringLiteral("server.key")),
                                QString::fromLatin1(kCipher)),
                       QStringLiteral("ssl"));
}

struct Bench {
    int files;
    qint64 size;
    const TestCertificates* tls; // none: plain http
    QTemporaryDir documents;
    QTemporaryDir out;
    LocalServerProcess nginx{QStringLiteral("/usr/sbin/nginx"),
                             ServerConfig(documents.path(), tls)};

    QByteArray url(int i) const {
        return (tls ? "https" : "http") + QByteArray("://127.0.0.1:") +
               QByteArray::number(nginx.port()) + "/f" + QByteArray::number(i) + ".bin";
    }
    QString target(int i) const { return out.filePath(QStringLiteral("f%1.bin").arg(i)); }
    bool allThere() const {
        for (int i = 0; i < files; ++i) {
            if (QFile(target(i)).size() != size)
                return false;
            QFile::remove(target(i));
        }
        return true;
    }

    // Wall seconds for our download jobs; adds the CPU seconds to cpu.
    double ours(double& cpu) {
        SettingsFile ini(out.filePath(QStringLiteral("Pellmar.ini")));
        if (tls)
            ini.writeString(QStringLiteral("Options"), QStringLiteral("CaFile"), tls->caFile());
        DownloadQueue queue(ini);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        int ended = 0;
        for (int i = 0; i < files; ++i) {
            DownloadJob* job = queue.StartDownload(target(i), url(i));
            QObject::connect(job, &DownloadJob::ended, &loop, [&] {
                if (++ended == files)
                    loop.quit();
            });
        }
        loop.exec();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        cpu += cpuSeconds() - cpuBefore;
        return seconds;
    }

    double curl(double& cpu) {
        QStringList args{QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                         QString::number(files), QStringLiteral("-s")};
        if (tls)
            args << QStringLiteral("--cacert") << tls->caFile() << QStringLiteral("--tls13-ciphers")
                 << QString::fromLatin1(kCipher);
        for (int i = 0; i < files; ++i)
            args << QStringLiteral("-o") << target(i) << QString::fromLatin1(url(i));
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.start(QStringLiteral("/usr/bin/curl"), args);
        curl.waitForFinished(600000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        cpu += cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        return seconds;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    TestCertificates certificates;
    const bool tls = args.removeAll(QStringLiteral("--tls")) > 0;
    if (tls) {
        const QString problem = certificates.make();
        if (!problem.isEmpty())
            return std::fprintf(stderr, "%s\n", qPrintable(problem)), 1;
    }
    Bench bench{args.value(1, QStringLiteral("10")).toInt(),
                qint64(args.value(2, QStringLiteral("100")).toInt()) << 20,
                tls ? &certificates : nullptr};
    const int rounds = args.value(3, QStringLiteral("3")).toInt();
    for (int i = 0; i < bench.files; ++i) {
        QFile file(bench.documents.filePath(QStringLiteral("f%1.bin").arg(i)));
        if (!file.open(QIODevice::WriteOnly) || !file.resize(bench.size))
            return std::fprintf(stderr, "cannot write the documents\n"), 1;
    }
    const QString failure = bench.nginx.start();
    if (!failure.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(failure)), 1;

    QList<double> ours;
    QList<double> curl;
    double cpu = 0;
    double curlCpu = 0;
    for (int round = 1; round <= rounds; ++round) {
        ours.append(bench.ours(cpu));
        if (!bench.allThere())
            return std::fprintf(stderr, "a download job came back short\n"), 1;
        curl.append(bench.curl(curlCpu));
        if (!bench.allThere())
            return std::fprintf(stderr, "curl came back short\n"), 1;
        std::fprintf(stderr, "round %d of %d done\n", round, rounds);
    }
    const double total = double(bench.files) * double(bench.size) / double(1 << 20);
    const double oursS = median(ours);
    const double curlS = median(curl);
    std::printf("%d files of %lld MiB at once from nginx on 127.0.0.1%s, %d rounds, median\n",
                bench.files, bench.size >> 20, tls ? " over TLS 1.3 TLS_AES_128_GCM_SHA256" : "",
                rounds);
    std::printf("download jobs:   %8.1f MiB/s  (%.2f s)  CPU %.2f s per round\n", total / oursS,
                oursS, cpu / rounds);
    std::printf("curl --parallel: %8.1f MiB/s  (%.2f s)  CPU %.2f s per round\n", total / curlS,
                curlS, curlCpu / rounds);
    std::printf("ratio jobs/curl: %.2f\n", curlS / oursS);
    return 0;
}
