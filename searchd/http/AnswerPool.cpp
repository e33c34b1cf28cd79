#include "searchd/http/AnswerPool.h"

#include <algorithm>
#include <csignal>
#include <pthread.h>

AnswerPool::AnswerPool(int threads, size_t maxQueued)
    : m_maxQueued(std::max<size_t>(1, maxQueued)) {
    // The threads start with every signal blocked: a stop signal must reach the thread that
    // waits for it, not end the process here.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    for (int i = 0; i < std::max(1, threads); ++i)
        m_threads.emplace_back([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
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
