#include "net/HostLookup.h"

#include "net/NoticeEndpoint.h"
#include "net/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <thread>

std::shared_ptr<HostLookup> HostLookup::Start(const QByteArray& host, NoticeEndpoint* endpoint,
                                              Done done) {
    std::shared_ptr<HostLookup> lookup(new HostLookup(endpoint, std::move(done)));
    ++s_inFlight;
    // Detached: a slow resolver must never hold up the program's exit.
    try {
        std::thread([lookup, host] {
            lookup->Run(host);
            --s_inFlight; // after the post, so that zero means the answer is queued or dropped
        }).detach();
    } catch (...) {
        --s_inFlight;
        throw;
    }
    return lookup;
}

void HostLookup::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endpoint = nullptr;
}

void HostLookup::Run(const QByteArray& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    errno = 0;
    const int status = getaddrinfo(host.constData(), nullptr, &hints, &result);
    int error = SocketErrors::FromResolver(status, errno);

    QList<QByteArray> addresses;
    for (const addrinfo* entry = result; status == 0 && entry; entry = entry->ai_next) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        addresses.append(QByteArray(text));
    }
    if (result)
        freeaddrinfo(result);
    if (error == 0 && addresses.isEmpty())
        error = SocketErrors::kNoData;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_endpoint)
        return;
    Done done = m_done;
    m_endpoint->post([done, error, addresses] { done(error, addresses); });
}
