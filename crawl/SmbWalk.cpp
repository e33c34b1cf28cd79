#include "crawl/SmbWalk.h"

#include "crawl/CrawlSources.h"
#include "crawl/FolderPlan.h"
#include "crawl/ProgressBoard.h"
#include "crawl/SmbWalker.h"

struct SmbWalk::Folder {
    QString path;
    int depth = 0;
    WalkPolicy::LineagePtr lineage; // the listings of its ancestors
};

// How the walk ended, thrown from where it ended (not a std::exception: the index did not fail).
class SmbWalk::Ended {
public:
    explicit Ended(WalkEnd end) : result{end, QString()} {}
    WalkResult result;
};

SmbWalk::SmbWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
                 ProgressBoard& board, const std::atomic<bool>& stop, const std::atomic<bool>& lost)
    : m_index(index), m_source(source), m_sink(sink), m_limits(limits), m_board(board),
      m_stop(stop), m_lost(lost), m_policy(limits) {}

SmbWalk::~SmbWalk() = default;

WalkResult SmbWalk::run() {
    try {
        return walk();
    } catch (const Ended& ended) {
        return ended.result;
    } catch (const std::exception& error) {
        return {WalkEnd::IndexFailed, QString::fromLocal8Bit(error.what())};
    }
}

WalkResult SmbWalk::walk() {
    m_board.started(m_index);
    m_crawl = m_sink.beginCrawl(m_source);
    m_walker = std::make_unique<SmbWalker>(m_source);
    std::deque<Folder> queue{{QString(), 0, nullptr}};
    m_policy.firstVisit(QString());
    while (!queue.empty()) {
        checkStop();
        const Folder folder = std::move(queue.front());
        queue.pop_front();
        ++m_listed;
        listFolder(folder, queue);
    }
    const QString cut = m_policy.cutShort();
    if (!cut.isEmpty())
        abandon(cut);
    if (m_lost)
        throw Ended(WalkEnd::Lost);
    const QStringList notes = m_policy.notes();
    m_board.update(m_index, [&](CrawlProgress& p) { p.lastErrors << notes; });
    m_sink.finishCrawl(m_source, m_crawl, {m_policy.folderErrors(), m_policy.fileErrors()});
    m_board.ended(m_index, false, QString());
    return {WalkEnd::Finished, QString()};
}

// Ends the walk at a stop (abandoned) or when another crawler took the source (nothing more
// is written).
void SmbWalk::checkStop() {
    if (m_lost)
        throw Ended(WalkEnd::Lost);
    if (m_stop)
        abandon(QStringLiteral("the service stops"));
}

void SmbWalk::abandon(const QString& reason) {
    if (m_lost)
        throw Ended(WalkEnd::Lost);
    m_sink.abandonCrawl(m_source, m_crawl, reason);
    m_board.ended(m_index, true, reason);
    throw Ended(WalkEnd::Abandoned);
}

void SmbWalk::listFolder(const Folder& folder, std::deque<Folder>& queue) {
    const QString shown = CrawlSources::shown(m_source.url) + folder.path;
    const ListingRead read = m_walker->list(folder.path);
    if (m_lost) // the listing may have taken long
        throw Ended(WalkEnd::Lost);
    if (!read.error.isEmpty()) {
        m_board.error(m_index, QStringLiteral("%1: %2").arg(shown, read.error));
        const QString end = m_policy.folderFailed(folder.path.isEmpty(), shown, read.error,
                                                  m_walker->lastFailureSilent());
        if (!end.isEmpty())
            abandon(end);
        m_sink.keepSubtree(m_source, m_crawl, folder.path);
        return;
    }
    m_policy.answered();
    m_board.update(m_index, [](CrawlProgress& p) { ++p.pages; });
    m_policy.leftOut(read.leftOut);
    // A folder that lists what one of its ancestors lists is that ancestor again, reached
    // through a link back up (smbd follows links): it is not entered.
    QByteArray key = WalkPolicy::listingKey(read.entries);
    if (m_policy.repeatsAncestor(folder.lineage, key))
        return;
    const WalkPolicy::LineagePtr lineage = WalkPolicy::below(folder.lineage, std::move(key));
    qint64 mp3s = 0;
    for (const RemoteEntry& entry : read.entries) {
        if (!entry.folder) {
            mp3s += FolderPlan::isMp3(entry.name) ? 1 : 0;
            continue;
        }
        const QString path = FolderPlan::join(folder.path, entry.name);
        if (!m_policy.mayEnter(folder.depth + 1) ||
            !m_policy.mayQueueNew(path, m_listed, qsizetype(queue.size())))
            continue;
        queue.push_back({path, folder.depth + 1, lineage});
    }
    m_board.update(m_index, [mp3s](CrawlProgress& p) { p.files += mp3s; });
    const QByteArray fingerprint = FolderPlan::fingerprintOf(read.entries);
    const QByteArray before = m_sink.folderFingerprint(m_source, folder.path);
    if (FolderPlan::keepsFolder(before, fingerprint, read.entries, m_limits.forced)) {
        m_sink.keepFolder(m_source, m_crawl, folder.path);
        return;
    }
    FolderPlan plan = FolderPlan::make(folder.path, read.entries,
                                       m_sink.folderFiles(m_source, folder.path), m_limits.forced);
    if (!m_limits.readHeads)
        plan.needHead.clear();
    readHeads(plan, shown);
    if (m_lost)
        throw Ended(WalkEnd::Lost);
    m_sink.storeFolder(m_source, m_crawl, plan.folder, plan.fingerprint, plan.files);
}

void SmbWalk::readHeads(FolderPlan& plan, const QString& shown) {
    for (qsizetype n = 0; n < plan.needHead.size(); ++n) {
        if (m_stop || m_lost) {
            storeWhatWasRead(plan, n);
            checkStop();
        }
        const int index = plan.needHead[n];
        CrawledFile& file = plan.files[index];
        HeadRead head(file.size);
        QString error;
        for (HeadRead::Range part = head.next(); part.count > 0; part = head.next()) {
            qint64 offset = part.offset;
            if (offset < 0) {
                const qint64 size = m_walker->size(file.path, &error);
                offset = size >= 0 ? std::max<qint64>(0, size - part.count) : -1;
            }
            const QByteArray bytes =
                offset < 0 ? QByteArray() : m_walker->read(file.path, offset, part.count, &error);
            m_board.update(m_index, [&](CrawlProgress& p) { p.bytes += bytes.size(); });
            if (!error.isEmpty())
                break;
            head.add(part, bytes, -1);
        }
        // With its new quality when the head came (a later part failed), else as it was.
        if (head.hasHead() || error.isEmpty()) {
            head.giveUp();
            file.head = head.result();
            file.headRead = true;
            m_board.update(m_index, [](CrawlProgress& p) { ++p.heads; });
        } else {
            plan.keepOld(index);
        }
        if (error.isEmpty()) {
            m_policy.answered();
            continue;
        }
        m_board.error(
            m_index,
            QStringLiteral("%1/%2: %3").arg(shown, file.path.section(QLatin1Char('/'), -1), error));
        const QString end = m_policy.fileFailed(error, m_walker->lastFailureSilent());
        if (!end.isEmpty()) {
            storeWhatWasRead(plan, n + 1);
            abandon(end);
        }
    }
}

// The walk ends inside a folder: the heads read so far are kept, the files from needHead[from]
// on keep their old figures, to be read by the next walk.
void SmbWalk::storeWhatWasRead(FolderPlan& plan, qsizetype from) {
    if (m_lost)
        return;
    for (qsizetype n = from; n < plan.needHead.size(); ++n)
        plan.keepOld(plan.needHead[n]);
    m_sink.storeFolder(m_source, m_crawl, plan.folder, plan.fingerprint, plan.files);
}
