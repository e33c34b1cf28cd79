#pragma once

// A TCP server on 127.0.0.1 (port 0) for network tests. Its own thread serves one
// connection after another with blocking sockets, each by a script ("read the request,
// send these bytes, close"), and records the exact bytes of every request it read. The
// program's code under test runs on the main thread's event loop meanwhile.

#include "support/FreePort.h"

#include <QByteArray>
#include <QList>
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class ScriptedServer {
public:
    class Connection {
    public:
        Connection(ScriptedServer& server, int fd) : m_server(server), m_fd(fd) {}

        // Reads up to the blank line ending a request header (or the peer's close) and
        // records the bytes.
        QByteArray readRequest() {
            QByteArray request;
            while (!request.contains("\r\n\r\n")) {
                const QByteArray more = readSome();
                if (more.isEmpty())
                    break;
                request += more;
            }
            m_server.record(request);
            return request;
        }
        // One read: empty at the peer's close, an error or when the server stops.
        QByteArray readSome() {
            if (!m_server.waitReadable(m_fd))
                return QByteArray();
            char buffer[65536];
            const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, 0);
            return count > 0 ? QByteArray(buffer, int(count)) : QByteArray();
        }
        bool send(const QByteArray& bytes) {
            qsizetype sent = 0;
            while (sent < bytes.size()) {
                const ssize_t count = ::send(m_fd, bytes.constData() + sent,
                                             size_t(bytes.size() - sent), MSG_NOSIGNAL);
                if (count <= 0)
                    return false;
                sent += count;
            }
            return true;
        }
        // Blocks until the peer closes (or resets) the connection.
        void waitForPeerClose() {
            while (!readSome().isEmpty()) {
            }
        }
        // Ends the connection with a reset instead of an orderly close.
        void reset() {
            linger value{1, 0};
            setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &value, sizeof value);
        }
        // Blocks until the test calls release() (or the server stops).
        void waitUntilReleased() {
            quint64 count = 0;
            if (m_server.waitReadable(m_server.m_release))
                (void)::read(m_server.m_release, &count, sizeof count);
        }

    private:
        ScriptedServer& m_server;
        int m_fd;
    };
    using Script = std::function<void(Connection&)>;

    // The scripts serve the connections in order; the last one serves all later ones.
    explicit ScriptedServer(QList<Script> scripts) : m_scripts(std::move(scripts)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_port = BindAnyLoopbackPort(m_listen);
        ::listen(m_listen, 16);
        m_thread = std::thread([this] { serve(); });
    }
    explicit ScriptedServer(Script script) : ScriptedServer(QList<Script>{std::move(script)}) {}
    ~ScriptedServer() {
        const quint64 one = 1;
        m_stopping = true;
        (void)::write(m_stop, &one, sizeof one);
        release();
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop);
        ::close(m_release);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Reads the request, sends the bytes and closes.
    static Script reply(const QByteArray& bytes) {
        return [bytes](Connection& connection) {
            connection.readRequest();
            connection.send(bytes);
        };
    }

    quint16 port() const { return m_port; }
    QByteArray url(const QByteArray& path = "/") const {
        return "http://127.0.0.1:" + QByteArray::number(m_port) + path;
    }
    QList<QByteArray> requests() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    int connections() const { return m_connections; }
    // Connections whose script has ended and that the server has closed.
    int served() const { return m_served; }
    // True while every connection accepted so far has been served and none waits to be
    // accepted. A test that has ended its client's connections waits for this, then knows
    // that connections() is final.
    bool idle() const {
        std::lock_guard<std::mutex> lock(m_acceptMutex);
        pollfd fd{m_listen, POLLIN, 0};
        return m_served == m_connections && ::poll(&fd, 1, 0) == 0;
    }
    void release() {
        const quint64 one = 1;
        (void)::write(m_release, &one, sizeof one);
    }

private:
    void record(const QByteArray& request) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.append(request);
    }
    // Waits until fd is readable; false when the server stops first.
    bool waitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stop, POLLIN, 0}};
        while (!m_stopping) {
            if (::poll(fds, 2, -1) > 0)
                return !(fds[1].revents & POLLIN) && fds[0].revents != 0;
        }
        return false;
    }
    void serve() {
        while (waitReadable(m_listen)) {
            int fd = -1;
            int index = 0;
            {
                // With the count, so that idle() never sees a connection in neither.
                std::lock_guard<std::mutex> lock(m_acceptMutex);
                fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    index = m_connections++;
            }
            if (fd < 0)
                continue;
            Connection connection(*this, fd);
            if (!m_scripts.isEmpty())
                m_scripts.at(std::min<qsizetype>(index, m_scripts.size() - 1))(connection);
            ::close(fd);
            ++m_served;
        }
    }

    QList<Script> m_scripts;
    int m_listen = -1;
    int m_stop = eventfd(0, EFD_CLOEXEC);
    int m_release = eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE);
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_served{0};
    mutable std::mutex m_acceptMutex;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_requests;
    std::thread m_thread;
};
