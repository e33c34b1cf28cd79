#pragma once

#include "crawl/CrawlTypes.h"

#include <QByteArray>

// What the first bytes and the last 128 bytes of a remote MP3 file tell: the frame header,
// read by the program's own reader (TMpeg3Head with ID3v2 skipping on, so that the service
// finds the quality the program's probe finds in the same bytes), and artist and title from
// the ID3v2 tag, else the ID3v1 tag.
namespace FileHeadReader {

// How many leading bytes a full read needs, judged from the first bytes: FileHead::kFirstRead
// normally; the ID3v2 tag and the first frame when a tag is larger; and the seconds of music
// the transcode check wants when the file's rate is high; never more than FileHead::kMaxRead.
// Answers <= start.size() when start is enough.
qint64 bytesWanted(const QByteArray& start);

// head: the file's first bytes; fileSize: -1 when unknown; tail: the last 128 bytes or empty.
// frame.fileSize counts from the frame header to the file's end, or to the end of head when
// the size is unknown. Reads the header, its quality (not yet the verdict) and the tags.
FileHead read(const QByteArray& head, qint64 fileSize, const QByteArray& tail);

// Decodes the audio in head and judges it for a transcode (found.frame.quality's verdict).
void judge(const QByteArray& head, FileHead& found);

} // namespace FileHeadReader
