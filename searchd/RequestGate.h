#pragma once

#include "searchd/ArrivedRequest.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class TlsContext;
using SSL = struct ssl_st;

// Holds every new connection on one thread until its request header has arrived, and only
// then hands it to a worker, so that slow or silent clients never occupy the workers. A
// header must arrive whole within the header limit, and a connection that stays silent for
// the idle limit is closed. When the waiting room is full, or the process runs out of
// descriptors, the connection that has waited longest makes room for the newest.
// With TLS the gate also does each connection's handshake, under the same limits, so a
// client that never finishes it is closed like one that never finishes its header.
// A worker gives a connection kept alive back to the gate once it has answered, and the
// connection waits for its next request header like a new one.
class RequestGate {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::chrono::milliseconds header{10000};
        std::chrono::milliseconds idle{5000};
        size_t maxWaiting = 1000;
        size_t maxHeaderBytes = 64 * 1024;
    };
    using HandOver = std::function<void(ArrivedRequest)>;

    RequestGate();
    ~RequestGate();
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    // Accepts from listener (a non-blocking listening socket the caller keeps) once run.
    void watch(int listener);

    // Every connection speaks TLS from its first byte; tls outlives the gate. Before run().
    void useTls(const TlsContext* tls) { m_tls = tls; }

    // Waits for connections and hands on each arrived request until stop(); the
    // connections still waiting are closed when it returns.
    void run(const Limits& limits, const HandOver& handOver);

    // Safe from any thread, also before run().
    void stop();

    // Takes back an answered connection to wait for its next request (connection.head:
    // what has been read of it). Safe from any thread; after run() has returned the
    // connection is closed.
    void giveBack(ArrivedRequest connection);

private:
    struct Waiting {
        int fd = -1;
        Clock::time_point accepted;
        Clock::time_point lastByte;
        std::string head;
        SSL* tls = nullptr;
        uint32_t events = 0; // what the epoll set waits for on this connection
        int answered = 0;    // requests answered before on this connection
    };
    using Entry = std::list<Waiting>::iterator;

    void acceptAll();
    bool admit(int fd);
    void takeBack();
    bool enroll(int fd, SSL* tls, std::string head, int answered);
    void readFrom(int fd, uint32_t events);
    void readPlain(Entry entry);
    void readSecure(Entry entry);
    bool append(Entry entry, const char* bytes, size_t count); // true: handed on
    void awaitTls(Entry entry, int tlsError);
    void closeExpired();
    int millisecondsToNextExpiry() const;
    void pauseAccepting(bool paused);
    void drop(Entry entry);
    void handOn(Entry entry, bool complete);

    int m_epoll = -1;
    int m_wake = -1;     // an eventfd: stop() makes it readable
    int m_returned = -1; // an eventfd: giveBack() makes it readable
    int m_listener = -1;
    const TlsContext* m_tls = nullptr;
    Limits m_limits;
    HandOver m_handOver;
    std::list<Waiting> m_waiting; // oldest first
    std::unordered_map<int, Entry> m_byFd;
    Clock::time_point m_resumeAccepting; // while out of descriptors with nobody to drop
    bool m_acceptPaused = false;

    std::mutex m_returnMutex; // guards the two below, which workers share with the gate
    std::vector<ArrivedRequest> m_returns;
    bool m_ended = false;
};
