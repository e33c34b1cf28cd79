#pragma once

#include "searchd/ArrivedRequest.h"

#include <chrono>
#include <httplib.h>

// One arrived request as httplib reads and answers it: the bytes the gate has read come
// first, further reads wait no longer than the request's deadline, and a write fails when
// the client takes nothing for the write limit. Over TLS it reads and writes through the
// connection's TLS state. Closes the connection when it goes.
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

private:
    bool waitFor(short events, Clock::time_point until) const;
    void drainBriefly() const;
    bool awaitTls(int result, Clock::time_point until) const;
    ssize_t readSecure(char* ptr, size_t size);
    ssize_t writeSecure(const char* ptr, size_t size);

    ArrivedRequest m_request;
    size_t m_headRead = 0;
    std::chrono::milliseconds m_writeLimit;
};
