#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlTypes.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

// The rules of one walk, the same for HTTP, FTP and SMB; the walks only move the bytes and
// ask. What ends a walk early (its root listing failed, the server stopped answering, too
// many errors), how far it goes (the page and depth limits), which folders it does not enter
// (a folder walked already, a link back up, a listing that repeats an ancestor's) and what a
// failure keeps (a folder that cannot be listed keeps itself and everything below it; a file
// that cannot be read keeps its old figures).
class WalkPolicy {
public:
    // The listings of a folder and of its ancestors, the folder's first; shared by the folders
    // queued below it, so that it lives only as long as they wait.
    struct Lineage {
        QByteArray listing; // listingKey() of the folder
        std::shared_ptr<const Lineage> parent;
    };
    using LineagePtr = std::shared_ptr<const Lineage>;

    explicit WalkPolicy(const CrawlLimits& limits) : m_limits(limits) {}

    // Something came from the server, an error answer too: the failures in a row end.
    void answered() { m_failuresInARow = 0; }
    // A folder could not be listed: why the walk must end now (its root failed, the server
    // stopped answering, too many errors), else empty (the folder and what lies below it
    // keep their old entries). silent: nothing came from the server.
    QString folderFailed(bool root, const QString& shown, const QString& why, bool silent);
    // A file could not be read: why the walk must end now, else empty (the file keeps its
    // old figures).
    QString fileFailed(const QString& why, bool silent);

    // Whether one more folder may be queued, with listed folders listed and queued queued:
    // the folders queued count against the page limit, so the queue stays bounded.
    bool mayQueue(qsizetype listed, qsizetype queued);
    // Whether a folder at depth (1 below the source's folder) may be entered.
    bool mayEnter(int depth);
    // True the first time a folder's key (its path on the server) is seen.
    bool firstVisit(const QString& key);
    // Whether a folder found in a listing is queued: not when its key was seen already nor
    // beyond the page limit. Only the keys of queued folders are held.
    bool mayQueueNew(const QString& key, qsizetype listed, qsizetype queued);
    // The server's path a link (FTP LIST) in the folder at folderPath leads to; empty when it
    // leads to that folder, to one of its ancestors or above the server's root.
    static QString linkedFolder(const QString& folderPath, const QString& target);

    // A folder's whole listing (names, kinds, sizes, dates) as a short key.
    static QByteArray listingKey(const QList<RemoteEntry>& entries);
    // True when key repeats the listing of a folder in lineage (the folder's ancestors): a
    // link back up (a symbolic link to "." or ".."), which is not entered.
    bool repeatsAncestor(const LineagePtr& lineage, const QByteArray& key);
    // The lineage of the folders below the one whose listing gave key.
    static LineagePtr below(LineagePtr lineage, QByteArray key);

    int folderErrors() const { return m_folderErrors; }
    int fileErrors() const { return m_fileErrors; }
    // Why a walk that reached what it could must still be given up (the page limit cut it
    // short), else empty.
    QString cutShort() const;
    // A listing dropped this many unsafe names.
    void leftOut(int names) { m_leftOut += names; }
    // What the status page notes beside the errors of a finished walk.
    QStringList notes() const;

private:
    QString failed(const QString& why, bool silent);

    CrawlLimits m_limits;
    QSet<QString> m_visited;
    int m_folderErrors = 0;
    int m_fileErrors = 0;
    int m_failuresInARow = 0;
    int m_loops = 0;
    int m_leftOut = 0;
    bool m_pageLimit = false;
    bool m_depthCut = false;
};
