#include "net/Buffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size) : m_data(size > 0 ? size : kDefaultSize) {}

int TBuffer::Write(const char* data, int length) {
    const int count = std::clamp(BufSize() - m_written, 0, std::max(length, 0));
    if (count > 0)
        std::memcpy(m_data.data() + m_written, data, size_t(count));
    m_written += count;
    return count;
}

int TBuffer::Peek(const char*& data) const {
    data = m_data.data() + m_read;
    return m_written - m_read;
}

void TBuffer::Remove(int count) {
    m_read = std::min(m_read + std::max(count, 0), m_written);
    if (m_read == m_written)
        m_read = m_written = 0;
}

void TBuffer::SetBufSize(int size) {
    m_data.resize(size_t(size > 0 ? size : kDefaultSize));
    m_written = std::min(m_written, BufSize());
    m_read = std::min(m_read, m_written);
}
