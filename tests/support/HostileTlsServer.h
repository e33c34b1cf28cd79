#pragma once

#include "support/LocalServerProcess.h"
#include "support/TestCertificates.h"

// tests/support/hostile_tls_server.py on three free 127.0.0.1 ports, with the server
// certificate of the test CA: TLS that misbehaves by path on port(), plain text on
// garbagePort(), a handshake that never ends on stallPort(). events() holds what the server
// noted, e.g. "hello held" once a stalled hello has arrived.
class HostileTlsServer {
public:
    explicit HostileTlsServer(const TestCertificates& certificates)
        : m_process(QStringLiteral("/usr/bin/python3"),
                    [this, &certificates](const QString& folder, unsigned short port) {
                        m_garbagePort = FreeLoopbackPort();
                        m_stallPort = FreeLoopbackPort();
                        return QStringList{QStringLiteral(PELLMAR_SOURCE_DIR
                                                          "/tests/support/hostile_tls_server.py"),
                                           QString::number(port),
                                           certificates.path(QStringLiteral("server.pem")),
                                           certificates.path(QStringLiteral("server.key")),
                                           QString::number(m_garbagePort),
                                           QString::number(m_stallPort),
                                           QDir(folder).filePath(QStringLiteral("events.log"))};
                    }) {}

    QString start() { return m_process.start(); }
    unsigned short port() const { return m_process.port(); }
    unsigned short garbagePort() const { return m_garbagePort; }
    unsigned short stallPort() const { return m_stallPort; }
    QByteArray events() const { return m_process.readFile(QStringLiteral("events.log")); }

private:
    unsigned short m_garbagePort = 0;
    unsigned short m_stallPort = 0;
    LocalServerProcess m_process;
};
