#pragma once

#include "crawl/ListingRead.h"

#include <QByteArray>
#include <QDateTime>

// FTP folder listings: the machine-readable MLSD reply and the LIST reply of Unix-like
// servers ("ls -l" lines) and of Windows servers (IIS's DOS style). Names are UTF-8 bytes
// as the server sends them; lines end with CRLF or LF.
namespace FtpListing {

// type=dir/file/cdir/pdir (cdir and pdir dropped, other types too), size, modify.
ListingRead readMlsd(const QByteArray& body);

// Unix ("drwxr-xr-x 2 u g 4096 Jan 1 12:00 name", "l... name -> target") and DOS
// ("01-02-24 10:00AM <DIR> name"). A Unix date without a year lies within the year before
// now.
ListingRead readList(const QByteArray& body);
ListingRead readList(const QByteArray& body, const QDateTime& now);

} // namespace FtpListing
