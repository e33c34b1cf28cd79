#include "searchd/http/RequestLog.h"

#include "searchd/http/QuietThread.h"

namespace {

// How long the writer waits after a first line for others to come with it.
constexpr std::chrono::milliseconds kGathering{10};

} // namespace

RequestLog::RequestLog(FILE* out, size_t maxPending)
    : m_out(out), m_maxPending(maxPending), m_writer(quietThread([this] { writeLoop(); })) {}

RequestLog::~RequestLog() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

// Wakes the writer only for the first line it has not taken: it takes all that waits at
// once, so a busy service costs it one wake per batch rather than one per line.
void RequestLog::add(const std::string& line) {
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_pending.size() + line.size() > m_maxPending) {
            ++m_leftOut;
            return;
        }
        first = m_pending.empty();
        m_pending += line;
    }
    if (first)
        m_wake.notify_one();
}

void RequestLog::flush() {
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [this] { return m_pending.empty() && m_leftOut == 0 && !m_writing; });
}

// Takes everything waiting at once, a moment after the first line came, and writes it with
// the lock released.
void RequestLog::writeLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_pending.empty() || m_leftOut > 0 || m_ending; });
        if (m_pending.empty() && m_leftOut == 0)
            return; // ending, with nothing left to write
        // The lines of a busy moment go out together: the writer wakes once for them
        // instead of once for each.
        m_wake.wait_for(lock, kGathering, [this] { return m_ending; });
        std::string batch;
        batch.swap(m_pending);
        if (m_leftOut > 0) {
            batch += "pellmar-searchd: " + std::to_string(m_leftOut) +
                     " log lines left out: the log was not read fast enough\n";
            m_leftOut = 0;
        }
        m_writing = true;
        lock.unlock();
        std::fwrite(batch.data(), 1, batch.size(), m_out);
        std::fflush(m_out);
        lock.lock();
        m_writing = false;
        m_written.notify_all();
    }
}
