#include "crawl/Crawler.h"

#include "crawl/ProgressBoard.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSysInfo>
#include <cstdio>
#include <curl/curl.h>

namespace {

void printToStandardError(const QString& line) {
    std::fprintf(stderr, "pellmar-searchd: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

} // namespace

Crawler::Crawler(QList<CrawlSource> sources, CrawlSink& sink, CrawlLimits limits, Print print)
    : m_sources(std::move(sources)), m_sink(sink), m_limits(limits),
      m_board(std::make_unique<ProgressBoard>(m_sources,
                                              print ? std::move(print) : printToStandardError)) {
    static CurlGlobal global; // once per process, before any thread uses libcurl
}

Crawler::~Crawler() {
    stop();
    wait();
}

void Crawler::setLeases(SourceLeases& leases, QString holder, std::chrono::seconds length) {
    m_terms = LeaseTerms{&leases, std::move(holder), length};
}

QString Crawler::holderName() {
    return QStringLiteral("%1:%2:%3")
        .arg(QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

QList<Crawler::SourceState> Crawler::states() const {
    QList<SourceState> states;
    for (const ProgressBoard::Row& row : m_board->rows())
        states << SourceState{row.source, row.progress};
    return states;
}

void Crawler::start(std::chrono::seconds interval, bool takesRequests) {
    m_thread =
        std::thread([this, interval, takesRequests] { runSchedule(interval, takesRequests); });
}

bool Crawler::crawlNow() {
    const std::lock_guard lock(m_mutex);
    if (m_crawling)
        return false;
    m_asked = true;
    m_wake.notify_all();
    return true;
}

void Crawler::wait() {
    if (m_thread.joinable())
        m_thread.join();
}

void Crawler::stop() {
    m_stop = true;
    m_waker.wake();
    std::lock_guard lock(m_mutex);
    m_wake.notify_all();
}

void Crawler::runSchedule(std::chrono::seconds interval, bool takesRequests) {
    bool forced = false;
    while (!m_stop) {
        crawlOnce(forced);
        if (m_crawlEnded && !m_stop)
            m_crawlEnded();
        const bool scheduled = interval.count() > 0;
        if (m_stop || (!scheduled && !takesRequests))
            return;
        if (scheduled)
            m_board->setNextStart(QDateTime::currentDateTimeUtc().addSecs(interval.count()));
        std::unique_lock lock(m_mutex);
        const auto woken = [this] { return m_stop.load() || m_asked; };
        if (scheduled)
            m_wake.wait_for(lock, interval, woken);
        else
            m_wake.wait(lock, woken);
        forced = std::exchange(m_asked, false);
    }
}

void Crawler::crawlOnce(bool forced) {
    {
        const std::lock_guard lock(m_mutex);
        m_crawling = true;
    }
    m_board->setNextStart(QDateTime());
    CrawlLimits limits = m_limits;
    limits.forced = forced;
    CrawlRound(m_sources, m_sink, limits, m_terms, *m_board, m_stop, m_waker).run();
    m_board->tick();
    const std::lock_guard lock(m_mutex);
    m_crawling = false;
}
