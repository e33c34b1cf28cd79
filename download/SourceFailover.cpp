#include "download/SourceFailover.h"

#include "download/DownloadJob.h"
#include "platform/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

SourceFailover::SourceFailover(const SettingsFile& ini, QStringList urls)
    : m_ini(ini), m_urls(std::move(urls)) {}

SourceFailover::~SourceFailover() = default;

void SourceFailover::jobEnded(const DownloadJob& job, bool continued) {
    m_path = job.TargetPath();
    const qint64 onDisk = job.resumeInfo().bytesOnDisk;
    // A job that never took a reply as the file left the partial file as it stood.
    if (onDisk == 0 && QFileInfo(m_path).size() == m_partial.size)
        return;
    if (onDisk == 0) {
        m_partial = Partial{}; // deleted as too small, or emptied for a reply that broke off
        return;
    }
    const qint64 announced = job.LengthKnown() ? job.AnnouncedLength() : -1;
    // A job that continued the file without hearing its size leaves the size known before.
    m_partial.total = announced >= 0 || !continued ? announced : m_partial.total;
    m_partial.size = onDisk;
}

bool SourceFailover::next() {
    if (m_index + 1 >= m_urls.size())
        return false;
    ++m_index;
    return true;
}

void SourceFailover::chooseStart(const std::function<void(Start)>& done) {
    if (m_partial.size == 0 || m_partial.total < 0) {
        done(Start::Afresh); // nothing to continue, or nothing to compare its size with
        return;
    }
    const QByteArray partialHead = readPartialHead();
    m_head = std::make_unique<SourceHead>(m_ini);
    m_head->fetch(Cp1252::fromUnicode(current()),
                  [this, done, partialHead](const SourceHead::Result& head) {
                      done(choose(m_partial, partialHead, head));
                  });
}

QByteArray SourceFailover::readPartialHead() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(SourceHead::kBytes);
}

SourceFailover::Start SourceFailover::choose(const Partial& partial, const QByteArray& partialHead,
                                             const SourceHead::Result& head) {
    if (partial.size <= 0 || partial.total < 0 || head.total != partial.total ||
        partial.size >= partial.total)
        return Start::Afresh;
    const auto compared = qsizetype(std::min(partial.size, SourceHead::kBytes));
    if (partialHead.size() < compared || head.bytes.size() < compared)
        return Start::Afresh;
    return partialHead.first(compared) == head.bytes.first(compared) ? Start::Continue
                                                                     : Start::Afresh;
}

bool SourceFailover::fetchable(const QString& url) {
    return url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// As the search service shows its sources: the user information goes whole, so that a
// password never reaches a terminal or a log.
QString SourceFailover::shownUrl(const QString& url) {
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return url;
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < url.size() && url[end] != QLatin1Char('/') && url[end] != QLatin1Char('?') &&
           url[end] != QLatin1Char('#'))
        ++end;
    const qsizetype at = end > start ? url.lastIndexOf(QLatin1Char('@'), end - 1) : -1;
    if (at < start)
        return url;
    return url.left(start) + url.mid(at + 1);
}
