#pragma once

#include "crawl/CrawlSources.h"
#include "searchd/library/SampleLibrary.h"
#include "support/LocalServerProcess.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// The crawl tests' web server of awkward folders (tests/crawl/crawl_server.py, named by
// PELLMAR_CRAWL_SERVER), run by LocalServerProcess; every MP3 file it serves is one sample.
inline LocalServerProcess::Configure crawlServerSite() {
    return [](const QString& folder, unsigned short port) {
        QFile sample(QDir(folder).filePath("sample.mp3"));
        if (sample.open(QIODevice::WriteOnly))
            sample.write(SampleLibrary::content(SampleLibrary::plan(8)[3]));
        return QStringList{PELLMAR_CRAWL_SERVER, QString::number(port), folder};
    };
}

// The source a sources-file line names; the test fails when the line is refused.
inline CrawlSource sourceFor(const QString& url) {
    CrawlSource source;
    QString problem;
    EXPECT_TRUE(CrawlSources::parseLine(url, &source, &problem)) << problem.toStdString();
    return source;
}
