#include "searchd/http/AnswerPool.h"

#include "searchd/http/QuietThread.h"

#include <algorithm>

AnswerPool::AnswerPool(int threads, size_t maxQueued)
    : m_maxQueued(std::max<size_t>(1, maxQueued)) {
    for (int i = 0; i < std::max(1, threads); ++i)
        m_threads.push_back(quietThread([this] { run(); }));
}

AnswerPool::~AnswerPool() {
    stop();
}

bool AnswerPool::post(std::function<void()> job) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || m_jobs.size() >= m_maxQueued)
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_posted.notify_one();
    return true;
}

void AnswerPool::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_posted.notify_all();
    for (std::thread& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void AnswerPool::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_posted.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return; // stopping, and nothing is left to run
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
