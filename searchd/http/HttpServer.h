#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A request as the service's handler sees it, once its header (and any body) has come.
struct HttpRequest {
    std::string method;
    std::string target; // as received: path and query, still escaped
    std::string range;  // the Range field, when the request gives one well-formed one
    std::string remoteAddress;
};

// The handler's answer. A file answer sends fileLength bytes of fileFd from fileOffset
// instead of body; the server takes the descriptor over and closes it.
struct HttpAnswer {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int fileFd = -1;
    int64_t fileOffset = 0;
    int64_t fileLength = 0;
    // A streamed answer sends the fileLength bytes that stream writes, as it writes them,
    // from a thread of its own (false: its source failed; the connection is cut).
    std::function<bool(const std::function<bool(const char*, size_t)>& write)> stream;
};

// The service's HTTP/1.1 server, on libmicrohttpd: a few threads (one for every two cores, at
// most four) each run an epoll loop over their share of the connections, and a fixed pool of
// workers calls the handler, so an answer that waits on the index or another server holds up no
// other connection. Requests the quick test picks (a file's bytes) are answered on the loop's
// own thread, without a hand-over. File bodies go out with sendfile (in pieces through
// TLS). The one file that includes the library's header.
// With every worker busy, up to four requests a worker wait for one; more get a 503.
// Limits: a fixed number of connections (the waiting room and four for each worker),
// beyond which new ones are closed at once; of them, those still waiting for a request's
// header (and body) form a waiting room of maxWaiting, where the newest makes the longest
// waiting leave, and each request must arrive whole within the header limit. A connection
// silent for the idle limit (in whole seconds) is closed. A body longer than maxBodyBytes,
// or one whose framing is ambiguous (see RequestHead), is refused before it is read and
// the connection closed; a shorter one is read and dropped. A connection stays open for
// the client's next request when the client asks for it and the request had no body, for
// up to 100 answers.
class HttpServer {
public:
    struct Limits {
        std::chrono::milliseconds header{10000};
        std::chrono::milliseconds idle{5000};
        size_t maxWaiting = 1000;
        size_t maxBodyBytes = 64 * 1024;
        int workers = 4; // threads calling the handler
        int pollers = 0; // threads moving bytes; 0: one for every two cores, at most four
    };
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;
    // Whether the handler answers a request without waiting on anything but the local disk.
    using QuickTest = std::function<bool(const HttpRequest&)>;
    // Called once for every answer, with the bytes of its body.
    using Logger = std::function<void(const HttpRequest&, int status, uint64_t bytes)>;

    HttpServer(Limits limits, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Speaks TLS on every connection with this PEM certificate chain and key. Before serve().
    void useTls(std::string certificatePem, std::string keyPem);

    // Before serve(). Without a test every request goes to a worker.
    void answerAtOnce(QuickTest test);

    // Before serve().
    void setLogger(Logger logger);

    // Listens on host and port (0: one the system picks); the port, or -1 on failure.
    int bindTo(const std::string& host, int port);

    // Serves until halt(); call after bindTo(). False when the server cannot start.
    bool serve();

    // Safe from any thread, also before serve(). Running transfers end.
    void halt();

private:
    struct Core;
    std::unique_ptr<Core> m_core;
};
