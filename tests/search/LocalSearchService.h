#pragma once

#include "core/DataFileConfig.h"
#include "search/SearchRun.h"
#include "searchd/SearchService.h"
#include "searchd/library/SampleLibrary.h"
#include "searchd/pages/ServiceFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>
#include <thread>

// pellmar-searchd in-process on a free loopback port, over its sample library, for one test;
// with tls it speaks HTTPS. further: files written into the library beside the sample ones.
class LocalSearchService {
public:
    explicit LocalSearchService(ServiceSettings settings = {}, int files = 60,
                                std::shared_ptr<const TlsContext> tls = nullptr,
                                const QList<SampleLibrary::SampleFile>& further = {}) {
        SampleLibrary::write(m_dir.filePath("lib"), files);
        for (const SampleLibrary::SampleFile& file : further) {
            QDir().mkpath(QFileInfo(m_dir.filePath("lib/" + file.path)).absolutePath());
            QFile out(m_dir.filePath("lib/" + file.path));
            if (!out.open(QIODevice::WriteOnly) || out.write(SampleLibrary::content(file)) < 0)
                throw std::runtime_error("cannot write a library file");
        }
        settings.library = m_dir.filePath("lib");
        settings.database = m_dir.filePath("searchd.db");
        settings.port = 0;
        settings.logRequests = false;
        if (settings.ftpSite == ServiceSettings().ftpSite)
            settings.ftpSite = "anonymous@127.0.0.1:2121";
        m_service = std::make_unique<SearchService>(settings, std::move(tls));
        m_service->bind();
        m_thread = std::thread([this] { m_service->run(); });
    }
    ~LocalSearchService() {
        m_service->stop();
        m_thread.join();
    }
    LocalSearchService(const LocalSearchService&) = delete;
    LocalSearchService& operator=(const LocalSearchService&) = delete;

    QString base() const { return m_service->baseUrl(); }
    // The folder of the MP3 files the service indexes and serves.
    QString library() const { return m_dir.filePath("lib"); }
    // The four query addresses, read back from a data file the way the program reads it.
    SearchServiceUrls urls() const {
        const QString path = m_dir.filePath("Pellmar.dat");
        WriteDataFile(path, ServiceFiles::dataFileLines(base(), 1));
        DataFileConfig config;
        config.load(path);
        return SearchServiceUrls::fromDataFile(config);
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SearchService> m_service;
    std::thread m_thread;
};
