#pragma once

#include "support/FreePort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

// A real server from Debian (nginx, tinyproxy, ...) run by a test on a free 127.0.0.1 port,
// with its configuration, logs and pid file in a temporary folder. It is stopped when the
// object goes. start() reports why the server did not come up, so a test can fail with it.
class LocalServerProcess {
public:
    // Writes the configuration for a port into the folder and returns the arguments.
    using Configure = std::function<QStringList(const QString& folder, unsigned short port)>;

    LocalServerProcess(QString program, Configure configure)
        : m_program(std::move(program)), m_configure(std::move(configure)) {}
    ~LocalServerProcess() { stop(); }
    LocalServerProcess(const LocalServerProcess&) = delete;
    LocalServerProcess& operator=(const LocalServerProcess&) = delete;

    // Empty on success, else what went wrong.
    QString start() {
        if (!QFile::exists(m_program))
            return m_program + QStringLiteral(" is not installed (see scripts/setup.sh)");
        QString failure;
        for (int attempt = 0; attempt < 3; ++attempt) { // the port may be taken meanwhile
            m_port = FreeLoopbackPort();
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start(m_program, m_configure(m_dir.path(), m_port));
            if (!m_process.waitForStarted(10000))
                return m_program + QStringLiteral(" did not start: ") + m_process.errorString();
            QDeadlineTimer deadline(15000);
            while (!deadline.hasExpired() && m_process.state() == QProcess::Running &&
                   !AcceptsConnections(m_port)) {
                m_process.waitForFinished(50);
            }
            if (m_process.state() == QProcess::Running && AcceptsConnections(m_port))
                return QString();
            failure = QStringLiteral("%1 did not come up on port %2: %3")
                          .arg(m_program)
                          .arg(m_port)
                          .arg(QString::fromLocal8Bit(m_process.readAll()));
            stop();
        }
        return failure;
    }
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    unsigned short port() const { return m_port; }
    QString folder() const { return m_dir.path(); }
    QByteArray readFile(const QString& name) const {
        QFile file(QDir(m_dir.path()).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString m_program;
    Configure m_configure;
    QTemporaryDir m_dir;
    QProcess m_process;
    unsigned short m_port = 0;
};

// nginx serving a document folder, logging "request line|Host header" per request to
// access.log in its folder. extra goes into the server block (e.g. a redirect); listenOptions
// after the address ("ssl", with the certificate lines in extra).
inline LocalServerProcess::Configure NginxConfig(const QString& documentRoot,
                                                 const QString& extra = QString(),
                                                 const QString& listenOptions = QString()) {
    return [documentRoot, extra, listenOptions](const QString& folder, unsigned short port) {
        const QString config =
            QStringLiteral("%1daemon off;\nmaster_process off;\nworker_processes 1;\n"
                           "pid %2/nginx.pid;\nerror_log %2/error.log;\n"
                           "events { worker_connections 256; }\n"
                           "http {\n  default_type application/octet-stream;\n"
                           "  log_format lines '$request|$http_host';\n"
                           "  access_log %2/access.log lines;\n"
                           "  client_body_temp_path %2/body; proxy_temp_path %2/proxy;\n"
                           "  fastcgi_temp_path %2/fastcgi; uwsgi_temp_path %2/uwsgi;\n"
                           "  scgi_temp_path %2/scgi;\n"
                           "  server {\n    listen 127.0.0.1:%3 %6;\n    root %4;\n%5\n  }\n}\n")
                .arg(geteuid() == 0 ? QStringLiteral("user root;\n") : QString(), folder)
                .arg(port)
                .arg(documentRoot, extra, listenOptions);
        QFile file(QDir(folder).filePath(QStringLiteral("nginx.conf")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(config.toUtf8());
        return QStringList{QStringLiteral("-p"), folder, QStringLiteral("-c"), file.fileName()};
    };
}

// tinyproxy in the foreground, allowing 127.0.0.1 only, logging to tinyproxy.log. extra
// goes at the end of the configuration (e.g. "ConnectPort 8443").
inline LocalServerProcess::Configure TinyproxyConfig(const QString& extra = QString()) {
    return [extra](const QString& folder, unsigned short port) {
        const QString config =
            QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\n"
                           "LogFile \"%2/tinyproxy.log\"\nLogLevel Info\n"
                           "MaxClients 20\nAllow 127.0.0.1\n"
                           "PidFile \"%2/tinyproxy.pid\"\n%3%4")
                .arg(port)
                .arg(folder, geteuid() == 0 ? QStringLiteral("User root\nGroup root\n") : QString(),
                     extra);
        QFile file(QDir(folder).filePath(QStringLiteral("tinyproxy.conf")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(config.toUtf8());
        return QStringList{QStringLiteral("-d"), QStringLiteral("-c"), file.fileName()};
    };
}
