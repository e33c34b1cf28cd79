#include "searchd/http/GatedServer.h"

#include "searchd/http/ConnectionStream.h"

#include <algorithm>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// As long as httplib itself waited for a client that takes nothing of an answer.
constexpr std::chrono::seconds kWriteLimit{5};

// Requests answered on one connection before it is closed.
constexpr int kMaxAnswers = 100;

// What httplib's hooks learn of the answer a worker is writing.
struct Answer {
    int answered = 0;   // requests answered before on this connection
    int refusal = 0;    // the status the gate refused the request with; 0: none
    bool whole = false; // the request line and header lines were read and understood
    bool keep = false;  // the connection waits for the next request afterwards
};
thread_local Answer* t_answer = nullptr;

// Whether a comma-separated header value such as "Keep-Alive, TE" holds token, in any case.
bool hasToken(const std::string& value, const char* token) {
    size_t start = 0;
    while (start <= value.size()) {
        const size_t end = std::min(value.find(',', start), value.size());
        size_t first = start;
        size_t last = end;
        while (first < last && (value[first] == ' ' || value[first] == '\t'))
            ++first;
        while (last > first && (value[last - 1] == ' ' || value[last - 1] == '\t'))
            --last;
        if (last - first == strlen(token) &&
            strncasecmp(value.c_str() + first, token, last - first) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// A request that asks for the connection to stay open and has left nothing unread: a GET
// or HEAD without a body, as HTTP/1.1 by default or HTTP/1.0 when asked.
bool keepsAlive(const httplib::Request& request) {
    if (request.method != "GET" && request.method != "HEAD")
        return false;
    const std::string length = request.get_header_value("Content-Length");
    if (request.has_header("Transfer-Encoding") || (!length.empty() && length != "0"))
        return false;
    const std::string connection = request.get_header_value("Connection");
    if (request.version == "HTTP/1.1")
        return !hasToken(connection, "close");
    return request.version == "HTTP/1.0" && hasToken(connection, "keep-alive");
}

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
    : m_limits(limits), m_workers(workers),
      m_keepAliveHeader("timeout=" +
                        std::to_string(std::max<long long>(
                            1, std::chrono::ceil<std::chrono::seconds>(limits.idle).count())) +
                        ", max=" + std::to_string(kMaxAnswers)) {
    set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        settleConnection(request, response);
    });
    // A refused request is answered before httplib reads its body, which comes after the
    // pre-routing handler, and without a "100 Continue" that would ask the client for it.
    httplib::Server::set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            if (t_answer && t_answer->refusal != 0) {
                response.status = t_answer->refusal;
                return HandlerResponse::Handled;
            }
            return m_preRouting ? m_preRouting(request, response) : HandlerResponse::Unhandled;
        });
    set_expect_100_continue_handler([](const httplib::Request&, httplib::Response& response) {
        if (!t_answer || t_answer->refusal == 0)
            return 100;
        response.status = t_answer->refusal;
        return response.status;
    });
}

GatedServer& GatedServer::set_pre_routing_handler(HandlerWithResponse handler) {
    m_preRouting = std::move(handler);
    return *this;
}

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
        workers.enqueue([this, arrived = request]() mutable { answer(std::move(arrived)); });
    });
    workers.shutdown(); // the requests that have arrived are still answered
}

void GatedServer::halt() {
    svr_sock_ = INVALID_SOCKET; // running transfers end, as with httplib's own stop
    m_gate.stop();
}

// Keeping a connection open for the client's next request saves it a new connection;
// the program itself sends HTTP/1.0 and reads to the close, and so has it closed.
// A request cut off at the header's limit or refused leaves the client sending: the gate
// then reads and drops the rest for a moment before closing, so that the client gets the
// answer, and no worker waits for it.
void GatedServer::answer(ArrivedRequest request) {
    const bool cutOff = !request.complete;
    Answer current{request.answered, request.refusal};
    ConnectionStream stream(std::move(request), kWriteLimit);
    const ConnectionStream::Answering answering(stream); // files go out with sendfile
    t_answer = &current;
    bool closed = false;
    const bool sent =
        process_request(stream, false, closed, [&](httplib::Request&) { current.whole = !cutOff; });
    t_answer = nullptr;
    if (!stream.finish())
        return;
    if (sent && current.keep) {
        m_gate.giveBack(stream.release());
    } else if (cutOff) {
        ArrivedRequest rest = stream.release();
        rest.closing = true;
        m_gate.giveBack(std::move(rest));
    }
}

// Called by httplib just before it writes an answer's header, which then says whether the
// connection stays open.
void GatedServer::settleConnection(const httplib::Request& request, httplib::Response& response) {
    Answer* current = t_answer;
    if (!current)
        return;
    current->keep = current->whole && current->answered + 1 < kMaxAnswers && keepsAlive(request);
    response.headers.erase("Connection");
    response.headers.erase("Keep-Alive");
    if (current->keep)
        response.set_header("Keep-Alive", m_keepAliveHeader);
    else
        response.set_header("Connection", "close");
}
