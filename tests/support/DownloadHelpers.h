#pragma once

#include <QByteArray>
#include <algorithm>

// Bytes that differ from position to position and from seed to seed, so that a shifted,
// repeated or mixed-up chunk shows in a comparison.
inline QByteArray PatternBytes(qsizetype size, unsigned seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

// A 200 reply with the body; announced < 0 sends no Content-Length line.
inline QByteArray OkReply(const QByteArray& body, qint64 announced, const QByteArray& type) {
    QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n";
    if (announced >= 0)
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    return head + "\r\n" + body;
}

// What a server that takes ranges answers to the request with body: a 206 for
// "Range: bytes=A-" or "bytes=A-B", else a 200 with the whole of it.
inline QByteArray RangedReply(const QByteArray& request, const QByteArray& body) {
    const qsizetype at = request.indexOf("\r\nRange: bytes=");
    if (at < 0)
        return OkReply(body, body.size(), "audio/mpeg");
    const qsizetype from = at + 15;
    const qsizetype dash = request.indexOf('-', from);
    const QByteArray lastText = request.mid(dash + 1, request.indexOf("\r\n", dash) - dash - 1);
    const qint64 first = request.mid(from, dash - from).toLongLong();
    const qint64 last = lastText.isEmpty()
                            ? body.size() - 1
                            : std::min<qint64>(lastText.toLongLong(), body.size() - 1);
    return "HTTP/1.0 206 Partial Content\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
           QByteArray::number(last - first + 1) + "\r\nContent-Range: bytes " +
           QByteArray::number(first) + '-' + QByteArray::number(last) + '/' +
           QByteArray::number(body.size()) + "\r\n\r\n" + body.mid(first, last - first + 1);
}
