#pragma once

#include "crawl/CrawlTypes.h"
#include "crawl/SmbWalker.h"
#include "searchd/relay/RelayedFile.h"

#include <QString>
#include <memory>

// A file on an SMB share that needs the source's credentials file, read through the
// crawler's SmbWalker (which logs in as the crawl does) a piece at a time.
class SmbRelayedFile : public RelayedFile {
public:
    static constexpr qint64 kPiece = FileHead::kMaxRead; // bytes read from the share at a time

    // Logs in and asks the size of path (below the source's folder); nullptr and *error
    // when that fails.
    static std::unique_ptr<SmbRelayedFile> open(const CrawlSource& source, const QString& path,
                                                QString* error);

    qint64 size() const override { return m_size; }
    bool send(qint64 offset, qint64 length, const BodyWriter& write) override;

private:
    SmbRelayedFile(const CrawlSource& source, QString path);

    SmbWalker m_walker;
    QString m_path;
    qint64 m_size = -1;
};
