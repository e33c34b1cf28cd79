#include "searchd/GatedServer.h"

#include "searchd/ConnectionStream.h"

#include <algorithm>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// As long as httplib itself waited for a client that takes nothing of an answer.
constexpr std::chrono::seconds kWriteLimit{5};

int portOf(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return address.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

} // namespace

GatedServer::GatedServer(RequestGate::Limits limits, int workers)
    : m_limits(limits), m_workers(workers) {}

GatedServer::~GatedServer() {
    if (m_listener >= 0)
        ::close(m_listener);
}

int GatedServer::bindTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int listener = -1;
    for (addrinfo* address = found; address && listener < 0; address = address->ai_next) {
        listener = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listener < 0)
            continue;
        const int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A search starts a burst of probe connections at once: a short backlog would
        // leave some waiting seconds for a SYN retry.
        if (::bind(listener, address->ai_addr, address->ai_addrlen) != 0 ||
            ::listen(listener, SOMAXCONN) != 0) {
            ::close(listener);
            listener = -1;
        }
    }
    freeaddrinfo(found);
    if (listener < 0)
        return -1;
    m_listener = listener;
    svr_sock_ = listener; // httplib ends file transfers once this is invalid
    m_gate.watch(listener);
    return portOf(listener);
}

void GatedServer::serve() {
    httplib::ThreadPool workers(static_cast<size_t>(std::max(1, m_workers)));
    m_gate.run(m_limits, [this, &workers](const ArrivedRequest& request) {
        workers.enqueue([this, request] { answer(request); });
    });
    workers.shutdown(); // the requests that have arrived are still answered
}

void GatedServer::halt() {
    svr_sock_ = INVALID_SOCKET; // running transfers end, as with httplib's own stop
    m_gate.stop();
}

// One request per connection: the program sends HTTP/1.0 and reads to the close, and
// keeping a connection open would only delay that close.
void GatedServer::answer(const ArrivedRequest& request) {
    ConnectionStream stream(request, kWriteLimit);
    const ConnectionStream::Answering answering(stream); // files go out with sendfile
    bool closed = false;
    process_request(stream, true, closed, nullptr);
}
