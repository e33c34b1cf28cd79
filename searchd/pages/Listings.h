#pragma once

#include "searchd/index/IndexTypes.h"
#include "searchd/pages/ResultPages.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The SMB and FTP answers: tab-indented text trees in Windows-1252, one file per line, the
// size in bytes as the last field. Files whose names the program could not hold or would
// misread (tabs, line breaks, characters outside Windows-1252; for SMB a backslash, for
// FTP a colon) are left out. In UTF-8, as a request with charset=utf-8 asks, every
// character fits and only the tabs, line breaks, backslashes and colons leave a file out.
namespace Listings {

// One file of a listing: its site (SMB: the host; FTP: login@host:port) and its path from
// the share on (SMB: "share/folder/name") or from the server's root (FTP: "folder/name").
struct ListedFile {
    QString site;
    QString path;
    qint64 size = 0;
};

// Files of several sites: each site's files follow one another, the sites in the order
// they first come, and within a site the files of a folder together.
QByteArray smb(const QList<ListedFile>& files, PageCharset charset = PageCharset::Windows1252);
QByteArray ftp(const QList<ListedFile>& files, PageCharset charset = PageCharset::Windows1252);

// The library as the share \share\ of the computer host (an IP address):
//   host TAB \share\folder\ TAB name TAB size    the first file
//   TAB \share\other\ TAB name TAB size           the first file of another folder
//   TAB name TAB size                              the next file in the same folder
QByteArray smb(const QString& host, const QString& share, const QList<IndexedFile>& files);

// The library as the FTP site login@host:port. Every folder starts with a host line,
// because the program builds ftp:// URLs from host lines' folders written with '/':
//   site TAB /folder/ TAB name TAB size
//   TAB name TAB size
QByteArray ftp(const QString& site, const QList<IndexedFile>& files);

} // namespace Listings
