#pragma once

#include <vector>

// One chunk of a socket's send queue: a fixed-capacity byte array with a write count and
// a read count. When everything written has been read, both counts return to 0 so the
// chunk can be filled again.
class TBuffer {
public:
    static constexpr int kDefaultSize = 1514;

    // A size of 0 or less means the default size.
    explicit TBuffer(int size = kDefaultSize);

    // Appends as many bytes as still fit; returns that number.
    int Write(const char* data, int length);
    // The unread bytes: their start in data, their number as the result.
    int Peek(const char*& data) const;
    // Marks count unread bytes as read.
    void Remove(int count);

    int BufSize() const { return int(m_data.size()); }
    // Keeps the written bytes that still fit.
    void SetBufSize(int size);

private:
    std::vector<char> m_data;
    int m_written = 0;
    int m_read = 0;
};
