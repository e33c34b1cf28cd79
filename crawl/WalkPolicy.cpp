#include "crawl/WalkPolicy.h"

#include <QCryptographicHash>
#include <QDir>

QString WalkPolicy::folderFailed(bool root, const QString& shown, const QString& why, bool silent) {
    ++m_folderErrors;
    QString end = failed(why, silent);
    // Without its root listing a walk knows nothing: finishing it would empty the index.
    if (end.isEmpty() && root)
        return QStringLiteral("cannot list %1: %2").arg(shown, why);
    return end;
}

QString WalkPolicy::fileFailed(const QString& why, bool silent) {
    ++m_fileErrors;
    return failed(why, silent);
}

QString WalkPolicy::failed(const QString& why, bool silent) {
    if (!silent)
        m_failuresInARow = 0;
    else if (++m_failuresInARow >= m_limits.maxFailuresInARow)
        return QStringLiteral("the server stopped answering (%1)").arg(why);
    const int errors = m_folderErrors + m_fileErrors;
    if (errors >= m_limits.maxErrors)
        return QStringLiteral("too many errors (%1)").arg(errors);
    return QString();
}

bool WalkPolicy::mayQueue(qsizetype listed, qsizetype queued) {
    if (listed + queued < m_limits.maxPages)
        return true;
    m_pageLimit = true;
    return false;
}

bool WalkPolicy::mayQueueNew(const QString& key, qsizetype listed, qsizetype queued) {
    if (m_visited.contains(key) || !mayQueue(listed, queued))
        return false;
    m_visited.insert(key);
    return true;
}

bool WalkPolicy::mayEnter(int depth) {
    if (depth <= m_limits.maxDepth)
        return true;
    m_depthCut = true;
    return false;
}

bool WalkPolicy::firstVisit(const QString& key) {
    if (m_visited.contains(key))
        return false;
    m_visited.insert(key);
    return true;
}

QString WalkPolicy::linkedFolder(const QString& folderPath, const QString& target) {
    const QString joined =
        target.startsWith(QLatin1Char('/')) ? target : folderPath + QLatin1Char('/') + target;
    QString real = QDir::cleanPath(joined);
    if (!real.startsWith(QLatin1Char('/')) || real.startsWith(QLatin1String("/..")))
        return QString(); // above the server's root
    if (real == QLatin1String("/") || real == folderPath ||
        folderPath.startsWith(real + QLatin1Char('/')))
        return QString(); // the folder itself or an ancestor
    return real;
}

QByteArray WalkPolicy::listingKey(const QList<RemoteEntry>& entries) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const RemoteEntry& entry : entries) {
        hash.addData(entry.name.toUtf8());
        hash.addData(QByteArray(1, entry.folder ? '\x01' : '\x02'));
        hash.addData(QByteArray::number(entry.size));
        hash.addData(QByteArray(1, '\x01'));
        hash.addData(QByteArray::number(
            entry.modified.isValid() ? entry.modified.toMSecsSinceEpoch() : qint64(-1)));
        hash.addData(QByteArray(1, '\x02'));
    }
    return hash.result();
}

bool WalkPolicy::repeatsAncestor(const LineagePtr& lineage, const QByteArray& key) {
    for (const Lineage* folder = lineage.get(); folder; folder = folder->parent.get()) {
        if (folder->listing == key) {
            ++m_loops;
            return true;
        }
    }
    return false;
}

WalkPolicy::LineagePtr WalkPolicy::below(LineagePtr lineage, QByteArray key) {
    return std::make_shared<const Lineage>(Lineage{std::move(key), std::move(lineage)});
}

QString WalkPolicy::cutShort() const {
    return m_pageLimit ? CrawlLimits::pageLimitReason(m_limits.maxPages) : QString();
}

QStringList WalkPolicy::notes() const {
    QStringList notes;
    if (m_depthCut)
        notes << QStringLiteral("folders deeper than %1 were not walked").arg(m_limits.maxDepth);
    if (m_loops > 0)
        notes << QStringLiteral("%1 folders repeat an ancestor's listing (links back up) and "
                                "were not entered")
                     .arg(m_loops);
    if (m_leftOut > 0)
        notes << QStringLiteral("%1 names were left out: not UTF-8, or holding control "
                                "characters")
                     .arg(m_leftOut);
    return notes;
}
