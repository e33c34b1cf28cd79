#include "core/FrameHeader.h"

#include <array>
#include <cmath>

namespace {

constexpr std::array<int, 9> kSampleRates = {44100, 48000, 32000, 22050, 24000,
                                             16000, 11025, 12000, 8000};

// kbit/s by [low sampling frequency][layer - 1][bitrate index] (ISO/IEC 11172-3 and
// 13818-3); 0 for free format and for the forbidden index 15.
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};

// A stream whose frames were all read, but for a trailing tag of up to this many bytes
// (ID3v1, APE, Lyrics), is measured, not estimated.
constexpr qint64 kTrailingTagSlack = 1024;

RateMode modeOfInfoHeader(const AudioQuality& q) {
    if (q.infoTag == "Info")
        return RateMode::Cbr;
    if (q.infoTag == "VBRI")
        return RateMode::Vbr;
    switch (q.vbrMethod) {
    case 1:
    case 8:
        return RateMode::Cbr;
    case 2:
    case 9:
        return RateMode::Abr;
    default:
        return RateMode::Vbr;
    }
}

int kbps(double bytes, double seconds) {
    return seconds > 0 ? int(std::lround(bytes * 8 / seconds / 1000)) : 0;
}

} // namespace

FrameHeader FrameHeader::fromBits(quint32 bits) {
    FrameHeader f;
    if (bits >> 20 & 1)
        f.version = (bits >> 19 & 1) ? Mpeg1 : Mpeg2;
    else
        f.version = Mpeg25;
    f.lsf = f.version == Mpeg1 ? 0 : 1;
    f.layer = 4 - int(bits >> 17 & 3);
    f.protection = int(bits >> 16 & 1);
    f.bitrateIndex = int(bits >> 12 & 15);
    const int rateBits = int(bits >> 10 & 3);
    f.padding = int(bits >> 9 & 1);
    f.modeIndex = int(bits >> 6 & 3);
    // MPEG-2.5 has rates of its own (11025, 12000, 8000 Hz); the reserved bits read as the
    // first entry of the low-frequency row they would follow.
    if (f.version == Mpeg25)
        f.sampleRateIndex = rateBits == 3 ? 6 : 6 + rateBits;
    else
        f.sampleRateIndex = rateBits + 3 * f.lsf;
    return f;
}

int FrameHeader::bitrateKbps() const {
    if (layer < 1 || layer > 3 || bitrateIndex < 0 || bitrateIndex > 15)
        return 0;
    return kBitrates[lsf ? 1 : 0][layer - 1][bitrateIndex];
}

int FrameHeader::sampleRateHz() const {
    return sampleRateIndex >= 0 && sampleRateIndex < int(kSampleRates.size())
               ? kSampleRates[size_t(sampleRateIndex)]
               : 0;
}

int FrameHeader::samplesPerFrame() const {
    if (layer == 1)
        return 384;
    return layer == 3 && lsf ? 576 : 1152;
}

int FrameHeader::frameLength() const {
    const qint64 rate = sampleRateHz();
    const qint64 bits = qint64(bitrateKbps()) * 1000;
    if (bits == 0 || rate == 0)
        return 0;
    if (layer == 1)
        return int((12 * bits / rate + padding) * 4);
    const qint64 factor = layer == 3 && lsf ? 72 : 144;
    return int(factor * bits / rate + padding);
}

int FrameHeader::sideInfoLength() const {
    const bool mono = modeIndex == 3;
    if (lsf)
        return mono ? 9 : 17;
    return mono ? 17 : 32;
}

void FrameHeader::settleQuality() {
    AudioQuality& q = quality;
    const int own = bitrateKbps();
    const int rate = sampleRateHz();
    q.estimated = false;
    q.durationSeconds = 0;
    if (!q.infoTag.isEmpty()) {
        q.mode = modeOfInfoHeader(q);
        if (q.frames > 0 && rate > 0)
            q.durationSeconds = double(q.frames) * samplesPerFrame() / rate;
        const qint64 bytes = q.bytes > 0 ? q.bytes : fileSize;
        q.bitrate = q.mode == RateMode::Cbr ? own : kbps(double(bytes), q.durationSeconds);
        if (q.bitrate == 0) // neither a frame count nor a byte count: the frame's own rate
            q.bitrate = own;
    } else if (q.ratesVary && q.scannedFrames > 0) {
        q.mode = RateMode::Vbr;
        q.bitrate = kbps(double(q.scannedBytes),
                         double(q.scannedFrames) * samplesPerFrame() / qMax(rate, 1));
        q.estimated = q.scannedBytes + kTrailingTagSlack < fileSize;
    } else {
        q.mode = RateMode::Cbr;
        q.bitrate = own;
    }
    if (q.durationSeconds == 0 && q.bitrate > 0)
        q.durationSeconds = double(fileSize) * 8 / (q.bitrate * 1000.0);
}
