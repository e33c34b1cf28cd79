#pragma once

#include "crawl/CrawlTypes.h"
#include "searchd/relay/RelayedFile.h"

#include <QString>
#include <curl/curl.h>
#include <memory>

// A file on an FTP server that needs a login, fetched with libcurl: the size comes from
// SIZE, a part from REST and an early end of the transfer, both over one logged-in control
// connection. No error text holds the password.
class FtpRelayedFile : public RelayedFile {
public:
    static constexpr long kTimeoutSeconds = 20; // a silent server cannot hold a client longer

    // Logs in with the source's login and asks the size of path (below the source's
    // folder); nullptr and *error when either fails.
    static std::unique_ptr<FtpRelayedFile> open(const CrawlSource& source, const QString& path,
                                                QString* error);
    ~FtpRelayedFile() override;
    FtpRelayedFile(const FtpRelayedFile&) = delete;
    FtpRelayedFile& operator=(const FtpRelayedFile&) = delete;

    qint64 size() const override { return m_size; }
    bool send(qint64 offset, qint64 length, const BodyWriter& write) override;

private:
    FtpRelayedFile() = default;

    CURL* m_curl = nullptr;
    qint64 m_size = -1;
};
