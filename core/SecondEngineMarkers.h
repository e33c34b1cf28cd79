#pragma once

#include <QByteArray>

// The second search engine's page markers. The program keeps them scrambled, like the lines
// of the data file, and descrambles them each time it reads a page.
namespace SecondEngineMarkers {

// Marker A, 43 characters: the last line of a page holds it when nothing matched.
inline constexpr char kNoResultsScrambled[] =
    "\x9f\xa8\x83\x9b\xaf\x99\xb6\xab\xa0\xc6\xd2\xc6\xc8\x96\xb1\xc7\x83\xa5\xb3\x8b\x83\xbe"
    "\xcc\xc4\xc8\xcb\x83\xc5\xc4\xcc\xc6\xc0\x83\xd1\xd2\xcd\xd5\x78\xda\xc7\xd5\xbc\xd6";

// Marker B, 17 characters: starts the line that carries the "previous" and "next" links.
inline constexpr char kPagingScrambled[] =
    "\x85\x82\x92\x94\x69\x81\x95\x7f\x9c\x91\x86\xae\xaa\xa5\xae\xb1\x87";

// Marker C, 13 characters: starts the line that carries the result links.
inline constexpr char kResultsScrambled[] = "\x81\x7e\x8e\x90\x65\x83\x89\x77\xad\xa3\xb9\xad\x83";

QByteArray noResultsMarker();
QByteArray pagingMarker();
QByteArray resultsMarker();

} // namespace SecondEngineMarkers
