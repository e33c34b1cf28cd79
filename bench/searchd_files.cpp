// File requests to the search service, against nginx serving the same folder as the peer
// (when Debian's nginx is installed), in two loads: REQUESTS GETs of FILES sample files all
// at once, and REQUESTS GETs of one 150 KB file, 100 at a time.
//
//   searchd_files [REQUESTS] [FILES]
#include "platform/ResourceLimits.h"
#include "searchd/SearchService.h"
#include "searchd/http/QueryText.h"
#include "searchd/library/SampleLibrary.h"
#include "support/FreePort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Request {
    QByteArray target;
    qint64 expectedSize = 0;
};

struct Connection {
    int fd = -1;
    QByteArray out;
    QByteArray in;       // what has come, up to the end of the header
    qint64 received = 0; // every byte, header and body
    qint64 startNs = 0;
    qint64 doneNs = 0;
};

struct LoadResult {
    double wallMs = 0, medianMs = 0, p95Ms = 0, worstMs = 0, megabytes = 0;
    double serverCpuMs = 0; // the server's processor time for the load
    int failed = 0;
};

double milliseconds(const timeval& t) {
    return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}

// Processor time of the service's threads: the process's less the calling (client) thread's.
double serviceCpuMs() {
    rusage process{}, thread{};
    getrusage(RUSAGE_SELF, &process);
    getrusage(RUSAGE_THREAD, &thread);
    return milliseconds(process.ru_utime) + milliseconds(process.ru_stime) -
           milliseconds(thread.ru_utime) - milliseconds(thread.ru_stime);
}

// Processor time of another process, from /proc (in clock ticks).
double processCpuMs(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

int openConnection(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Non-blocking: the connect goes on after the call, and the first poll tells how it went.
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

bool complete(const Connection& c, qint64 expectedSize) {
    const qsizetype end = c.in.indexOf("\r\n\r\n");
    return c.in.startsWith("HTTP/1.1 200") && end > 0 && c.received - end - 4 == expectedSize &&
           c.in.left(end).contains("Content-Length: " + QByteArray::number(expectedSize));
}

// The requests with at most atOnce under way (0: all at once), one connection each,
// HTTP/1.0 as the program sends them.
LoadResult load(int port, const QList<Request>& requests, size_t atOnce = 0) {
    QElapsedTimer clock;
    clock.start();
    std::vector<Connection> connections(requests.size());
    std::vector<pollfd> polls(requests.size(), pollfd{-1, 0, 0});
    size_t started = 0;
    auto startNext = [&] {
        const size_t i = started++;
        connections[i].fd = openConnection(port);
        connections[i].out = "GET " + requests[i].target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        connections[i].startNs = clock.nsecsElapsed();
        polls[i] = {connections[i].fd, POLLOUT | POLLIN, 0};
    };
    const size_t first = atOnce == 0 ? connections.size() : std::min(atOnce, connections.size());
    while (started < first)
        startNext();
    size_t open = connections.size();
    char buffer[65536];
    while (open > 0) {
        ::poll(polls.data(), polls.size(), 10000);
        for (size_t i = 0; i < polls.size(); ++i) {
            Connection& c = connections[i];
            if (polls[i].fd < 0 || polls[i].revents == 0)
                continue;
            if ((polls[i].revents & POLLOUT) && !c.out.isEmpty()) {
                const ssize_t n = ::send(c.fd, c.out.constData(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0)
                    c.out.remove(0, n);
                if (c.out.isEmpty())
                    polls[i].events = POLLIN;
            }
            if (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    // The body is only counted: keeping it would make the client, not
                    // the server, what the figures measure.
                    if (c.in.size() < 4096 && !c.in.contains("\r\n\r\n"))
                        c.in.append(buffer, std::min<ssize_t>(n, 4096));
                    c.received += n;
                } else if (n == 0 || errno != EAGAIN) {
                    c.doneNs = clock.nsecsElapsed();
                    ::close(c.fd);
                    polls[i].fd = -1;
                    --open;
                    if (started < connections.size())
                        startNext();
                }
            }
        }
    }
    LoadResult result;
    result.wallMs = clock.nsecsElapsed() / 1e6;
    std::vector<double> ms;
    for (size_t i = 0; i < connections.size(); ++i) {
        ms.push_back((connections[i].doneNs - connections[i].startNs) / 1e6);
        result.megabytes += connections[i].received / 1e6;
        result.failed += !complete(connections[i], requests[i].expectedSize);
    }
    std::sort(ms.begin(), ms.end());
    result.medianMs = ms[ms.size() / 2];
    result.p95Ms = ms[ms.size() * 95 / 100];
    result.worstMs = ms.back();
    return result;
}

void print(const char* who, const LoadResult& r) {
    std::printf("%-16s %9.1f %10.1f %9.1f %10.1f %9.1f %7d %7.0f\n", who, r.wallMs, r.medianMs,
                r.p95Ms, r.worstMs, r.megabytes / (r.wallMs / 1000.0), r.failed, r.serverCpuMs);
}

// nginx serving the library on a free port; nothing when it is not installed.
std::unique_ptr<QProcess> startNginx(const QTemporaryDir& work, const QString& root, int port) {
    if (!QFile::exists("/usr/sbin/nginx"))
        return nullptr;
    QFile conf(work.filePath("nginx.conf"));
    conf.open(QIODevice::WriteOnly);
    const QString w = work.path();
    conf.write(QStringLiteral("%1daemon off; master_process off; worker_processes 1;\n"
                              "pid %2/nginx.pid; error_log %2/error.log;\n"
                              "events { worker_connections 4096; }\n"
                              "http { access_log off; sendfile on; client_body_temp_path %2/b;\n"
                              "proxy_temp_path %2/p; fastcgi_temp_path %2/f; uwsgi_temp_path "
                              "%2/u; scgi_temp_path %2/s;\n"
                              "server { listen 127.0.0.1:%3 backlog=1024; location /files/ { "
                              "alias %4/; } } }\n")
                   .arg(getuid() == 0 ? "user root; " : "", w, QString::number(port), root)
                   .toUtf8());
    conf.close();
    auto nginx = std::make_unique<QProcess>();
    nginx->start("/usr/sbin/nginx", {"-c", conf.fileName(), "-p", w});
    for (int i = 0; i < 100; ++i) {
        const int fd = openConnection(port);
        pollfd p{fd, POLLOUT, 0};
        const bool up = ::poll(&p, 1, 100) == 1 && !(p.revents & (POLLERR | POLLHUP));
        ::close(fd);
        if (up)
            return nginx;
        QThread::msleep(50);
    }
    return nullptr;
}

// The round with the median wall time.
LoadResult median(std::vector<LoadResult> rounds) {
    std::sort(rounds.begin(), rounds.end(),
              [](const LoadResult& a, const LoadResult& b) { return a.wallMs < b.wallMs; });
    return rounds[rounds.size() / 2];
}

double medianCpu(const std::vector<LoadResult>& rounds) {
    std::vector<double> cpu;
    cpu.reserve(rounds.size());
    for (const LoadResult& round : rounds)
        cpu.push_back(round.serverCpuMs);
    std::sort(cpu.begin(), cpu.end());
    return cpu[cpu.size() / 2];
}

// The load against the service and against nginx from the same folder, in turns, five
// rounds each, so that a busy moment of the machine falls on both; the median rounds.
void compare(const char* title, const QTemporaryDir& work, const QString& library,
             const QList<Request>& requests, size_t atOnce, bool& failed) {
    constexpr int kRounds = 5;
    std::printf("\n%s, median of %d rounds\n", title, kRounds);
    ServiceSettings settings;
    settings.library = library;
    settings.database = work.filePath("searchd.db");
    settings.port = 0;
    settings.logRequests = false;
    SearchService service(settings);
    const int port = service.bind();
    std::thread server([&] { service.run(); });
    const int nginxPort = int(FreeLoopbackPort());
    const auto nginx = startNginx(work, library, nginxPort);

    std::vector<LoadResult> ours, peer;
    load(port, requests.mid(0, 50), atOnce); // warm up
    if (nginx)
        load(nginxPort, requests.mid(0, 50), atOnce);
    for (int round = 0; round < kRounds; ++round) {
        const double cpuBefore = serviceCpuMs();
        ours.push_back(load(port, requests, atOnce));
        ours.back().serverCpuMs = serviceCpuMs() - cpuBefore;
        failed = failed || ours.back().failed != 0;
        if (nginx) {
            const double peerBefore = processCpuMs(nginx->processId());
            peer.push_back(load(nginxPort, requests, atOnce));
            peer.back().serverCpuMs = processCpuMs(nginx->processId()) - peerBefore;
        }
    }
    service.stop();
    server.join();

    std::printf("%-16s %9s %10s %9s %10s %9s %7s %7s\n", "server", "wall ms", "median ms", "p95 ms",
                "worst ms", "MB/s", "failed", "cpu ms");
    print("pellmar-searchd", median(ours));
    if (!nginx) {
        std::printf("nginx not found or not starting: no peer figures\n");
        return;
    }
    print("nginx", median(peer));
    std::printf("wall time ratio pellmar-searchd / nginx: %.2f\n",
                median(ours).wallMs / median(peer).wallMs);
    std::printf("server processor time ratio (medians): %.2f\n",
                medianCpu(ours) / std::max(1.0, medianCpu(peer)));
    nginx->terminate();
    nginx->waitForFinished(5000);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int files = argc > 2 ? std::atoi(argv[2]) : 200;

    QTemporaryDir work;
    const QString library = work.filePath("lib");
    SampleLibrary::write(library, files);
    const QList<SampleLibrary::SampleFile> plan = SampleLibrary::plan(files);
    QList<Request> requests;
    qint64 total = 0;
    for (int i = 0; i < count; ++i) {
        const auto& file = plan[(i * 7919) % plan.size()];
        requests.append({"/files/" + QueryText::encodePath(file.path), file.size});
        total += file.size;
    }
    bool failed = false;
    const QByteArray all = QStringLiteral("%1 GETs of %2 sample files (%3 MB in all), all at once")
                               .arg(count)
                               .arg(files)
                               .arg(total / 1e6, 0, 'f', 1)
                               .toUtf8();
    compare(all.constData(), work, library, requests, 0, failed);

    // One file of 150 KB, fetched again and again by 100 clients at a time.
    const qint64 oneSize = 150 * 1024;
    QFile one(library + "/Solo - Wide.mp3");
    one.open(QIODevice::WriteOnly);
    one.write(QByteArray(oneSize, '\xAA'));
    one.close();
    const QList<Request> same(count, Request{"/files/Solo%20-%20Wide.mp3", oneSize});
    const QByteArray title =
        QStringLiteral("%1 GETs of one 150 KB file, 100 at a time").arg(count).toUtf8();
    compare(title.constData(), work, library, same, 100, failed);
    return failed ? 1 : 0;
}
