#include "crawl/HeadJudges.h"

#include "crawl/CurlLoop.h"

#include <algorithm>

HeadJudges::HeadJudges(int threads, CurlWaker& waker) : m_waker(waker) {
    for (int i = 0; i < std::max(1, threads); ++i)
        m_threads.emplace_back([this] { work(); });
}

HeadJudges::~HeadJudges() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        m_jobs.clear();
    }
    m_wanted.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

int HeadJudges::defaultThreads() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

void HeadJudges::submit(Job job) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wanted.notify_one();
}

std::vector<HeadJudges::Judged> HeadJudges::take() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_judged, {});
}

void HeadJudges::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wanted.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
        if (m_closing)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        Judged judged{job.walk, job.folder, job.file, false, {}};
        try {
            judged.head = job.read.result();
            judged.ok = true;
        } catch (const std::exception&) {
            // out of memory in the decoder: the walk keeps the file's old figures
        }
        lock.lock();
        m_judged.push_back(std::move(judged));
        lock.unlock();
        m_waker.wake();
        lock.lock();
    }
}
