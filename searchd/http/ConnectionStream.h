#pragma once

#include "searchd/http/ArrivedRequest.h"

#include <chrono>
#include <cstdint>
#include <httplib.h>

// One arrived request as httplib reads and answers it: the bytes the gate has read come
// first, further reads wait no longer than the request's deadline, and a write fails when
// the client takes nothing for the write limit. Over TLS it reads and writes through the
// connection's TLS state. Closes the connection when it goes, unless it was released to
// be kept alive.
class ConnectionStream : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    ConnectionStream(ArrivedRequest request, std::chrono::milliseconds writeLimit);
    ~ConnectionStream() override;
    ConnectionStream(const ConnectionStream&) = delete;
    ConnectionStream& operator=(const ConnectionStream&) = delete;

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    int socket() const override { return m_request.fd; }

    // Requests answered before on this connection.
    int answered() const { return m_request.answered; }

    // Sends what the writes of an answer have left waiting (see write); false when the
    // client fails.
    bool finish();

    // Gives up the connection without closing it, for its next request: the result holds
    // the bytes read past this request, and the count of answered requests one higher.
    ArrivedRequest release();

    // Sends length bytes of fileFd from offset as the next part of an answer's body through
    // the sink httplib hands a content provider. On the thread of a worker answering with a
    // ConnectionStream the bytes go out with sendfile on plain connections, so they never
    // pass through the service, and in large pieces over TLS; elsewhere by reading them.
    // False when the file or the client fails.
    static bool sendFile(httplib::DataSink& sink, int fileFd, int64_t offset, size_t length);

    // Makes stream the calling thread's stream while it lives.
    class Answering {
    public:
        explicit Answering(ConnectionStream& stream);
        ~Answering();
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;
    };

private:
    bool waitFor(short events, Clock::time_point until) const;
    bool awaitTls(int result, Clock::time_point until) const;
    ssize_t readSecure(char* ptr, size_t size);
    ssize_t writeSecure(const char* ptr, size_t size);
    ssize_t writeFromFile(size_t size);
    bool writeAll(const char* ptr, size_t size, int flags);
    bool sendWaiting(int flags);

    // Where the bytes of the next writes come from instead of their buffer (see sendFile).
    struct FilePart {
        int fd = -1;
        int64_t offset = 0;
        size_t left = 0;
    };
    FilePart m_file;

    ArrivedRequest m_request;
    size_t m_headRead = 0;
    std::string m_waiting; // small writes held back to go out with what follows
    std::chrono::milliseconds m_writeLimit;
};
