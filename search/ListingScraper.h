#pragma once

#include "search/EngineCharset.h"

#include <QByteArray>
#include <QList>
#include <functional>

// A number from 0 to n - 1, drawn at random. Tests pass a seeded one.
using RandomIndex = std::function<int(int n)>;

// The FTP and SMB searches answer with a tab-indented tree: a host line, then lines for
// the files on that host, some of which open a new folder. These turn the lines into
// store records (host TAB folder TAB file name TAB rest, core/HitRecords.h) in random
// order. A line that lacks fields yields empty ones and is stored all the same; a file named
// "." or ".." is the folder itself or the one above and is left out. A UTF-8 listing's host,
// folder and name become hit texts (core/HitText.h).

// Host lines are the lines holding ':' (login@host:port).
QList<QByteArray> ScrapeFtpListing(const QList<QByteArray>& lines, const RandomIndex& random,
                                   EngineCharset charset = EngineCharset::Windows1252);

// Host lines start with a decimal digit (an IP address).
QList<QByteArray> ScrapeSmbListing(const QList<QByteArray>& lines, const RandomIndex& random,
                                   EngineCharset charset = EngineCharset::Windows1252);
