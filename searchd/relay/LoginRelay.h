#pragma once

#include "crawl/CrawlTypes.h"
#include "searchd/relay/RelayedFile.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class ServiceIndex;

// Files of crawled sources that need a login (an FTP login, an SMB credentials file), fetched
// by the service for the program: the program cannot log in there, so such a hit points at
// the service's relay path instead of the server, and the login never leaves the service.
// Only files the index holds for such a source are relayed, so the relay cannot be made to
// fetch anything else. Safe to use from many threads.
class LoginRelay {
public:
    static constexpr const char* kPath = "/relay/"; // then the source's key, '/', the path

    // The sources the service crawls; those without a login are left alone.
    LoginRelay(const QList<CrawlSource>& sources, ServiceIndex& index);

    // An FTP source with a user other than anonymous or a password, an SMB source with a
    // credentials file.
    static bool needsLogin(const CrawlSource& source);

    // The relayed sources' ids.
    QStringList sourceIds() const { return m_keys.keys(); }

    // The part of a relay path that names a source: the same for the same source across
    // restarts, telling nothing of its host or login. Empty for a source not relayed.
    QByteArray keyOf(const QString& sourceId) const { return m_keys.value(sourceId); }

    struct Opened {
        int status = 200; // else 404 (no such file in the index) or 502 (the source failed)
        QString problem;  // the short text of a failure, never holding a credential
        std::unique_ptr<RelayedFile> file;
    };
    // The file path (below the source's folder) of the source with key, opened on its server.
    Opened open(const QByteArray& key, const QString& path) const;

private:
    ServiceIndex& m_index;
    QHash<QString, QByteArray> m_keys;      // by source id
    QHash<QByteArray, CrawlSource> m_byKey; // with their logins
};
