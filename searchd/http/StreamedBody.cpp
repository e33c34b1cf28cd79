#include "searchd/http/StreamedBody.h"

#include <algorithm>
#include <cstring>

void StreamedBody::start() {
    m_thread = std::thread([this, produce = std::move(m_producer)] {
        bool ok = false;
        try {
            ok = produce([this](const char* data, size_t size) { return write(data, size); });
        } catch (const std::exception&) {
            ok = false;
        }
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_failed = !ok;
        m_changed.notify_all();
    });
}

StreamedBody::~StreamedBody() {
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool StreamedBody::write(const char* data, size_t size) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_cancelled || m_buffered < kMaxBuffered; });
    if (m_cancelled)
        return false;
    m_pieces.emplace_back(data, size);
    m_buffered += size;
    m_changed.notify_all();
    return true;
}

ssize_t StreamedBody::take(char* buffer, size_t max, std::chrono::milliseconds stall) {
    if (!m_thread.joinable())
        start();
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, stall, [&] { return !m_pieces.empty() || m_ended; }))
        return -1;
    if (m_pieces.empty())
        return m_failed ? -1 : 0;
    const std::string& front = m_pieces.front();
    const size_t count = std::min(max, front.size() - m_taken);
    std::copy_n(front.data() + m_taken, count, buffer);
    m_taken += count;
    m_buffered -= count;
    if (m_taken == front.size()) {
        m_pieces.pop_front();
        m_taken = 0;
    }
    m_changed.notify_all();
    return static_cast<ssize_t>(count);
}
