#pragma once

#include <QByteArray>

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
