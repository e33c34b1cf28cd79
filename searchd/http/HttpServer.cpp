#include "searchd/http/HttpServer.h"

#include "searchd/http/AnswerPool.h"
#include "searchd/http/QuietThread.h"
#include "searchd/http/RequestHead.h"
#include "searchd/http/StreamedBody.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Requests answered on one connection before it is closed.
constexpr int kMaxAnswers = 100;

// A longer target is refused: no address the service hands out comes near it.
constexpr size_t kMaxTargetBytes = 8192;

// Connections being answered, beyond the waiting room, for each thread: files to slow
// clients take long, but cost the thread nothing while the socket is full.
constexpr size_t kAnsweringPerWorker = 4;

// A body too long to take but no longer than this is read and dropped before the refusal
// goes out, unless the client waits for "100 Continue": a client still sending when the
// connection closes would see it reset and lose the answer. A longer one is refused at once.
constexpr size_t kDrainedBodyBytes = 16 * 1024 * 1024;

// What a connection may hold of a request's header: a longer header gets the library's own
// 414 or 431. The library clears this memory for every request, so a larger one costs
// processor time on every answer.
constexpr size_t kConnectionMemory = 32 * 1024;

// A streamed answer whose source gives nothing this long is cut.
constexpr std::chrono::seconds kStreamStall{60};

ssize_t readStreamed(void* body, uint64_t, char* buffer, size_t max) {
    const ssize_t count = static_cast<StreamedBody*>(body)->take(buffer, max, kStreamStall);
    if (count > 0)
        return count;
    return count == 0 ? MHD_CONTENT_READER_END_OF_STREAM : MHD_CONTENT_READER_END_WITH_ERROR;
}

void freeStreamed(void* body) {
    delete static_cast<StreamedBody*>(body);
}

// TLS 1.2 and newer only, as browsers and curl speak it.
constexpr const char* kTlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

// The body of an answer that brings none of its own.
std::string statusLine(int status) {
    switch (status) {
    case 411:
        return "411 Length Required\n";
    case 413:
        return "413 Payload Too Large\n";
    case 414:
        return "414 URI Too Long\n";
    default:
        const char* reason = MHD_get_reason_phrase_for(static_cast<unsigned>(status));
        return std::to_string(status) + ' ' + (reason && *reason ? reason : "Error") + '\n';
    }
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

std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address && address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    else if (address && address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    return text;
}

// One client connection, from its accept to its close.
struct Connection {
    int fd = -1;
    Clock::time_point deadline; // for the request it waits for
    bool waiting = false;       // in the waiting room
    int answered = 0;           // only the connection's own thread counts
    bool lingers = false;       // refused while its client may still be sending a body
    std::list<Connection*>::iterator place;
};

// Connections closed after a refusal while their client may still be sending: closing a socket with
// unread bytes resets the connection, and the client could lose the answer before reading
// it. A copy of the socket taken before the library closes its own keeps it open here; it is
// shut for writing, and what comes is read and dropped until the client closes, for at most
// 2 s, on a thread of its own.
class Lingering {
public:
    Lingering()
        : m_epoll(epoll_create1(EPOLL_CLOEXEC)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        watch(m_wake);
        m_thread = quietThread([this] { run(); });
    }
    ~Lingering() {
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
        m_thread.join();
        for (const auto& [fd, until] : m_open)
            ::close(fd);
        ::close(m_wake);
        ::close(m_epoll);
    }
    Lingering(const Lingering&) = delete;
    Lingering& operator=(const Lingering&) = delete;

    void add(int socket) {
        const std::lock_guard lock(m_mutex);
        if (m_open.size() >= kMostLingering)
            return;
        const int copy = ::dup(socket);
        if (copy < 0)
            return;
        ::shutdown(copy, SHUT_WR);
        if (!watch(copy)) {
            ::close(copy);
            return;
        }
        m_open[copy] = Clock::now() + kLinger;
    }

private:
    static constexpr size_t kMostLingering = 1000;
    static constexpr std::chrono::seconds kLinger{2};

    bool watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        return epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0;
    }

    void run() {
        std::array<epoll_event, 64> events;
        for (;;) {
            const int count = epoll_wait(m_epoll, events.data(), events.size(), 100);
            const std::lock_guard lock(m_mutex);
            for (int i = 0; i < count; ++i) {
                const int fd = events[static_cast<size_t>(i)].data.fd;
                if (fd == m_wake)
                    return;
                if (!drain(fd))
                    end(fd);
            }
            const Clock::time_point now = Clock::now();
            for (auto it = m_open.begin(); it != m_open.end();)
                if (now >= (it++)->second)
                    end(std::prev(it)->first);
        }
    }

    // False once the client has closed or failed.
    static bool drain(int fd) {
        std::array<char, 64 * 1024> dropped;
        for (int turn = 0; turn < 4; ++turn) {
            const ssize_t got = ::recv(fd, dropped.data(), dropped.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                return true;
            if (got <= 0)
                return false;
        }
        return true;
    }

    // Leaves the epoll set before closing: the server may still hold its own descriptor of
    // the socket, and while it does the set would keep reporting the socket under this
    // number, which the next accepted connection may take.
    void end(int fd) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        m_open.erase(fd);
    }

    int m_epoll;
    int m_wake;
    std::mutex m_mutex;
    std::map<int, Clock::time_point> m_open; // copies and when to close them at the latest
    std::thread m_thread;
};

// One request through the handler's calls.
struct Exchange {
    HttpRequest request;
    bool started = false; // the header was whole at the first call
    bool body = false;    // a body comes before the answer
    int refusal = 0;      // the status to refuse the request with once its body is read
    bool keep = false;    // the connection waits for the next request after the answer
    bool asksClose = false, asksKeepAlive = false; // the Connection field's options
    bool ready = false; // prepared holds the answer the answer pool worked out
    HttpAnswer prepared;
};

HttpAnswer refusalOf(int status) {
    HttpAnswer answer;
    answer.status = status;
    return answer;
}

HttpAnswer busyAnswer() {
    HttpAnswer answer = refusalOf(503);
    answer.headers.emplace_back("Retry-After", "1");
    answer.body = "503 Service Unavailable: too many requests at once; try again soon\n";
    return answer;
}

Connection* connectionOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Connection*>(info->socket_context) : nullptr;
}

MHD_Result addField(void* fields, MHD_ValueKind, const char* name, const char* value) {
    static_cast<RequestHead::Fields*>(fields)->emplace_back(name ? name : "", value ? value : "");
    return MHD_YES;
}

// A request that asks for the connection to stay open: a GET or HEAD, as HTTP/1.1 by
// default or HTTP/1.0 when asked. A target with a second '?' comes from the program's own
// search text; the program reads to the close, and such requests always closed.
bool keepsAlive(const Exchange& exchange, const char* version) {
    const std::string& method = exchange.request.method;
    if ((method != "GET" && method != "HEAD") || exchange.body ||
        std::count(exchange.request.target.begin(), exchange.request.target.end(), '?') > 1)
        return false;
    if (strcmp(version, "HTTP/1.1") == 0)
        return !exchange.asksClose;
    return strcmp(version, "HTTP/1.0") == 0 && exchange.asksKeepAlive;
}

} // namespace

struct HttpServer::Core {
    Limits limits;
    Handler handler;
    QuickTest answersAtOnce;
    Logger logger;
    std::string certificatePem;
    std::string keyPem;
    std::string keepAliveField;
    int listener = -1;
    Lingering lingering;
    std::unique_ptr<AnswerPool> pool; // while serving

    std::mutex mutex; // guards the three below
    std::condition_variable changed;
    bool halted = false;
    std::list<Connection*> waiting; // oldest first, so their deadlines come in order

    // A connection waits for a request: new, or kept open after an answer.
    void enroll(Connection& connection) {
        const std::lock_guard lock(mutex);
        connection.deadline = Clock::now() + limits.header;
        connection.waiting = true;
        connection.place = waiting.insert(waiting.end(), &connection);
        if (waiting.size() > std::max<size_t>(1, limits.maxWaiting))
            dismiss(*waiting.front()); // the longest waiting makes room for the newest
    }

    void leave(Connection& connection) {
        const std::lock_guard lock(mutex);
        if (connection.waiting)
            waiting.erase(connection.place);
        connection.waiting = false;
    }

    // Ends a waiting connection: its thread sees the socket close and lets it go. The
    // library closes a socket only after telling it closed, so fd is still this one.
    void dismiss(Connection& connection) {
        ::shutdown(connection.fd, SHUT_RDWR);
        waiting.erase(connection.place);
        connection.waiting = false;
    }

    // Closes each waiting connection whose request has not come whole by its deadline,
    // until halted. A connection that starts waiting has the latest deadline of all, so
    // the loop looks again a header limit after it found the room empty, and nobody needs
    // to wake it for each connection.
    void closeLate() {
        std::unique_lock lock(mutex);
        while (!halted) {
            if (waiting.empty()) {
                changed.wait_for(lock, limits.header);
                continue;
            }
            const Clock::time_point next = waiting.front()->deadline;
            if (Clock::now() < next) {
                changed.wait_until(lock, next);
                continue;
            }
            while (!waiting.empty() && waiting.front()->deadline <= Clock::now())
                dismiss(*waiting.front());
        }
    }

    // The header is whole: refuses a request it will not take, else waits for its body or
    // the call that answers it.
    MHD_Result begin(MHD_Connection* connection, Exchange& exchange) {
        exchange.started = true;
        RequestHead::Fields fields;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &addField, &fields);
        const RequestHead head = RequestHead::check(fields);
        exchange.request.range = head.range;
        exchange.asksClose = head.asksClose;
        exchange.asksKeepAlive = head.asksKeepAlive;
        int refusal = head.refusal;
        if (exchange.request.target.size() > kMaxTargetBytes)
            refusal = 414;
        else if (refusal == 0 && head.bodyLength > limits.maxBodyBytes)
            refusal = 413;
        exchange.body = head.bodyLength > 0;
        Connection* client = connectionOf(connection);
        if (refusal == 413 && head.bodyLength <= kDrainedBodyBytes &&
            !MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Expect")) {
            exchange.refusal = refusal;
            return MHD_YES;
        }
        if (refusal != 0) {
            if (client) {
                leave(*client);
                client->lingers = true; // a body or a next request may be on its way
            }
            return send(connection, exchange, refusalOf(refusal));
        }
        if (!exchange.body && client)
            leave(*client);
        return MHD_YES;
    }

    MHD_Result answer(MHD_Connection* connection, Exchange& exchange, const char* version) {
        if (exchange.ready) // back from the answer pool
            return send(connection, exchange, std::move(exchange.prepared));
        Connection* client = connectionOf(connection);
        if (client)
            leave(*client);
        if (exchange.refusal != 0)
            return send(connection, exchange, refusalOf(exchange.refusal));
        exchange.keep =
            client && client->answered + 1 < kMaxAnswers && keepsAlive(exchange, version);
        if (client)
            ++client->answered;
        if (answersAtOnce && answersAtOnce(exchange.request))
            return send(connection, exchange, handle(exchange.request));
        return handOver(connection, exchange);
    }

    HttpAnswer handle(const HttpRequest& request) const {
        try {
            return handler(request);
        } catch (const std::exception&) {
            return refusalOf(500);
        }
    }

    // The connection rests while a worker of the pool answers; the library calls back with
    // the answer prepared once the worker resumes it.
    MHD_Result handOver(MHD_Connection* connection, Exchange& exchange) {
        MHD_suspend_connection(connection);
        const bool posted = pool->post([this, connection, &exchange] {
            exchange.prepared = handle(exchange.request);
            exchange.ready = true;
            MHD_resume_connection(connection);
        });
        if (!posted) {
            exchange.prepared = busyAnswer();
            exchange.ready = true;
            MHD_resume_connection(connection);
        }
        return MHD_YES;
    }

    MHD_Result send(MHD_Connection* connection, const Exchange& exchange, HttpAnswer answer) {
        const bool file = answer.fileFd >= 0;
        if (!file && !answer.stream && answer.body.empty() && answer.status >= 400)
            answer.body = statusLine(answer.status);
        MHD_Response* response = nullptr;
        if (answer.stream) {
            auto body = std::make_unique<StreamedBody>(std::move(answer.stream));
            response = MHD_create_response_from_callback(static_cast<uint64_t>(answer.fileLength),
                                                         64 * 1024, &readStreamed, body.get(),
                                                         &freeStreamed);
            if (response)
                (void)body.release(); // the response frees it
        } else if (file)
            response = MHD_create_response_from_fd_at_offset64(
                static_cast<uint64_t>(answer.fileLength), answer.fileFd, answer.fileOffset);
        else
            response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                                       MHD_RESPMEM_MUST_COPY);
        if (!response) {
            if (file)
                ::close(answer.fileFd);
            return MHD_NO;
        }
        MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
        // A browser must not take a listing or an error text for a page of its own.
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        if (exchange.keep)
            MHD_add_response_header(response, "Keep-Alive", keepAliveField.c_str());
        else
            MHD_add_response_header(response, "Connection", "close");
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
        MHD_destroy_response(response);
        if (logger)
            logger(exchange.request, answer.status,
                   file ? static_cast<uint64_t>(answer.fileLength) : answer.body.size());
        return queued;
    }

    // The library's calls.

    static void* arrived(void*, const char* uri, MHD_Connection* connection) {
        auto* exchange = new Exchange;
        exchange->request.target = uri ? uri : "";
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        exchange->request.remoteAddress = addressText(info ? info->client_addr : nullptr);
        return exchange;
    }

    static MHD_Result access(void* core, MHD_Connection* connection, const char*,
                             const char* method, const char* version, const char*,
                             size_t* uploadSize, void** context) {
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange)
            return MHD_NO;
        if (!exchange->started) {
            exchange->request.method = method;
            return static_cast<Core*>(core)->begin(connection, *exchange);
        }
        if (*uploadSize != 0) { // no route takes a body: it is read and dropped
            *uploadSize = 0;
            return MHD_YES;
        }
        return static_cast<Core*>(core)->answer(connection, *exchange, version);
    }

    static void completed(void* core, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode code) {
        auto* exchange = static_cast<Exchange*>(*context);
        *context = nullptr;
        Connection* client = connectionOf(connection);
        if (exchange && exchange->keep && code == MHD_REQUEST_TERMINATED_COMPLETED_OK && client)
            static_cast<Core*>(core)->enroll(*client);
        delete exchange;
    }

    static void noticed(void* core, MHD_Connection* connection, void** socketContext,
                        MHD_ConnectionNotificationCode code) {
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* client = new Connection;
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            client->fd = info ? info->connect_fd : -1;
            *socketContext = client;
            static_cast<Core*>(core)->enroll(*client);
            return;
        }
        auto* client = static_cast<Connection*>(*socketContext);
        *socketContext = nullptr;
        if (client)
            static_cast<Core*>(core)->leave(*client);
        if (client && client->lingers)
            static_cast<Core*>(core)->lingering.add(client->fd);
        delete client;
    }
};

HttpServer::HttpServer(Limits limits, Handler handler) : m_core(std::make_unique<Core>()) {
    m_core->limits = limits;
    m_core->handler = std::move(handler);
    m_core->keepAliveField = "timeout=" +
                             std::to_string(std::max<long long>(
                                 1, std::chrono::ceil<std::chrono::seconds>(limits.idle).count())) +
                             ", max=" + std::to_string(kMaxAnswers);
}

HttpServer::~HttpServer() {
    if (m_core->listener >= 0)
        ::close(m_core->listener);
}

void HttpServer::useTls(std::string certificatePem, std::string keyPem) {
    m_core->certificatePem = std::move(certificatePem);
    m_core->keyPem = std::move(keyPem);
}

void HttpServer::answerAtOnce(QuickTest test) {
    m_core->answersAtOnce = std::move(test);
}

void HttpServer::setLogger(Logger logger) {
    m_core->logger = std::move(logger);
}

int HttpServer::bindTo(const std::string& host, int port) {
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
    m_core->listener = listener;
    return portOf(listener);
}

bool HttpServer::serve() {
    Core& core = *m_core;
    {
        const std::lock_guard lock(core.mutex);
        if (core.halted)
            return true;
    }
    const Limits& limits = core.limits;
    const unsigned workers = static_cast<unsigned>(std::max(1, limits.workers));
    // An epoll thread serves many connections for each wake; a second one on a machine of
    // two cores woke for fewer each and cost a fifth more processor time for the same files.
    const unsigned pollers = static_cast<unsigned>(
        limits.pollers > 0 ? limits.pollers
                           : std::max(1U, std::min(4U, std::thread::hardware_concurrency() / 2)));
    const auto connections = static_cast<unsigned>(std::max<size_t>(1, limits.maxWaiting) +
                                                   kAnsweringPerWorker * workers);
    const auto idleSeconds = static_cast<unsigned>(
        std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(limits.idle).count()));
    core.pool =
        std::make_unique<AnswerPool>(static_cast<int>(workers), kAnsweringPerWorker * workers);
    std::vector<MHD_OptionItem> tls;
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    if (!core.certificatePem.empty()) {
        flags |= MHD_USE_TLS;
        tls = {{MHD_OPTION_HTTPS_MEM_CERT, 0, core.certificatePem.data()},
               {MHD_OPTION_HTTPS_MEM_KEY, 0, core.keyPem.data()},
               {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)}};
    }
    tls.push_back({MHD_OPTION_END, 0, nullptr});
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Core::access, &core, MHD_OPTION_LISTEN_SOCKET, core.listener,
        MHD_OPTION_THREAD_POOL_SIZE, pollers, MHD_OPTION_CONNECTION_LIMIT, connections,
        MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &Core::arrived, &core,
        MHD_OPTION_NOTIFY_COMPLETED, &Core::completed, &core, MHD_OPTION_NOTIFY_CONNECTION,
        &Core::noticed, &core, MHD_OPTION_ARRAY, tls.data(), MHD_OPTION_END);
    if (!daemon) {
        core.pool.reset();
        return false;
    }
    core.listener = -1; // the library closes it when it stops
    core.closeLate();
    // Every connection resting in the pool is resumed before the library may stop.
    core.pool->stop();
    MHD_stop_daemon(daemon);
    core.pool.reset();
    return true;
}

void HttpServer::halt() {
    const std::lock_guard lock(m_core->mutex);
    m_core->halted = true;
    m_core->changed.notify_all();
}
