#include "searchd/http/ConnectionStream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// What one content provider call sends of a file: the server's stop is looked at between
// two pieces.
constexpr size_t kFilePiece = 256 * 1024;

// Writes up to this size wait to go out with the next (see write): an answer's header fits.
constexpr size_t kHeldBytes = 4096;

// Stands for the bytes of a file piece in httplib's own bookkeeping; never read.
char g_filePlaceholder[kFilePiece];

thread_local ConnectionStream* t_answering = nullptr;

// The address and port of a socket's end, as text and number.
void describe(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

} // namespace

ConnectionStream::ConnectionStream(ArrivedRequest request, std::chrono::milliseconds writeLimit)
    : m_request(std::move(request)), m_writeLimit(writeLimit) {}

ConnectionStream::~ConnectionStream() {
    if (m_request.fd < 0)
        return; // released
    sendWaiting(0);
    if (m_request.tls) {
        SSL_shutdown(m_request.tls); // says close_notify once, without waiting for the reply
        ERR_clear_error();
    }
    ::shutdown(m_request.fd, SHUT_RDWR);
    ::close(m_request.fd);
    SSL_free(m_request.tls);
}

bool ConnectionStream::finish() {
    return sendWaiting(0);
}

ArrivedRequest ConnectionStream::release() {
    ArrivedRequest kept{.fd = m_request.fd,
                        .tls = m_request.tls,
                        .head = m_request.head.substr(m_headRead),
                        .answered = m_request.answered + 1};
    m_request.fd = -1;
    m_request.tls = nullptr;
    return kept;
}

bool ConnectionStream::waitFor(short events, Clock::time_point until) const {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        pollfd wanted{m_request.fd, events, 0};
        const int ready =
            ::poll(&wanted, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

bool ConnectionStream::is_readable() const {
    return m_headRead < m_request.head.size() ||
           (m_request.complete && m_request.tls && SSL_pending(m_request.tls) > 0) ||
           (m_request.complete && waitFor(POLLIN, m_request.deadline));
}

// Every write waits for room itself, under the write limit, and only when the socket has
// none: asking first would cost a poll for each piece of an answer.
bool ConnectionStream::is_writable() const {
    return true;
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (m_headRead < m_request.head.size()) {
        const size_t count = std::min(size, m_request.head.size() - m_headRead);
        std::memcpy(ptr, m_request.head.data() + m_headRead, count);
        m_headRead += count;
        return static_cast<ssize_t>(count);
    }
    if (!m_request.complete)
        return 0; // cut off or refused at the gate: the request ends with what has come
    if (m_request.tls)
        return readSecure(ptr, size);
    for (;;) {
        if (!waitFor(POLLIN, m_request.deadline))
            return -1; // the whole request must arrive in time
        const ssize_t got = ::recv(m_request.fd, ptr, size, 0);
        if (got >= 0 || (errno != EAGAIN && errno != EINTR))
            return got;
    }
}

// httplib writes an answer's header on its own, then the body. A small write waits to go
// out with the next one, so that header and body share their first packet: before a file
// piece it is sent flagged with more to come, and finish() sends what is left. Every
// other write sends all its bytes, as httplib takes a short count for the whole.
ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (m_file.left > 0)
        return sendWaiting(MSG_MORE) ? writeFromFile(size) : -1;
    if (m_waiting.size() + size <= kHeldBytes) {
        m_waiting.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    if (!sendWaiting(MSG_MORE) || !writeAll(ptr, size, 0))
        return -1;
    return static_cast<ssize_t>(size);
}

bool ConnectionStream::sendWaiting(int flags) {
    if (m_waiting.empty())
        return true;
    const bool sent = writeAll(m_waiting.data(), m_waiting.size(), flags);
    m_waiting.clear();
    return sent;
}

bool ConnectionStream::writeAll(const char* ptr, size_t size, int flags) {
    for (size_t done = 0; done < size;) {
        ssize_t sent = 0;
        if (m_request.tls) {
            sent = writeSecure(ptr + done, size - done);
        } else {
            sent = ::send(m_request.fd, ptr + done, size - done, MSG_NOSIGNAL | flags);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && errno == EAGAIN && waitFor(POLLOUT, Clock::now() + m_writeLimit))
                continue;
        }
        if (sent <= 0)
            return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

// OpenSSL may need to write while reading and read while writing; it says which, and the
// stream waits for that under the limit of the call.
bool ConnectionStream::awaitTls(int result, Clock::time_point until) const {
    const int error = SSL_get_error(m_request.tls, result);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_READ)
        return waitFor(POLLIN, until);
    if (error == SSL_ERROR_WANT_WRITE)
        return waitFor(POLLOUT, until);
    return false;
}

ssize_t ConnectionStream::readSecure(char* ptr, size_t size) {
    const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
    for (;;) {
        const int got = SSL_read(m_request.tls, ptr, want);
        if (got > 0)
            return got;
        if (SSL_get_error(m_request.tls, got) == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (!awaitTls(got, m_request.deadline))
            return -1;
    }
}

ssize_t ConnectionStream::writeSecure(const char* ptr, size_t size) {
    const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
    for (;;) {
        const int sent = SSL_write(m_request.tls, ptr, want);
        if (sent > 0)
            return sent;
        if (!awaitTls(sent, Clock::now() + m_writeLimit))
            return -1;
    }
}

ConnectionStream::Answering::Answering(ConnectionStream& stream) {
    t_answering = &stream;
}

ConnectionStream::Answering::~Answering() {
    t_answering = nullptr;
}

// httplib counts a body by what passes through the sink, so the piece goes through it as
// placeholder bytes, and the stream's write takes them from the file instead.
bool ConnectionStream::sendFile(httplib::DataSink& sink, int fileFd, int64_t offset,
                                size_t length) {
    const size_t piece = std::min(length, kFilePiece);
    if (t_answering) {
        t_answering->m_file = {fileFd, offset, piece};
        const bool sent = sink.write(g_filePlaceholder, piece);
        t_answering->m_file = {};
        return sent;
    }
    std::vector<char> buffer(piece);
    const ssize_t got = ::pread(fileFd, buffer.data(), piece, offset);
    return got > 0 && sink.write(buffer.data(), static_cast<size_t>(got));
}

// A file that has shrunk since its length was sent fails the answer: the client then sees a
// body shorter than announced, and the worker does not wait for bytes that never come.
ssize_t ConnectionStream::writeFromFile(size_t size) {
    const size_t want = std::min(size, m_file.left);
    ssize_t sent = -1;
    if (m_request.tls) {
        std::vector<char> buffer(std::min<size_t>(want, 64 * 1024));
        const ssize_t got = ::pread(m_file.fd, buffer.data(), buffer.size(), m_file.offset);
        if (got <= 0)
            return -1;
        sent = writeSecure(buffer.data(), static_cast<size_t>(got));
    } else {
        for (;;) {
            off_t from = m_file.offset;
            sent = ::sendfile(m_request.fd, m_file.fd, &from, want);
            if (sent == 0)
                return -1; // the file ended early
            if (sent > 0 || (errno != EAGAIN && errno != EINTR))
                break;
            if (errno == EAGAIN && !waitFor(POLLOUT, Clock::now() + m_writeLimit))
                return -1;
        }
    }
    if (sent > 0) {
        m_file.offset += sent;
        m_file.left -= static_cast<size_t>(sent);
    }
    return sent;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(m_request.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        describe(address, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(m_request.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        describe(address, ip, port);
}
