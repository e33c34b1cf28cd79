#include "searchd/relay/SmbRelayedFile.h"

std::unique_ptr<SmbRelayedFile> SmbRelayedFile::open(const CrawlSource& source, const QString& path,
                                                     QString* error) {
    std::unique_ptr<SmbRelayedFile> file(new SmbRelayedFile(source, path));
    file->m_size = file->m_walker.size(path, error);
    return file->m_size < 0 ? nullptr : std::move(file);
}

SmbRelayedFile::SmbRelayedFile(const CrawlSource& source, QString path)
    : m_walker(source), m_path(std::move(path)) {}

bool SmbRelayedFile::send(qint64 offset, qint64 length, const BodyWriter& write) {
    for (qint64 left = length; left > 0;) {
        QString error;
        const QByteArray piece = m_walker.read(m_path, offset, std::min(left, kPiece), &error);
        if (piece.isEmpty()) // the share failed or the file ended early
            return false;
        if (!write(piece.constData(), size_t(piece.size())))
            return false;
        offset += piece.size();
        left -= piece.size();
    }
    return true;
}
