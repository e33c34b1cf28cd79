#pragma once

#include "crawl/CrawlTypes.h"
#include "crawl/ListingRead.h"

#include <QByteArray>
#include <QString>
#include <optional>

// libsmbclient's own name for its context, declared as its header does.
typedef struct _SMBCCTX SMBCCTX; // NOLINT(bugprone-reserved-identifier)

// Walks one SMB share with Samba's client library (libsmbclient). Each walker has a context
// of its own, so walkers on different threads share no state; calls block, and calls of
// walkers on different threads take turns (the library's per-call memory is process-wide),
// each at most the time-out per connection or answer. SMB2 or later,
// guest unless the source names a credential file ("username = ", "password = ",
// "domain = " lines). No error text ever holds a credential.
class SmbWalker {
public:
    static constexpr int kTimeoutMs = 20000; // a silent server cannot hold the walk longer

    struct Credentials {
        QString username, password, domain;
    };
    // The credentials of such a file; nullopt (and *error) when it cannot be read or names no
    // user.
    static std::optional<Credentials> readCredentials(const QString& file, QString* error);

    // smb://host[:port]/share/folder; timeoutMs for each connection and answer.
    explicit SmbWalker(const CrawlSource& source, int timeoutMs = kTimeoutMs);
    ~SmbWalker();
    SmbWalker(const SmbWalker&) = delete;
    SmbWalker& operator=(const SmbWalker&) = delete;

    // '' = the source's folder, else a relative '/'-path below it.
    ListingRead list(const QString& folder);
    // At most count bytes (no more than FileHead::kMaxRead) from offset; fewer at the end.
    QByteArray read(const QString& path, qint64 offset, qint64 count, QString* error);
    // -1 (and *error) when the file cannot be seen.
    qint64 size(const QString& path, QString* error);
    // Whether the last call that failed had no answer from the server (refused, reset, timed
    // out), as opposed to one the server gave (no such file, no permission).
    bool lastFailureSilent() const { return m_silent; }

private:
    static void authenticate(SMBCCTX* context, const char* server, const char* share,
                             char* workgroup, int workgroupLength, char* username,
                             int usernameLength, char* password, int passwordLength);

    // The libsmbclient URL of a relative path, or nullopt (and *error) for a path that
    // leaves the source's folder.
    std::optional<QByteArray> urlOf(const QString& path, QString* error);
    // "what PATH: the system's reason", from errno; notes whether the server was silent.
    QString failure(const char* what, const QString& path);

    SMBCCTX* m_context = nullptr;
    QString m_setupError; // not empty: no call can work
    QByteArray m_root;    // smb://host/share/folder, each segment percent-encoded
    QString m_shown;      // the source's URL without credentials, for error texts
    Credentials m_credentials;
    bool m_silent = false;
};
