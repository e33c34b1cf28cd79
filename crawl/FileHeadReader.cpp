#include "crawl/FileHeadReader.h"

#include "core/Mpeg3Head.h"
#include "crawl/Id3Tags.h"
#include "quality/QualityPass.h"

namespace FileHeadReader {

qint64 bytesWanted(const QByteArray& start) {
    TMpeg3Head reader(true);
    qint64 needed = reader.bytesNeeded(start);
    if (start.size() >= needed && reader.ReadFrameHeader(start)) {
        // A high-rate file holds less music in the first read than the transcode check wants.
        const FrameHeader& frame = reader.header();
        needed = frame.headerOffset + QualityPass::bytesForJudging(frame.quality.bitrate);
    }
    return qBound(FileHead::kFirstRead, needed, FileHead::kMaxRead);
}

FileHead read(const QByteArray& head, qint64 fileSize, const QByteArray& tail) {
    FileHead result;
    TMpeg3Head reader(true);
    reader.ReadFrameHeader(head);
    result.frame = reader.header();
    if (result.frame.error.isEmpty()) {
        const bool sizeKnown = fileSize >= head.size();
        if (sizeKnown)
            result.frame.fileSize = fileSize - result.frame.headerOffset;
        result.frame.settleQuality();
        if (!sizeKnown && result.frame.quality.frames == 0)
            result.frame.quality.durationSeconds = 0; // the head's, not the file's
    }
    result.frame.quality.version = AudioQuality::kCurrentVersion;

    const Id3Tags v2 = Id3Tags::fromId3v2(head);
    const Id3Tags v1 = Id3Tags::fromId3v1(tail);
    result.artist = v2.artist.isEmpty() ? v1.artist : v2.artist;
    result.title = v2.title.isEmpty() ? v1.title : v2.title;
    return result;
}

void judge(const QByteArray& head, FileHead& found) {
    if (found.hasQuality())
        QualityPass::judgeAudio(head, found.frame);
}

} // namespace FileHeadReader
