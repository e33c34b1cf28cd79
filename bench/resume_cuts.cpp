// A 200 MiB download through a loopback relay that cuts the connection after every 20 MiB it
// has passed on, by the program's download job (retrying and continuing) against curl
// --retry 10 -C - started again after each cut, from one nginx on 127.0.0.1, in the same run.
//
//   build/bin/resume_cuts [SIZE_MB] [CUT_MB] [ROUNDS]   (defaults 200, 20, 3)
//
// Each round fetches the file with each client through the cutting relay and once through
// the relay without cuts, and checks the result byte for byte. Prints the median times, the
// ratio (ours over curl's) and the time each loses per cut.

#include "download/DownloadJob.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/FreePort.h"
#include "support/LocalServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>

namespace {

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Relays one connection at a time to the upstream port and closes both sides whenever the
// bytes sent downstream since reset() reach the next multiple of cutBytes (0: never).
class CuttingRelay {
public:
    CuttingRelay(unsigned short upstream, qint64 cutBytes)
        : m_upstream(upstream), m_cutBytes(cutBytes) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_port = BindAnyLoopbackPort(m_listen);
        ::listen(m_listen, 8);
        m_thread = std::thread([this] { serve(); });
    }
    ~CuttingRelay() {
        const quint64 one = 1;
        (void)::write(m_stop, &one, sizeof one);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop);
    }
    unsigned short port() const { return m_port; }
    void reset(qint64 cutBytes) {
        m_cutBytes = cutBytes;
        m_sent = 0;
        m_cuts = 0;
    }
    int cuts() const { return m_cuts; }

private:
    void serve() {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
                return;
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(m_upstream);
            if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                relay(client, server);
            ::close(server);
            ::close(client);
        }
    }
    bool pass(int from, int to, qint64 limit, qint64& passed) {
        static thread_local char buffer[256 * 1024];
        const ssize_t count =
            ::recv(from, buffer, size_t(std::min<qint64>(limit, sizeof buffer)), 0);
        if (count <= 0)
            return false;
        for (ssize_t done = 0; done < count;) {
            const ssize_t sent = ::send(to, buffer + done, size_t(count - done), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += sent;
        }
        passed = count;
        return true;
    }
    void relay(int client, int server) {
        for (;;) {
            pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {m_stop, POLLIN, 0}};
            if (::poll(fds, 3, -1) <= 0 || fds[2].revents)
                return;
            qint64 passed = 0;
            if (fds[0].revents && !pass(client, server, 1 << 20, passed))
                return;
            if (!fds[1].revents)
                continue;
            const qint64 cut = m_cutBytes > 0 ? (m_sent / m_cutBytes + 1) * m_cutBytes : -1;
            const qint64 limit = cut > 0 ? cut - m_sent : qint64(1) << 40;
            if (!pass(server, client, limit, passed))
                return;
            m_sent += passed;
            if (m_sent == cut) {
                ++m_cuts;
                return;
            }
        }
    }

    unsigned short m_upstream;
    std::atomic<qint64> m_cutBytes;
    std::atomic<qint64> m_sent{0};
    std::atomic<int> m_cuts{0};
    int m_listen = -1;
    int m_stop = eventfd(0, EFD_CLOEXEC);
    unsigned short m_port = 0;
    std::thread m_thread;
};

struct Bench {
    qint64 size;
    QTemporaryDir documents;
    QTemporaryDir out;
    LocalServerProcess nginx{QStringLiteral("/usr/sbin/nginx"),
                             NginxConfig(documents.path(), QStringLiteral("    sendfile on;"))};
    QString source() const { return documents.filePath(QStringLiteral("big.bin")); }
    QString target() const { return out.filePath(QStringLiteral("big.bin")); }

    // True when the target is the source byte for byte; removes the target.
    bool sameAsSource() const {
        QFile a(source());
        QFile b(target());
        bool same =
            a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.size() == b.size();
        while (same && !a.atEnd())
            same = a.read(1 << 22) == b.read(1 << 22);
        b.close();
        QFile::remove(target());
        return same;
    }

    double ours(const QByteArray& url) {
        SettingsFile ini(out.filePath(QStringLiteral("Pellmar.ini")));
        ini.writeString(QStringLiteral("Options"), QStringLiteral("RetryCount"),
                        QStringLiteral("10"));
        QElapsedTimer clock;
        clock.start();
        DownloadJob job(ini);
        QEventLoop loop;
        QObject::connect(&job, &DownloadJob::ended, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        job.StartTransfer(target(), url);
        loop.exec();
        return double(clock.nsecsElapsed()) / 1e9;
    }

    double curl(const QByteArray& url) {
        QElapsedTimer clock;
        clock.start();
        for (int run = 0; run < 50; ++run) {
            QProcess curl;
            curl.start(QStringLiteral("/usr/bin/curl"),
                       {QStringLiteral("--retry"), QStringLiteral("10"), QStringLiteral("-C"),
                        QStringLiteral("-"), QStringLiteral("-s"), QStringLiteral("-o"), target(),
                        QString::fromLatin1(url)});
            curl.waitForFinished(600000);
            if (curl.exitCode() == 0)
                break;
        }
        return double(clock.nsecsElapsed()) / 1e9;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Bench bench{qint64(args.value(1, QStringLiteral("200")).toInt()) << 20};
    const qint64 cutBytes = qint64(args.value(2, QStringLiteral("20")).toInt()) << 20;
    const int rounds = args.value(3, QStringLiteral("3")).toInt();
    {
        QFile file(bench.source());
        if (!file.open(QIODevice::WriteOnly))
            return std::fprintf(stderr, "cannot write the document\n"), 1;
        const QByteArray block = PatternBytes(1 << 20, 7); // a splice would show
        for (qint64 written = 0; written < bench.size; written += block.size())
            file.write(block.left(int(std::min<qint64>(block.size(), bench.size - written))));
    }
    const QString failure = bench.nginx.start();
    if (!failure.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(failure)), 1;
    CuttingRelay relay(bench.nginx.port(), cutBytes);
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(relay.port()) + "/big.bin";

    QList<double> ours, curl, oursWhole, curlWhole;
    int cuts = 0;
    for (int round = 1; round <= rounds; ++round) {
        const struct {
            QList<double>* times;
            qint64 cut;
            bool ours;
        } runs[] = {{&ours, cutBytes, true},
                    {&curl, cutBytes, false},
                    {&oursWhole, 0, true},
                    {&curlWhole, 0, false}};
        for (const auto& run : runs) {
            relay.reset(run.cut);
            run.times->append(run.ours ? bench.ours(url) : bench.curl(url));
            if (run.cut > 0)
                cuts = relay.cuts();
            if (!bench.sameAsSource())
                return std::fprintf(stderr, "%s came back different\n",
                                    run.ours ? "the download job" : "curl"),
                       1;
        }
        std::fprintf(stderr, "round %d of %d done\n", round, rounds);
    }
    const double o = median(ours), c = median(curl);
    std::printf("%lld MiB through a relay cutting every %lld MiB (%d cuts), %d rounds, median\n",
                bench.size >> 20, cutBytes >> 20, cuts, rounds);
    std::printf("download job:            %6.2f s  (uncut %.2f s)\n", o, median(oursWhole));
    std::printf("curl --retry 10 -C - loop: %4.2f s  (uncut %.2f s)\n", c, median(curlWhole));
    std::printf("ratio job/curl:          %6.2f\n", o / c);
    std::printf("lost per cut: job %.3f s, curl %.3f s\n",
                (o - median(oursWhole)) / std::max(cuts, 1),
                (c - median(curlWhole)) / std::max(cuts, 1));
    return 0;
}
