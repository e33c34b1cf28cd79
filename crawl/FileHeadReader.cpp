#include "crawl/FileHeadReader.h"

#include "core/Mpeg3Head.h"
#include "crawl/Id3Tags.h"

namespace FileHeadReader {

qint64 bytesWanted(const QByteArray& start) {
    const qint64 needed = TMpeg3Head(true).bytesNeeded(start);
    return qBound(FileHead::kFirstRead, needed, FileHead::kMaxRead);
}

FileHead read(const QByteArray& head, qint64 fileSize, const QByteArray& tail) {
    FileHead result;
    TMpeg3Head reader(true);
    reader.ReadFrameHeader(head);
    result.frame = reader.header();
    if (fileSize >= head.size() && result.frame.error.isEmpty())
        result.frame.fileSize = fileSize - result.frame.headerOffset;

    const Id3Tags v2 = Id3Tags::fromId3v2(head);
    const Id3Tags v1 = Id3Tags::fromId3v1(tail);
    result.artist = v2.artist.isEmpty() ? v1.artist : v2.artist;
    result.title = v2.title.isEmpty() ? v1.title : v2.title;
    return result;
}

} // namespace FileHeadReader
