#pragma once

#include "crawl/CrawlTypes.h"

#include <QHash>
#include <QMap>
#include <mutex>

// A CrawlSink in memory for the crawler's tests: the folders of each source as the last
// walks left them, with counts of what the walks asked for.
class MemorySink : public CrawlSink {
public:
    struct Folder {
        QByteArray fingerprint;
        QList<CrawledFile> files;
        qint64 seen = 0; // the crawl that last stored or kept it
    };
    struct Source {
        qint64 crawl = 0;
        QMap<QString, Folder> folders;
        bool stale = false;
        QString reason;
        int finished = 0, abandoned = 0, stored = 0, kept = 0, keptSubtrees = 0;
        int lastErrors = 0, fileErrors = 0; // folders and files the last finished walk missed
    };

    qint64 beginCrawl(const CrawlSource& source) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        s.stored = s.kept = s.keptSubtrees = 0;
        return ++s.crawl;
    }
    QByteArray folderFingerprint(const CrawlSource& source, const QString& folder) override {
        std::lock_guard lock(m_mutex);
        return m_sources[source.id].folders.value(folder).fingerprint;
    }
    QList<CrawledFile> folderFiles(const CrawlSource& source, const QString& folder) override {
        std::lock_guard lock(m_mutex);
        return m_sources[source.id].folders.value(folder).files;
    }
    void storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                     const QByteArray& fingerprint, const QList<CrawledFile>& files) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        s.folders[folder] = Folder{fingerprint, files, crawl};
        ++s.stored;
    }
    void keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        s.folders[folder].seen = crawl;
        ++s.kept;
    }
    void keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        for (auto it = s.folders.begin(); it != s.folders.end(); ++it)
            if (folder.isEmpty() || it.key() == folder || it.key().startsWith(folder + '/'))
                it->seen = crawl;
        ++s.keptSubtrees;
    }
    void finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        for (auto it = s.folders.begin(); it != s.folders.end();)
            it = it->seen == crawl ? std::next(it) : s.folders.erase(it);
        s.stale = false;
        s.lastErrors = errors.folders;
        s.fileErrors = errors.files;
        ++s.finished;
    }
    void abandonCrawl(const CrawlSource& source, qint64, const QString& reason) override {
        std::lock_guard lock(m_mutex);
        Source& s = m_sources[source.id];
        s.stale = true;
        s.reason = reason;
        ++s.abandoned;
    }

    Source source(const QString& id) {
        std::lock_guard lock(m_mutex);
        return m_sources.value(id);
    }
    // Every file of a source by path.
    QMap<QString, CrawledFile> files(const QString& id) {
        QMap<QString, CrawledFile> all;
        for (const Folder& folder : source(id).folders)
            for (const CrawledFile& file : folder.files)
                all.insert(file.path, file);
        return all;
    }

private:
    std::mutex m_mutex;
    QHash<QString, Source> m_sources;
};
