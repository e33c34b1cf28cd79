#include "net/HttpLineBuffer.h"

#include <algorithm>
#include <cstring>

THttpLineBuffer::THttpLineBuffer(int capacity)
    : m_bytes(capacity + 1, '\0'), m_capacity(capacity) {}

void THttpLineBuffer::Added(int count) {
    m_fill = std::clamp(m_fill + count, 0, m_capacity);
}

int THttpLineBuffer::Append(const char* data, int size) {
    const int count = std::min(size, FreeSize());
    if (count > 0)
        std::memcpy(FreeSpace(), data, size_t(count));
    Added(count);
    return count;
}

HttpReply::LineStatus THttpLineBuffer::TakeLine(QByteArray& line) {
    const HttpReply::LineCut cut = HttpReply::NextLine(m_bytes.constData(), m_fill, m_capacity);
    if (cut.status != HttpReply::LineStatus::Line)
        return cut.status;
    line = QByteArray(m_bytes.constData(), cut.length);
    m_fill -= cut.consumed;
    std::memmove(m_bytes.data(), m_bytes.constData() + cut.consumed, size_t(m_fill));
    return cut.status;
}

QByteArray THttpLineBuffer::TakeAll() {
    QByteArray all(m_bytes.constData(), m_fill);
    m_fill = 0;
    return all;
}
