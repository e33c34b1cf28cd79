// How long a normal request to the search service waits while 2000 silent clients and 40
// slow ones (a byte of an endless header every 2 s) hold connections, against nginx serving
// the same files under the same load. Closed connections are opened again at once, as a
// determined client would. The service runs as its own process.
//
//   searchd_slow_clients [REQUESTS] [SILENT] [SLOW] [SEARCHD-BINARY]
#include "platform/ResourceLimits.h"
#include "searchd/http/QueryText.h"
#include "searchd/library/SampleLibrary.h"
#include "support/LocalServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <sys/time.h>
#include <thread>
#include <vector>

namespace {

int connectTo(unsigned short port, int receiveLimitSeconds = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{receiveLimitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Holds silent and slow connections on a thread of its own until destroyed.
class Pressure {
public:
    Pressure(unsigned short port, int silent, int slow) : m_port(port), m_slowCount(slow) {
        for (int i = 0; i < silent + slow; ++i)
            m_fds.push_back(connectTo(port));
        m_thread = std::thread([this] { hold(); });
    }
    ~Pressure() {
        m_stop = true;
        m_thread.join();
        for (const int fd : m_fds)
            ::close(fd);
    }
    int reopened() const { return m_reopened; }

private:
    void hold() {
        const QByteArray header = "GET / HTTP/1.0\r\nX-Slow: ";
        std::vector<size_t> sent(m_fds.size(), 0);
        QElapsedTimer sinceByte;
        sinceByte.start();
        while (!m_stop) {
            std::vector<pollfd> polls;
            for (const int fd : m_fds)
                polls.push_back({fd, POLLIN, 0});
            ::poll(polls.data(), polls.size(), 100);
            const bool byteDue = sinceByte.elapsed() >= 2000;
            if (byteDue)
                sinceByte.restart();
            for (size_t i = 0; i < m_fds.size(); ++i) {
                char buffer[4096];
                const bool closed =
                    m_fds[i] < 0 || (polls[i].revents != 0 &&
                                     ::recv(m_fds[i], buffer, sizeof buffer, MSG_DONTWAIT) <= 0);
                if (closed) { // an answer or a close: come back at once
                    ::close(m_fds[i]);
                    m_fds[i] = connectTo(m_port);
                    sent[i] = 0;
                    ++m_reopened;
                }
                const bool slow = i >= m_fds.size() - size_t(m_slowCount);
                if (slow && byteDue && m_fds[i] >= 0) {
                    const char byte = sent[i] < size_t(header.size()) ? header[sent[i]] : 'a';
                    ::send(m_fds[i], &byte, 1, MSG_NOSIGNAL);
                    ++sent[i];
                }
            }
        }
    }

    unsigned short m_port;
    int m_slowCount;
    std::vector<int> m_fds;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_reopened = 0;
};

struct Figures {
    double medianMs = 0, p95Ms = 0, worstMs = 0;
    int failed = 0;
};

// Normal requests one after another, each given a minute at most.
Figures measure(unsigned short port, const QByteArray& target, int requests) {
    std::vector<double> ms;
    Figures figures;
    for (int i = 0; i < requests; ++i) {
        QElapsedTimer clock;
        clock.start();
        const int fd = connectTo(port, 60);
        const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        QByteArray answer;
        if (fd >= 0 && ::send(fd, request.constData(), request.size(), MSG_NOSIGNAL) > 0) {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, n);
        }
        ::close(fd);
        ms.push_back(clock.nsecsElapsed() / 1e6);
        figures.failed += !answer.startsWith("HTTP/1.1 200");
        QThread::msleep(200);
    }
    std::sort(ms.begin(), ms.end());
    figures.medianMs = ms[ms.size() / 2];
    figures.p95Ms = ms[ms.size() * 95 / 100];
    figures.worstMs = ms.back();
    return figures;
}

void print(const char* who, const char* load, const Figures& f) {
    std::printf("%-16s %-22s %10.1f %9.1f %10.1f %7d\n", who, load, f.medianMs, f.p95Ms, f.worstMs,
                f.failed);
    std::fflush(stdout);
}

// Runs the measurement without and with the load.
Figures compare(const char* who, unsigned short port, const QByteArray& target, int requests,
                int silent, int slow) {
    print(who, "no other clients", measure(port, target, 5));
    Pressure pressure(port, silent, slow);
    QThread::msleep(1000); // the load settles
    const Figures loaded = measure(port, target, requests);
    print(who, qPrintable(QStringLiteral("%1 silent, %2 slow").arg(silent).arg(slow)), loaded);
    std::printf("%-16s %d connections opened again after a close\n", "", pressure.reopened());
    return loaded;
}

LocalServerProcess::Configure nginxFor(const QString& library) {
    return [library](const QString& folder, unsigned short port) {
        QFile conf(folder + "/nginx.conf");
        conf.open(QIODevice::WriteOnly);
        conf.write(
            QStringLiteral("%1daemon off; master_process off; worker_processes 1;\n"
                           "pid %2/nginx.pid; error_log %2/error.log;\n"
                           "events { worker_connections 8192; }\n"
                           "http { access_log off; client_body_temp_path %2/b;\n"
                           "proxy_temp_path %2/p; fastcgi_temp_path %2/f;\n"
                           "uwsgi_temp_path %2/u; scgi_temp_path %2/s;\n"
                           "server { listen 127.0.0.1:%3 backlog=4096;\n"
                           "location /files/ { alias %4/; } } }\n")
                .arg(geteuid() == 0 ? "user root; " : "", folder, QString::number(port), library)
                .toUtf8());
        return QStringList{"-c", conf.fileName(), "-p", folder};
    };
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    const int requests = argc > 1 ? std::atoi(argv[1]) : 40;
    const int silent = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int slow = argc > 3 ? std::atoi(argv[3]) : 40;
    const QString binary =
        argc > 4 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral(PELLMAR_SEARCHD_BINARY);

    QTemporaryDir work;
    const QString library = work.filePath("lib");
    SampleLibrary::write(library, 20);
    const QByteArray target = "/files/" + QueryText::encodePath(SampleLibrary::plan(20)[3].path);
    std::printf("GET %s, %d times, while %d silent and %d slow clients hold connections\n",
                target.constData(), requests, silent, slow);
    std::printf("%-16s %-22s %10s %9s %10s %7s\n", "server", "load", "median ms", "p95 ms",
                "worst ms", "failed");

    const unsigned short port = FreeLoopbackPort();
    QProcess service;
    service.setStandardOutputFile(QProcess::nullDevice()); // one log line per request
    service.start(binary, {"--library", library, "--port", QString::number(port), "--db",
                           work.filePath("searchd.db")});
    for (int i = 0; i < 200 && !AcceptsConnections(port); ++i)
        QThread::msleep(50);
    const Figures ours = compare("pellmar-searchd", port, target, requests, silent, slow);
    service.terminate();
    service.waitForFinished(30000);

    LocalServerProcess nginx(QStringLiteral("/usr/sbin/nginx"), nginxFor(library));
    const QString problem = nginx.start();
    if (!problem.isEmpty()) {
        std::printf("no peer figures: %s\n", qPrintable(problem));
        return ours.failed == 0 ? 0 : 1;
    }
    const Figures peer = compare("nginx", nginx.port(), target, requests, silent, slow);
    std::printf("worst-case ratio pellmar-searchd / nginx under load: %.2f\n",
                ours.worstMs / peer.worstMs);
    return ours.failed == 0 ? 0 : 1;
}
