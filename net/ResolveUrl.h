#pragma once

#include <QByteArray>

// Resolves a link (a Location value, an href) against the URL of the document it came from,
// as a browser does (RFC 3986 reference resolution): "file.mp3" from "http://h/dir/page"
// is "http://h/dir/file.mp3", "../x.mp3" climbs one folder, "//other/x.mp3" keeps the
// scheme, and "http://other/x" brings its own host and port (none means the default).
// A fragment is dropped; surrounding blanks of the link are ignored. The base must be an
// absolute URL with scheme and host ("http://host[:port]/path[?query]").
// The result is absolute and always has a path ("http://h" becomes "http://h/").
QByteArray ResolveUrl(const QByteArray& base, const QByteArray& link);
