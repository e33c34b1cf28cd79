#pragma once

#include "searchd/index/IndexTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class ServiceIndex;

// What the pages show of a found file's quality, whether the library's scan or a crawl read it.
struct ShownQuality {
    bool known = false;
    int bitrate = 0;    // kbit/s: the average for ABR and VBR
    int sampleRate = 0; // Hz
    QString channelMode;
    AudioQuality quality;
};

// One file a search found: from the library, or from a crawled server.
struct FoundFile {
    bool fromLibrary = true;
    IndexedFile file;   // path below the library or below the source's folder; size; tags
    CrawledHit crawled; // set for a crawled file

    // "library", or the crawled source's scheme: "http", "https", "ftp", "smb".
    QString kind() const;
    ShownQuality shownQuality() const;

    // A crawled file's own URL on its server, escaped for a link (ASCII, no blank, quote,
    // '<', '>' or '&'), with the FTP login but never a password. Empty for the library.
    QByteArray serverUrl() const;

    // For the FTP listing: "login@host:port" (anonymous, port 21 by default) and the file's
    // path from the server's root, without the leading '/'.
    QString ftpSite() const;
    QString ftpPath() const;

    // For the SMB listing: the host, and the path from the share on ("share/folder/name").
    // Empty host when the program could not reach the file: only an IPv4 address starts
    // a host line it reads, and it reaches SMB hosts on the usual port 445 only.
    QString smbHost() const;
    QString smbPath() const;
};

// Which files a search wants.
struct FileFilter {
    bool library = true;
    CrawlFilter crawled; // its minimum bitrate and hiding of transcodes hold for the
                         // library's files too

    // The filter of the people's page for kind (all, library, http, ftp or smb: http takes
    // https too); nothing for another kind.
    static std::optional<FileFilter> ofKind(const QString& kind, int minBitrate,
                                            bool hideTranscodes);
};

// One order for every answer: the library's files first (in index order), then the crawled
// ones by source URL and path; pages are cut from that one list.
class FoundFiles {
public:
    explicit FoundFiles(ServiceIndex& index);

    QList<FoundFile> search(const QStringList& words, const FileFilter& filter, int offset,
                            int limit);
    int count(const QStringList& words, const FileFilter& filter);

private:
    bool wantsLibrary(const FileFilter& filter) const;

    ServiceIndex& m_index;
};
