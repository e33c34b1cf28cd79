// Arbitrary bytes as the start of an MP3 file: the frame-header reader, with and without
// ID3v2 skipping, either reads a header with every text filled or gives one of its errors.
#include "core/Mpeg3Head.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const bool skip : {false, true}) {
        TMpeg3Head head(skip);
        const bool ok = head.ReadFrameHeader(bytes);
        const FrameHeader& h = head.header();
        if (ok != h.error.isEmpty())
            std::abort();
        if (ok && (h.bitrate.isEmpty() || h.sampleRate.isEmpty() || h.mode.isEmpty()))
            std::abort();
        if (h.headerOffset < 0 || h.headerOffset > bytes.size())
            std::abort();
        const qint64 needed = head.bytesNeeded(bytes.left(10));
        if (needed < 4 || needed > TMpeg3Head::kMaxId3TagSize + 24)
            std::abort();
    }
    return 0;
}
