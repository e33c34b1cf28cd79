#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// The request log: a worker hands its line over and goes on, and a thread of the log's own
// writes the lines out, so a log that is read slowly (a terminal, a full pipe) never holds
// an answer. Lines that find maxPending bytes already waiting are left out, and the log then
// says how many.
class RequestLog {
public:
    explicit RequestLog(FILE* out, size_t maxPending = 4 * 1024 * 1024);
    ~RequestLog(); // writes what is waiting first
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // line ends with a line break. Safe from any thread; never waits for the output.
    void add(const std::string& line);

    // Waits until every line added so far has been written.
    void flush();

private:
    void writeLoop();

    FILE* m_out;
    size_t m_maxPending;
    std::mutex m_mutex;
    std::condition_variable m_wake;    // lines to write, or the end
    std::condition_variable m_written; // a batch is out
    std::string m_pending;
    size_t m_leftOut = 0;
    bool m_writing = false;
    bool m_ending = false;
    std::thread m_writer;
};
