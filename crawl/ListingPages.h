#pragma once

#include "crawl/ListingRead.h"

#include <QByteArray>
#include <QUrl>

// Folder listings of web servers: nginx autoindex (HTML and JSON), Apache mod_autoindex
// (plain list, FancyIndexing table and preformatted list), lighttpd mod_dirlisting, Python's
// http.server and any other page whose links lead one level down.
namespace ListingPages {

// A listing page fetched from pageUrl (a folder URL ending in '/'). Entries are the links
// exactly one level below pageUrl's path on the same scheme, host and port, without query
// or fragment ("../", "./", "?C=N;O=D" sort links, absolute links elsewhere are not entries);
// folder = the link ends in '/'. The name comes from the decoded href, never from the link
// text, which servers cut short ("..>"). Size and date when the row shows them after the
// link: an exact byte count, or -1 for "-" and rounded sizes such as "1.2M".
// contentType "application/json" = nginx autoindex JSON.
ListingRead read(const QByteArray& body, const QByteArray& contentType, const QUrl& pageUrl);

} // namespace ListingPages
