#pragma once

#include "download/SourceHead.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class DownloadJob;
class SettingsFile;

// The sources of one file, best first, for a download that goes on from the next source when
// the current one has failed for good. What the failed jobs left on disk is continued from
// the next source only when that source's file has the size an earlier source announced and
// begins with the same 16 KiB as the partial file (its head is fetched with a range request,
// SourceHead); otherwise the next source starts afresh, and its reply replaces the partial
// file once it has been judged to be the file. A size no source announced cannot be
// compared: the next source starts afresh. Only http:// and https:// sources can be fetched
// by a DownloadJob; the others fail at once.
class SourceFailover {
public:
    enum class Start { Continue, Afresh };

    // What is on disk of the file: its length, and the file's whole size as a source
    // announced it (-1: none did).
    struct Partial {
        qint64 size = 0;
        qint64 total = -1;
    };

    SourceFailover(const SettingsFile& ini, QStringList urls);
    ~SourceFailover();

    qsizetype count() const { return m_urls.size(); }
    qsizetype index() const { return m_index; } // of the current source, from 0
    QString current() const { return m_urls.value(m_index); }
    const Partial& partial() const { return m_partial; }

    // Takes in what the current source's job left on disk; continued: the job went on from
    // the file as it stood.
    void jobEnded(const DownloadJob& job, bool continued);
    // Moves on to the next source; false when none is left.
    bool next();
    // How the current source takes over the partial file. done is called once, at once when
    // there is nothing to compare, else when the source's head has come or failed.
    void chooseStart(const std::function<void(Start)>& done);

    // The choice from the partial file's first bytes and the next source's head.
    static Start choose(const Partial& partial, const QByteArray& partialHead,
                        const SourceHead::Result& head);
    static bool fetchable(const QString& url);
    // The URL as it may be shown: without a user name and password.
    static QString shownUrl(const QString& url);

private:
    QByteArray readPartialHead() const;

    const SettingsFile& m_ini;
    QStringList m_urls;
    qsizetype m_index = 0;
    Partial m_partial;
    QString m_path; // the file the jobs write
    std::unique_ptr<SourceHead> m_head;
};
