#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

// The body of a streamed answer (a relayed file): a thread of its own runs the producer,
// which writes the bytes as its source gives them; the server's thread takes them as the
// client can receive them. At most kMaxBuffered bytes wait between the two, so a slow
// client slows the source down instead of filling the memory.
class StreamedBody {
public:
    using Writer = std::function<bool(const char* data, size_t size)>; // false: stop
    using Producer = std::function<bool(const Writer& write)>;         // false: it failed

    static constexpr size_t kMaxBuffered = 1024 * 1024;

    explicit StreamedBody(Producer producer) : m_producer(std::move(producer)) {}
    ~StreamedBody(); // the producer's next write fails; waits for it to return
    StreamedBody(const StreamedBody&) = delete;
    StreamedBody& operator=(const StreamedBody&) = delete;

    // Copies at most max bytes into buffer, waiting for them up to stall: the count, 0 when
    // the body ended whole, -1 when it failed or stalled.
    ssize_t take(char* buffer, size_t max, std::chrono::milliseconds stall);

private:
    void start();
    bool write(const char* data, size_t size);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_pieces;
    size_t m_buffered = 0;
    size_t m_taken = 0; // of the front piece
    bool m_ended = false, m_failed = false, m_cancelled = false;
    Producer m_producer; // started by the first take: a HEAD answer never starts it
    std::thread m_thread;
};
