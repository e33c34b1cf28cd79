// Arbitrary bytes as the start of an MP3 file: the frame-header reader, with and without
// ID3v2 skipping, either reads a header with every text filled and a quality that makes
// sense, or gives one of its errors; it never asks for more than a tag and one frame.
#include "core/Mpeg3Head.h"

#include <QByteArray>
#include <cmath>
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
        const AudioQuality& q = h.quality;
        if (ok && (q.bitrate < 0 || !std::isfinite(q.durationSeconds) || q.durationSeconds < 0 ||
                   q.scannedBytes > bytes.size()))
            std::abort();
        // The largest frame: MPEG-2.5 Layer II at 160 kbit/s and 8000 Hz, 2881 bytes.
        for (const qint64 needed : {head.bytesNeeded(bytes.left(10)), head.bytesNeeded(bytes)}) {
            if (needed < 4 || needed > TMpeg3Head::kMaxId3TagSize + 20 + 2881)
                std::abort();
        }
    }
    return 0;
}
