#include "crawl/SmbWalk.h"

#include "crawl/CrawlSources.h"
#include "crawl/FolderPlan.h"
#include "crawl/ProgressBoard.h"
#include "crawl/SmbWalker.h"

#include <QDir>
#include <QSet>
#include <deque>

namespace {

struct Folder {
    QString path;
    int depth = 0;
};

} // namespace

SmbWalk::SmbWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
                 ProgressBoard& board, const std::atomic<bool>& stop, const std::atomic<bool>& lost)
    : m_index(index), m_source(source), m_sink(sink), m_limits(limits), m_board(board),
      m_stop(stop), m_lost(lost) {}

WalkResult SmbWalk::run() {
    try {
        return walk();
    } catch (const std::exception& error) {
        return {WalkEnd::IndexFailed, QString::fromLocal8Bit(error.what())};
    }
}

WalkResult SmbWalk::walk() {
    m_board.started(m_index);
    const qint64 crawl = m_sink.beginCrawl(m_source);
    SmbWalker walker(m_source);
    std::deque<Folder> folders{{QString(), 0}};
    QSet<QString> visited{QString()};
    int pages = 0, errors = 0, failuresInARow = 0;
    bool depthCut = false;
    bool pageLimit = false;
    WalkResult lost{WalkEnd::Lost, QString()}; // returned by copy from several places
    const auto abandon = [&](const QString& reason) {
        if (m_lost)
            return lost;
        m_sink.abandonCrawl(m_source, crawl, reason);
        m_board.ended(m_index, true, reason);
        return WalkResult{WalkEnd::Abandoned, QString()};
    };
    const auto failed = [&](const QString& what, const QString& why) {
        ++errors;
        ++failuresInARow;
        m_board.error(m_index, QStringLiteral("%1: %2").arg(what, why));
    };
    while (!folders.empty()) {
        if (m_stop || m_lost)
            return abandon(QStringLiteral("the service stops"));
        const Folder folder = folders.front();
        folders.pop_front();
        ++pages;
        const QString shown = CrawlSources::shown(m_source.url) + folder.path;
        const ListingRead read = walker.list(folder.path);
        if (m_lost) // the listing may have taken long
            return lost;
        if (!read.error.isEmpty()) {
            failed(shown, read.error);
            // Without its root listing a walk knows nothing: finishing would empty the index.
            if (folder.path.isEmpty())
                return abandon(QStringLiteral("cannot list %1: %2").arg(shown, read.error));
            if (failuresInARow >= m_limits.maxFailuresInARow)
                return abandon(QStringLiteral("the server stopped answering (%1)").arg(read.error));
            if (errors >= m_limits.maxErrors)
                return abandon(QStringLiteral("too many errors (%1)").arg(errors));
            m_sink.keepFolder(m_source, crawl, folder.path);
            continue;
        }
        failuresInARow = 0;
        m_board.update(m_index, [](CrawlProgress& p) { ++p.pages; });
        qint64 mp3s = 0;
        for (const RemoteEntry& entry : read.entries) {
            const QString path = FolderPlan::join(folder.path, entry.name);
            const bool link = !entry.linkTarget.isEmpty();
            if (FolderPlan::isMp3(entry.name) && !entry.folder) {
                ++mp3s;
                continue;
            }
            if (!entry.folder)
                continue;
            if (folder.depth + 1 > m_limits.maxDepth) {
                depthCut = true;
                continue;
            }
            // A link is entered once, and never when it leads back up.
            const QString real =
                link ? QDir::cleanPath(entry.linkTarget.startsWith(QLatin1Char('/'))
                                           ? entry.linkTarget
                                           : folder.path + QLatin1Char('/') + entry.linkTarget)
                     : path;
            if (link && (folder.path == real || folder.path.startsWith(real + QLatin1Char('/')) ||
                         real.startsWith(QLatin1String(".."))))
                continue;
            if (visited.contains(real))
                continue;
            // Folders queued count against the page limit, so the queue stays bounded.
            if (pages + qsizetype(folders.size()) >= m_limits.maxPages) {
                pageLimit = true;
                continue;
            }
            visited.insert(real);
            folders.push_back({path, folder.depth + 1});
        }
        m_board.update(m_index, [mp3s](CrawlProgress& p) { p.files += mp3s; });
        const QByteArray fingerprint = FolderPlan::fingerprintOf(read.entries);
        const QByteArray before = m_sink.folderFingerprint(m_source, folder.path);
        if (!before.isEmpty() && before == fingerprint) {
            m_sink.keepFolder(m_source, crawl, folder.path);
            continue;
        }
        FolderPlan plan =
            FolderPlan::make(folder.path, read.entries, m_sink.folderFiles(m_source, folder.path));
        if (!m_limits.readHeads)
            plan.needHead.clear();
        for (int index : plan.needHead) {
            if (m_stop || m_lost)
                return abandon(QStringLiteral("the service stops"));
            CrawledFile& file = plan.files[index];
            HeadRead head(file.size);
            QString error;
            for (HeadRead::Range part = head.next(); part.count > 0; part = head.next()) {
                qint64 offset = part.offset;
                if (offset < 0) {
                    const qint64 size = walker.size(file.path, &error);
                    offset = size >= 0 ? std::max<qint64>(0, size - part.count) : -1;
                }
                const QByteArray bytes =
                    offset < 0 ? QByteArray() : walker.read(file.path, offset, part.count, &error);
                m_board.update(m_index, [&](CrawlProgress& p) { p.bytes += bytes.size(); });
                if (!error.isEmpty()) {
                    failed(shown + QLatin1Char('/') + file.path.section(QLatin1Char('/'), -1),
                           error);
                    break;
                }
                head.add(part, bytes, -1);
            }
            if (!error.isEmpty() && !head.hasHead())
                continue; // kept with its name and size, without quality
            head.giveUp();
            file.head = head.result();
            file.headRead = true;
            m_board.update(m_index, [](CrawlProgress& p) { ++p.heads; });
        }
        if (m_lost)
            return lost;
        m_sink.storeFolder(m_source, crawl, plan.folder, plan.fingerprint, plan.files);
    }
    if (depthCut)
        m_board.update(m_index, [this](CrawlProgress& p) {
            p.lastErrors
                << QStringLiteral("folders deeper than %1 were not walked").arg(m_limits.maxDepth);
        });
    if (pageLimit)
        return abandon(CrawlLimits::pageLimitReason(m_limits.maxPages));
    if (m_lost)
        return lost;
    m_sink.finishCrawl(m_source, crawl, errors);
    m_board.ended(m_index, false, QString());
    return {WalkEnd::Finished, QString()};
}
