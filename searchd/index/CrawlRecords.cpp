#include "searchd/index/CrawlRecords.h"

#include <QSet>

namespace {

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

} // namespace

QList<CrawledFile> CrawlRecords::filesOfFolder(const QString& folder,
                                               const QList<CrawledFile>& files) {
    QList<CrawledFile> own;
    QSet<QString> paths;
    for (const CrawledFile& file : files) {
        if (file.path.isEmpty() || file.path.endsWith(QLatin1Char('/')) ||
            folderOf(file.path) != folder || paths.contains(file.path))
            continue;
        paths.insert(file.path);
        own.append(file);
    }
    return own;
}

QString CrawlRecords::schemeList(const QStringList& schemes) {
    return QLatin1Char(',') + schemes.join(QLatin1Char(',')) + QLatin1Char(',');
}

QString CrawlRecords::sourceList(const QStringList& ids) {
    return QLatin1Char('\n') + ids.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString CrawlRecords::finishedWith(const WalkErrors& errors) {
    QStringList parts;
    if (errors.folders > 0)
        parts << QStringLiteral("%1 folders could not be read (kept with what lies below them)")
                     .arg(errors.folders);
    if (errors.files > 0)
        parts << QStringLiteral("%1 files could not be read (kept as they were)").arg(errors.files);
    return parts.join(QStringLiteral("; "));
}

QString CrawlRecords::abandonedFor(const QString& reason) {
    return reason.left(500);
}
