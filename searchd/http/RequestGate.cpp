#include "searchd/http/RequestGate.h"

#include "searchd/http/RequestHead.h"
#include "searchd/http/TlsContext.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// How long a closing connection's further bytes are read and dropped at most, and how many
// of them at one turn, so that a client sending fast holds the gate from nobody else.
constexpr milliseconds kLinger{2000};
constexpr size_t kDroppedAtOneTurn = 256 * 1024;

// The blank line that ends a header; a bare LF is taken as a line end as well.
bool headerEnds(const std::string& head, size_t searchFrom) {
    const size_t from = searchFrom > 3 ? searchFrom - 3 : 0;
    return head.find("\r\n\r\n", from) != std::string::npos ||
           head.find("\n\n", from) != std::string::npos;
}

void closeConnection(const ArrivedRequest& connection) {
    SSL_free(connection.tls);
    ::close(connection.fd);
}

} // namespace

RequestGate::RequestGate()
    : m_epoll(epoll_create1(EPOLL_CLOEXEC)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_returned(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    for (const int fd : {m_wake, m_returned}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }
}

RequestGate::~RequestGate() {
    while (!m_waiting.empty())
        drop(m_waiting.begin());
    for (ArrivedRequest& connection : m_returns)
        closeConnection(connection);
    ::close(m_returned);
    ::close(m_wake);
    ::close(m_epoll);
}

void RequestGate::watch(int listener) {
    m_listener = listener;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, listener, &event);
}

void RequestGate::stop() {
    const uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void RequestGate::giveBack(ArrivedRequest connection) {
    {
        const std::lock_guard lock(m_returnMutex);
        if (!m_ended) {
            const bool first = m_returns.empty(); // later ones find the gate woken already
            m_returns.push_back(std::move(connection));
            if (first) {
                const uint64_t one = 1;
                (void)!::write(m_returned, &one, sizeof one);
            }
            return;
        }
    }
    closeConnection(connection);
}

void RequestGate::run(const Limits& limits, const HandOver& handOver) {
    m_limits = limits;
    m_handOver = handOver;
    std::array<epoll_event, 256> events;
    for (;;) {
        const int count = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()),
                                     millisecondsToNextExpiry());
        if (count < 0 && errno != EINTR)
            break;
        int i = 0;
        for (; i < count; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == m_wake)
                break;
            if (fd == m_listener)
                acceptAll();
            else if (fd == m_returned)
                takeBack();
            else
                readFrom(fd, events[static_cast<size_t>(i)].events);
        }
        if (i < count)
            break;
        closeExpired();
    }
    std::vector<ArrivedRequest> returns;
    {
        const std::lock_guard lock(m_returnMutex);
        m_ended = true;
        returns.swap(m_returns);
    }
    for (const ArrivedRequest& connection : returns)
        closeConnection(connection);
    while (!m_waiting.empty())
        drop(m_waiting.begin());
}

void RequestGate::acceptAll() {
    for (;;) {
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            if (!admit(fd))
                return;
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if ((errno == EMFILE || errno == ENFILE) && !m_waiting.empty()) {
            drop(m_waiting.begin()); // the longest waiting gives up its descriptor
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            pauseAccepting(true); // the workers hold every descriptor: try again shortly
        return;
    }
}

bool RequestGate::admit(int fd) {
    // Answers go out whole (their header waits for the body), so a last short packet must
    // not wait for the client's acknowledgement of the one before.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    SSL* tls = m_tls ? m_tls->newConnection(fd) : nullptr;
    if (m_tls && !tls) {
        ::close(fd);
        return true; // out of memory for this one: the next may still fit
    }
    return enroll(fd, tls, {}, 0);
}

// Connections kept alive wait for their next request as new ones do. Bytes of it may have
// come with the last request, or wait decrypted inside OpenSSL where no epoll event
// announces them, so those are looked at at once.
void RequestGate::takeBack() {
    uint64_t count = 0;
    (void)!::read(m_returned, &count, sizeof count);
    std::vector<ArrivedRequest> returns;
    {
        const std::lock_guard lock(m_returnMutex);
        returns.swap(m_returns);
    }
    for (ArrivedRequest& connection : returns) {
        if (connection.closing) {
            if (connection.tls)
                SSL_shutdown(connection.tls); // close_notify, without waiting for the reply
            ERR_clear_error();
            ::shutdown(connection.fd, SHUT_WR);
        }
        if (!enroll(connection.fd, connection.tls, std::move(connection.head), connection.answered,
                    connection.closing))
            continue;
        const Entry entry = std::prev(m_waiting.end());
        if (!settle(entry, 0) && entry->tls)
            readSecure(entry);
    }
}

// False when the epoll set takes no more: the connection is closed then.
bool RequestGate::enroll(int fd, SSL* tls, std::string head, int answered, bool closing) {
    if (m_waiting.size() >= std::max<size_t>(1, m_limits.maxWaiting))
        drop(m_waiting.begin());
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
        SSL_free(tls);
        ::close(fd);
        return false;
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point deadline =
        now + (closing ? std::min<milliseconds>(kLinger, m_limits.header) : m_limits.header);
    if (closing)
        head.clear();
    m_waiting.push_back({fd, deadline, now, std::move(head), tls, EPOLLIN, answered, 0, closing});
    m_byFd[fd] = std::prev(m_waiting.end());
    return true;
}

void RequestGate::readFrom(int fd, uint32_t events) {
    const auto found = m_byFd.find(fd);
    if (found == m_byFd.end())
        return;
    const Entry entry = found->second;
    if (!entry->tls) {
        readPlain(entry);
        return;
    }
    if (events & EPOLLIN) // handshake bytes count as the client's sign of life too
        entry->lastByte = Clock::now();
    readSecure(entry);
}

// What may still be read: a byte more than the limit allows, so that going past it shows.
size_t RequestGate::room(const Waiting& waiting) const {
    if (waiting.closing)
        return SIZE_MAX;
    return m_limits.maxHeaderBytes - std::min(m_limits.maxHeaderBytes, waiting.head.size()) + 1;
}

void RequestGate::readPlain(Entry entry) {
    std::array<char, 16 * 1024> buffer;
    const ssize_t got = ::recv(entry->fd, buffer.data(), std::min(buffer.size(), room(*entry)), 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) { // closed or broken before the header was whole, or after the last answer
        drop(entry);
        return;
    }
    append(entry, buffer.data(), static_cast<size_t>(got));
}

// Goes on with the handshake, then reads what has been decrypted. OpenSSL may hold decrypted
// bytes that no epoll event announces, so it reads until OpenSSL asks for more from the
// network (a closing connection only a little at a time: what stays there is dropped).
void RequestGate::readSecure(Entry entry) {
    ERR_clear_error();
    if (!SSL_is_init_finished(entry->tls)) {
        const int done = SSL_accept(entry->tls);
        if (done != 1) {
            awaitTls(entry, SSL_get_error(entry->tls, done));
            return;
        }
    }
    std::array<char, 16 * 1024> buffer;
    for (size_t dropped = 0; dropped < kDroppedAtOneTurn;) {
        const int want = static_cast<int>(std::min(buffer.size(), room(*entry)));
        const int got = SSL_read(entry->tls, buffer.data(), want);
        if (got <= 0) {
            awaitTls(entry, SSL_get_error(entry->tls, got));
            return;
        }
        if (append(entry, buffer.data(), static_cast<size_t>(got)))
            return;
        if (entry->closing)
            dropped += static_cast<size_t>(got);
    }
}

bool RequestGate::append(Entry entry, const char* bytes, size_t count) {
    entry->lastByte = Clock::now();
    if (entry->closing)
        return false; // dropped
    const size_t before = entry->head.size();
    entry->head.append(bytes, count);
    return settle(entry, before);
}

// Hands the request on once its header and the body it announces have come. A body that
// would take the request past the header's limit is refused before any of it is read, as
// is a request whose framing is ambiguous; the worker answers without reading further.
bool RequestGate::settle(Entry entry, size_t searchFrom) {
    if (entry->closing)
        return false;
    if (entry->needed == 0) {
        if (!headerEnds(entry->head, searchFrom)) {
            if (entry->head.size() <= m_limits.maxHeaderBytes)
                return false;
            handOn(entry, false); // answered from what has come
            return true;
        }
        const RequestHead head = RequestHead::check(entry->head);
        const bool tooLarge =
            head.bodyLength >
            m_limits.maxHeaderBytes - std::min(m_limits.maxHeaderBytes, head.headerEnd);
        if (head.refusal != 0 || tooLarge) {
            entry->head.resize(head.headerEnd);
            handOn(entry, false, head.refusal != 0 ? head.refusal : 413);
            return true;
        }
        entry->needed = head.headerEnd + head.bodyLength;
    }
    if (entry->head.size() < entry->needed)
        return false;
    handOn(entry, true);
    return true;
}

// Waits for what OpenSSL needs next; a failed handshake (a plain HTTP request among them)
// or a closed connection is dropped without an answer.
void RequestGate::awaitTls(Entry entry, int tlsError) {
    ERR_clear_error();
    uint32_t events = 0;
    if (tlsError == SSL_ERROR_WANT_READ)
        events = EPOLLIN;
    else if (tlsError == SSL_ERROR_WANT_WRITE)
        events = EPOLLOUT;
    if (events == 0) {
        drop(entry);
        return;
    }
    if (events == entry->events)
        return;
    entry->events = events;
    epoll_event event{};
    event.events = events;
    event.data.fd = entry->fd;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, entry->fd, &event);
}

void RequestGate::closeExpired() {
    const Clock::time_point now = Clock::now();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        const auto current = it++;
        if (now >= current->deadline || now >= current->lastByte + m_limits.idle)
            drop(current);
    }
    if (m_acceptPaused && now >= m_resumeAccepting)
        pauseAccepting(false);
}

int RequestGate::millisecondsToNextExpiry() const {
    if (m_waiting.empty() && !m_acceptPaused)
        return -1;
    Clock::time_point next = m_acceptPaused ? m_resumeAccepting : Clock::time_point::max();
    for (const Waiting& waiting : m_waiting)
        next = std::min({next, waiting.deadline, waiting.lastByte + m_limits.idle});
    const auto left = std::chrono::ceil<milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

void RequestGate::pauseAccepting(bool paused) {
    m_acceptPaused = paused;
    m_resumeAccepting = Clock::now() + milliseconds(100);
    epoll_event event{};
    event.events = paused ? 0U : static_cast<uint32_t>(EPOLLIN);
    event.data.fd = m_listener;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_listener, &event);
}

void RequestGate::drop(Entry entry) {
    SSL_free(entry->tls);
    ::close(entry->fd); // also leaves the epoll set
    m_byFd.erase(entry->fd);
    m_waiting.erase(entry);
}

void RequestGate::handOn(Entry entry, bool complete, int refusal) {
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, entry->fd, nullptr);
    ArrivedRequest request{.fd = entry->fd,
                           .tls = entry->tls,
                           .head = std::move(entry->head),
                           .complete = complete,
                           .refusal = refusal,
                           .deadline = entry->deadline,
                           .answered = entry->answered};
    m_byFd.erase(entry->fd);
    m_waiting.erase(entry);
    m_handOver(std::move(request));
}
