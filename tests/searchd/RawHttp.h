#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// A plain HTTP/1.0 exchange over a loopback socket, the way the program talks: send the
// request bytes, read until the server closes.
struct RawResponse {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QByteArray raw;
};

// A connected loopback socket, or -1. A receive limit (in seconds) makes a server that
// never answers fail a test instead of hanging it.
inline int connectLoopback(int port, int receiveLimitSeconds = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval limit{receiveLimitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// What the server sends until it closes the connection (or the receive limit passes).
inline QByteArray readToClose(int fd) {
    QByteArray received;
    char buffer[16384];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, n);
    return received;
}

inline QByteArray sendRaw(int port, const QByteArray& request, int receiveLimitSeconds = 0) {
    const int fd = connectLoopback(port, receiveLimitSeconds);
    QByteArray received;
    if (fd >= 0) {
        for (qsizetype sent = 0; sent < request.size();) {
            const ssize_t n = ::send(fd, request.constData() + sent,
                                     static_cast<size_t>(request.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        received = readToClose(fd);
        ::close(fd);
    }
    return received;
}

inline RawResponse parseResponse(const QByteArray& raw) {
    RawResponse response;
    response.raw = raw;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = raw.left(end < 0 ? raw.size() : end).split('\n');
    if (!lines.isEmpty() && lines[0].size() >= 12)
        response.status = lines[0].mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.insert(lines[i].left(colon).toLower(),
                                    lines[i].mid(colon + 1).trimmed());
    }
    if (end >= 0)
        response.body = raw.mid(end + 4);
    return response;
}

// GET target HTTP/1.0 with extra header lines (each ending in CR LF).
inline RawResponse httpGet(int port, const QByteArray& target, const QByteArray& headers = {},
                           const QByteArray& method = "GET") {
    return parseResponse(sendRaw(port, method + ' ' + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                                           headers + "\r\n"));
}
