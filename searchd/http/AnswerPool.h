#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads that work out answers which may wait (on the index, on another server), so the
// threads that move bytes go on serving other connections meanwhile. The queue is bounded:
// a full one refuses more work, and the caller answers "try again" itself.
class AnswerPool {
public:
    AnswerPool(int threads, size_t maxQueued);
    ~AnswerPool(); // stop()
    AnswerPool(const AnswerPool&) = delete;
    AnswerPool& operator=(const AnswerPool&) = delete;

    // False when the queue is full or the pool has stopped; the job then never runs.
    bool post(std::function<void()> job);

    // Runs every job already posted, then ends the threads; later posts are refused.
    void stop();

private:
    void run();

    const size_t m_maxQueued;
    std::mutex m_mutex; // guards the two below
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::condition_variable m_posted;
    std::vector<std::thread> m_threads;
};
