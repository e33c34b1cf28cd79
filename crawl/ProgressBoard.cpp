#include "crawl/ProgressBoard.h"

#include "crawl/CrawlSources.h"

namespace {

QString bytesText(qint64 bytes) {
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

} // namespace

ProgressBoard::ProgressBoard(const QList<CrawlSource>& sources, Print print)
    : m_print(std::move(print)) {
    for (const CrawlSource& source : sources)
        m_entries << Entry{source, CrawlProgress{}, {}, {}};
}

QString ProgressBoard::describe(const CrawlProgress& p) {
    return QStringLiteral("%1 pages, %2 files, %3 heads, %4, %5 errors")
        .arg(p.pages)
        .arg(p.files)
        .arg(p.heads)
        .arg(bytesText(p.bytes))
        .arg(p.errors);
}

void ProgressBoard::update(int source, const std::function<void(CrawlProgress&)>& change) {
    std::lock_guard lock(m_mutex);
    change(m_entries[source].progress);
}

void ProgressBoard::error(int source, const QString& text) {
    std::lock_guard lock(m_mutex);
    CrawlProgress& p = m_entries[source].progress;
    ++p.errors;
    p.lastErrors << text;
    while (p.lastErrors.size() > 10)
        p.lastErrors.removeFirst();
}

void ProgressBoard::started(int source) {
    std::lock_guard lock(m_mutex);
    Entry& e = m_entries[source];
    const QStringList errors = e.progress.lastErrors;
    const bool stale = e.progress.stale;
    e.progress = CrawlProgress{};
    e.progress.stale = stale;
    e.progress.lastErrors = errors;
    e.progress.running = true;
    e.progress.waiting.clear();
    e.progress.lastStarted = QDateTime::currentDateTimeUtc();
    e.began = std::chrono::steady_clock::now();
    e.lastPrinted = e.began;
}

void ProgressBoard::waiting(int source, const QString& why) {
    QString line;
    {
        std::lock_guard lock(m_mutex);
        Entry& e = m_entries[source];
        if (e.progress.waiting == why)
            return;
        e.progress.waiting = why;
        if (!why.isEmpty())
            line = QStringLiteral("crawl of %1 waiting: %2")
                       .arg(CrawlSources::shown(e.source.url), why);
    }
    if (!line.isEmpty())
        m_print(line);
}

void ProgressBoard::ended(int source, bool stale, const QString& reason) {
    QString line;
    {
        std::lock_guard lock(m_mutex);
        Entry& e = m_entries[source];
        e.progress.running = false;
        e.progress.stale = stale;
        e.progress.lastFinished = QDateTime::currentDateTimeUtc();
        if (!reason.isEmpty()) {
            e.progress.lastErrors << reason;
            while (e.progress.lastErrors.size() > 10)
                e.progress.lastErrors.removeFirst();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - e.began).count();
        // One arg() call: a URL's or a reason's "%3C" is no placeholder of a later call.
        line = QStringLiteral("crawl of %1 %2 after %3 s: %4")
                   .arg(CrawlSources::shown(e.source.url),
                        stale ? QStringLiteral("stopped early (%1)").arg(reason)
                              : QStringLiteral("finished"),
                        QString::number(seconds, 'f', 1), describe(e.progress));
    }
    m_print(line);
}

bool ProgressBoard::running(int source) const {
    std::lock_guard lock(m_mutex);
    return m_entries[source].progress.running;
}

void ProgressBoard::say(int source, const QString& text) {
    QString line;
    {
        std::lock_guard lock(m_mutex);
        line = QStringLiteral("crawl of %1: %2")
                   .arg(CrawlSources::shown(m_entries[source].source.url), text);
    }
    m_print(line);
}

void ProgressBoard::setNextStart(const QDateTime& when) {
    std::lock_guard lock(m_mutex);
    for (Entry& e : m_entries)
        e.progress.nextStart = when;
}

void ProgressBoard::tick() {
    QStringList lines;
    {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        for (Entry& e : m_entries) {
            if (!e.progress.running || now - e.lastPrinted < std::chrono::seconds(1))
                continue;
            e.lastPrinted = now;
            lines << QStringLiteral("crawling %1: %2")
                         .arg(CrawlSources::shown(e.source.url), describe(e.progress));
        }
    }
    for (const QString& line : lines)
        m_print(line);
}

QList<ProgressBoard::Row> ProgressBoard::rows() const {
    std::lock_guard lock(m_mutex);
    QList<Row> rows;
    for (const Entry& e : m_entries)
        rows << Row{e.source, e.progress};
    return rows;
}
