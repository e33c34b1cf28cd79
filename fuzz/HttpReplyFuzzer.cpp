// Arbitrary bytes as a web server's reply to THttpCli. The first byte chooses how the reply
// is cut into writes and whether the caller aborts half-way. The request must end with
// exactly one OnRequestDone once the server has closed (or the caller has aborted), what
// the client keeps must stay within its limits, and nothing may crash on the way.
//
// Location headers are followed only back to this fuzzer's own port: any other target is
// aborted before the client looks it up, so no name lookup and no connection leaves.
// Leak reports that belong to the C library are suppressed by lsan-suppressions.txt:
//   LSAN_OPTIONS=suppressions=fuzz/lsan-suppressions.txt build-fuzz/bin/fuzz_http_reply
#include "net/HttpCli.h"
#include "net/HttpReply.h"

#include <QBuffer>
#include <QCoreApplication>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_listen = -1;
quint16 g_port = 0;

void Pump(int rounds = 1) {
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Accepts the client's connection; -1 when none comes.
int AcceptClient() {
    pollfd fds{g_listen, POLLIN, 0};
    for (int i = 0; i < 2000; ++i) {
        if (::poll(&fds, 1, 0) > 0)
            return ::accept4(g_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        Pump();
    }
    return -1;
}

// Connections of followed Location headers get closed at once.
void RefuseFurtherConnections() {
    for (;;) {
        const int fd = ::accept4(g_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ::close(fd);
    }
}

void ReadRequest(int fd) {
    QByteArray request;
    char buffer[4096];
    for (int i = 0; i < 2000 && !request.contains("\r\n\r\n"); ++i) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count > 0)
            request.append(buffer, int(count));
        else if (count == 0)
            return;
        Pump();
    }
}

void SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t count = ::send(fd, data, size, MSG_NOSIGNAL);
        if (count < 0 && errno != EAGAIN)
            return; // the client closed (a status of 400 or more)
        if (count > 0) {
            data += count;
            size -= size_t(count);
        }
        Pump();
    }
}

} // namespace

// Everything the client keeps of one request: the header lines of every response it
// followed, and the line being handed on.
bool WithinLimits(const THttpCli& client) {
    qint64 kept = 0;
    for (const QByteArray& line : client.HeaderLines())
        kept += line.size();
    return kept <= qint64(THttpCli::kMaxRelocations + 1) * HttpReply::kMaxHeaderBytes &&
           client.CurrentLine().size() <= THttpCli::kLineBufferSize;
}

// libFuzzer's signature: argc may not be a pointer to const.
// NOLINTNEXTLINE(readability-non-const-parameter)
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    g_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(g_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(g_listen, 64) != 0) {
        std::perror("cannot listen on 127.0.0.1");
        std::abort();
    }
    socklen_t length = sizeof address;
    getsockname(g_listen, reinterpret_cast<sockaddr*>(&address), &length);
    g_port = ntohs(address.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t cut = data[0] & 0x3F ? data[0] & 0x3F : size; // bytes per write
    const bool abortHalfWay = data[0] & 0x40;
    ++data;
    --size;

    THttpCli client;
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    client.SetReceiveStream(&stream);
    client.SetURL("http://127.0.0.1:" + QByteArray::number(g_port) + "/fuzz");
    int done = 0;
    client.OnRequestDone = [&](THttpCli*, THttpRequest, quint16) { ++done; };
    client.OnDocData = [&](THttpCli* c, const char*, int length) {
        if (length < 0 || c->ReceivedCount() < length || !WithinLimits(*c))
            std::abort();
    };
    client.OnHeaderData = [&](THttpCli* c) {
        if (!WithinLimits(*c))
            std::abort();
    };
    const QByteArray ownPort = QByteArray::number(g_port);
    client.OnLocationChange = [&](THttpCli* c) {
        if (c->ConnectHost() != "127.0.0.1" || c->ConnectPort() != ownPort)
            c->Abort();
    };
    client.GetAsync();

    const int fd = AcceptClient();
    if (fd < 0)
        std::abort(); // the connect never arrived
    ReadRequest(fd);
    for (size_t sent = 0; sent < size; sent += cut) {
        SendAll(fd, reinterpret_cast<const char*>(data) + sent, std::min(cut, size - sent));
        if (abortHalfWay && sent >= size / 2) {
            client.Abort();
            break;
        }
    }
    ::close(fd);

    // The close ends the request; a followed Location may still be under way: abort it.
    for (int i = 0; i < 200 && done == 0; ++i) {
        RefuseFurtherConnections();
        Pump();
    }
    if (done == 0)
        client.Abort();
    for (int i = 0; i < 2000 && done == 0; ++i) {
        RefuseFurtherConnections();
        Pump();
    }
    if (done != 1)
        std::abort(); // a request that never ended
    Pump(3);
    if (done != 1)
        std::abort(); // a second OnRequestDone
    return 0;
}
