#pragma once

#include "core/DataFileConfig.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// pellmar-searchd on a free 127.0.0.1 port with an empty library, for end-to-end tests of
// the service pages. Its request log (one line per request) is read with nextLogLine().
class SearchdRunner {
public:
    explicit SearchdRunner(const QStringList& extraArgs = {}) {
        QDir(m_dir.path()).mkdir(QStringLiteral("lib"));
        m_process.start(QStringLiteral(PELLMAR_SEARCHD_BINARY),
                        QStringList{QStringLiteral("--library"),
                                    m_dir.filePath(QStringLiteral("lib")), QStringLiteral("--port"),
                                    QStringLiteral("0"), QStringLiteral("--db"),
                                    m_dir.filePath(QStringLiteral("index.db"))} +
                            extraArgs);
        static const QRegularExpression listening(
            QStringLiteral("^pellmar-searchd: listening on (http://127\\.0\\.0\\.1:\\d+)$"));
        for (int i = 0; i < 5 && m_baseUrl.isEmpty(); ++i) {
            const auto match = listening.match(QString::fromUtf8(nextLogLine()));
            if (match.hasMatch())
                m_baseUrl = match.captured(1);
        }
    }
    ~SearchdRunner() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // "http://127.0.0.1:PORT", empty when the service did not come up.
    QString baseUrl() const { return m_baseUrl; }

    // The next line of its output, waiting a few seconds for it.
    QByteArray nextLogLine() {
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        return m_process.readLine().trimmed();
    }

    // A data file pointing at the service, with the given pages version and query URLs
    // that lead nowhere, so that a refreshed file shows by its addresses.
    void writeStaleDataFile(const QString& path, int dataVersion) const {
        DataFileConfig config;
        config.DataVersion = dataVersion;
        config.HomeUrl = m_baseUrl;
        config.HttpQueryUrl1 = QStringLiteral("http://127.0.0.1:9/old-engine-one?q=");
        config.HttpQueryUrl2 = QStringLiteral("http://127.0.0.1:9/old-engine-two?q=");
        config.SmbQueryUrl = QStringLiteral("http://127.0.0.1:9/old-smb?q=");
        config.FtpQueryUrl = QStringLiteral("http://127.0.0.1:9/old-ftp?q=");
        WriteDataFile(path, config.plainLines());
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_baseUrl;
};
