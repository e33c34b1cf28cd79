#include "searchd/http/HttpServer.h"
#include "searchd/RawHttp.h"

#include <algorithm>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

// A server with one worker whose handler holds "/wait" until released.
class HeldServer {
public:
    HeldServer()
        : m_server(limits(), [this](const HttpRequest& request) { return answer(request); }) {
        m_server.answerAtOnce(
            [](const HttpRequest& request) { return request.target == "/quick"; });
        m_port = m_server.bindTo("127.0.0.1", 0);
        m_thread = std::thread([this] { m_server.serve(); });
    }
    ~HeldServer() {
        release();
        m_server.halt();
        m_thread.join();
    }
    HeldServer(const HeldServer&) = delete;
    HeldServer& operator=(const HeldServer&) = delete;

    int port() const { return m_port; }
    // Waits until the worker holds a request.
    void waitUntilHeld() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_holding; });
    }
    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    static HttpServer::Limits limits() {
        HttpServer::Limits limits;
        limits.workers = 1;
        return limits;
    }
    HttpAnswer answer(const HttpRequest& request) {
        if (request.target == "/wait") {
            std::unique_lock lock(m_mutex);
            m_holding = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        }
        HttpAnswer answer;
        answer.body = request.target;
        return answer;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holding = false;
    bool m_released = false;
    HttpServer m_server;
    int m_port = -1;
    std::thread m_thread;
};

// How many of fds have something to read, waiting up to two seconds for at least want.
int readable(const std::vector<int>& fds, int want) {
    int ready = 0;
    for (int turn = 0; turn < 200 && ready < want; ++turn) {
        if (turn > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::vector<pollfd> polled;
        polled.reserve(fds.size());
        for (const int fd : fds)
            polled.push_back({fd, POLLIN, 0});
        ::poll(polled.data(), polled.size(), 0);
        ready = static_cast<int>(std::count_if(polled.begin(), polled.end(),
                                               [](const pollfd& p) { return p.revents != 0; }));
    }
    return ready;
}

} // namespace

TEST(HttpServerWorkers, AWaitingAnswerHoldsUpNoFileAndTheQueueIsBounded) {
    HeldServer server;
    // One request runs, four a worker wait for it, the rest are refused at once.
    std::vector<int> held;
    for (int i = 0; i < 10; ++i) {
        held.push_back(connectLoopback(server.port(), 10));
        ASSERT_EQ(::send(held.back(), "GET /wait HTTP/1.0\r\n\r\n", 22, MSG_NOSIGNAL), 22);
        if (i == 0)
            server.waitUntilHeld();
    }
    EXPECT_EQ(readable(held, 5), 5);
    const RawResponse quick = httpGet(server.port(), "/quick");
    EXPECT_EQ(std::pair(quick.status, quick.body), std::pair(200, QByteArray("/quick")));

    server.release();
    std::map<int, int> statuses;
    for (const int fd : held) {
        const RawResponse answer = parseResponse(readToClose(fd));
        ++statuses[answer.status];
        if (answer.status == 503) {
            EXPECT_EQ(answer.headers.value("retry-after"), "1");
        }
        ::close(fd);
    }
    EXPECT_EQ(statuses, (std::map<int, int>{{200, 5}, {503, 5}}));
}
