#pragma once

#include "crawl/CrawlLimits.h"

#include <chrono>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <mutex>

class CurlWalk;
class HostLimits;
struct CurlRequest;

// Wakes a crawl's libcurl loop from any thread (stop(), an SMB walk that ended); does nothing
// while no loop runs.
class CurlWaker {
public:
    void set(CURLM* multi);
    void wake();

private:
    std::mutex m_mutex;
    CURLM* m_multi = nullptr;
};

// The libcurl multi handle of one crawl: starts the requests the walks ask for (as the hosts'
// limits allow), hands each finished request back to its walk, and drops the requests of a
// walk that ended early. Runs on one thread.
class CurlLoop {
public:
    CurlLoop(const CrawlLimits& limits, HostLimits& hosts, CurlWaker& waker);
    ~CurlLoop(); // drops what still runs

    // Starts the requests walk may start now.
    void feed(CurlWalk& walk);
    // Moves the transfers on; true when a request finished (it went back to its walk).
    bool perform();
    // Waits for traffic, a wake() or at most most.
    void poll(std::chrono::milliseconds most);
    // Ends walk's requests in flight without an answer.
    void drop(CurlWalk& walk);

private:
    void start(std::unique_ptr<CurlRequest> request);
    void remove(CURL* easy);

    CrawlLimits m_limits;
    HostLimits& m_hosts;
    CurlWaker& m_waker;
    CURLM* m_multi;
    std::map<CURL*, std::unique_ptr<CurlRequest>> m_running;
};
