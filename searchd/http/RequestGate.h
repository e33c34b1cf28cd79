#pragma once

#include "searchd/http/ArrivedRequest.h"

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
// A body the request announces is read at the gate too, under the same limits (header and
// body together no larger than a header may be); a larger one, or one whose framing is
// ambiguous, is refused at once (see RequestHead): a worker answers without reading it and
// the connection closes.
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
    // what has been read of it). One that is closing (its answer was the last, the request
    // perhaps unread) is shut for writing and what the client still sends is read and
    // dropped for a moment, so that closing with unread bytes cannot reset the connection
    // before the client has the answer. Safe from any thread; after run() has returned the
    // connection is closed.
    void giveBack(ArrivedRequest connection);

private:
    struct Waiting {
        int fd = -1;
        Clock::time_point deadline; // for the whole request (header and body)
        Clock::time_point lastByte;
        std::string head;
        SSL* tls = nullptr;
        uint32_t events = 0;  // what the epoll set waits for on this connection
        int answered = 0;     // requests answered before on this connection
        size_t needed = 0;    // bytes of header and body, once the header is whole
        bool closing = false; // answered for the last time: what comes is dropped
    };
    using Entry = std::list<Waiting>::iterator;

    void acceptAll();
    bool admit(int fd);
    void takeBack();
    bool enroll(int fd, SSL* tls, std::string head, int answered, bool closing = false);
    void readFrom(int fd, uint32_t events);
    void readPlain(Entry entry);
    void readSecure(Entry entry);
    size_t room(const Waiting& waiting) const;
    bool append(Entry entry, const char* bytes, size_t count); // true: handed on
    bool settle(Entry entry, size_t searchFrom);               // true: handed on
    void awaitTls(Entry entry, int tlsError);
    void closeExpired();
    int millisecondsToNextExpiry() const;
    void pauseAccepting(bool paused);
    void drop(Entry entry);
    void handOn(Entry entry, bool complete, int refusal = 0);

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
