#pragma once

#include "net/HttpReply.h"

#include <QByteArray>

// The client's buffer for the reply header: the socket reads into its free space, complete
// lines are taken from its front, and what follows the header is taken whole. It never
// holds more than its capacity, whatever the server sends.
class THttpLineBuffer {
public:
    explicit THttpLineBuffer(int capacity = HttpReply::kMaxLineLength);

    char* FreeSpace() { return m_bytes.data() + m_fill; }
    int FreeSize() const { return m_capacity - m_fill; }
    // The socket wrote count bytes into FreeSpace().
    void Added(int count);
    // Copies what fits; returns the count taken.
    int Append(const char* data, int size);

    // Moves the first line (without its CR LF) into line; NeedMore leaves everything as it
    // is, TooLong when the buffer is full without a line feed.
    HttpReply::LineStatus TakeLine(QByteArray& line);
    QByteArray TakeAll();
    void Clear() { m_fill = 0; }
    int Fill() const { return m_fill; }

private:
    QByteArray m_bytes;
    int m_capacity;
    int m_fill = 0;
};
