#include "searchd/library/MpegFrame.h"

#include <array>

namespace {

constexpr std::array<int, 16> kMpeg1Layer3Kbps = {0,   32,  40,  48,  56,  64,  80,  96,
                                                  112, 128, 160, 192, 224, 256, 320, 0};
constexpr std::array<int, 16> kMpeg2Layer3Kbps = {0,  8,  16, 24,  32,  40,  48,  56,
                                                  64, 80, 96, 112, 128, 144, 160, 0};
constexpr std::array<int, 3> kMpeg1Rates = {44100, 48000, 32000};
constexpr std::array<int, 3> kMpeg2Rates = {22050, 24000, 16000};
constexpr std::array<int, 3> kMpeg25Rates = {11025, 12000, 8000};

int versionBits(MpegVersion version) {
    switch (version) {
    case MpegVersion::Mpeg1:
        return 0b11;
    case MpegVersion::Mpeg2:
        return 0b10;
    case MpegVersion::Mpeg25:
        return 0b00;
    }
    return 0b11;
}

} // namespace

int MpegFrame::bitrate() const {
    const auto& table = version == MpegVersion::Mpeg1 ? kMpeg1Layer3Kbps : kMpeg2Layer3Kbps;
    return table[bitrateIndex & 0x0F];
}

int MpegFrame::sampleRate() const {
    if (sampleRateIndex < 0 || sampleRateIndex > 2)
        return 0;
    switch (version) {
    case MpegVersion::Mpeg1:
        return kMpeg1Rates[sampleRateIndex];
    case MpegVersion::Mpeg2:
        return kMpeg2Rates[sampleRateIndex];
    case MpegVersion::Mpeg25:
        return kMpeg25Rates[sampleRateIndex];
    }
    return 0;
}

QByteArray MpegFrame::header() const {
    const int layer3Bits = 0b01;
    const int noCrc = 1;
    const int original = 1;
    QByteArray bytes(4, '\0');
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xE0 | versionBits(version) << 3 | layer3Bits << 1 | noCrc);
    bytes[2] = static_cast<char>((bitrateIndex & 0x0F) << 4 | (sampleRateIndex & 0x03) << 2);
    bytes[3] = static_cast<char>(static_cast<int>(mode) << 6 | original << 2);
    return bytes;
}

int MpegFrame::length() const {
    const bool mpeg1 = version == MpegVersion::Mpeg1;
    const int kbps = bitrate() > 0 ? bitrate() : (mpeg1 ? 128 : 64);
    MpegFrame rateOnly = *this;
    if (rateOnly.sampleRate() == 0)
        rateOnly.sampleRateIndex = 0; // the version's first rate
    const int rate = rateOnly.sampleRate();
    return rate > 0 ? (mpeg1 ? 144000 : 72000) * kbps / rate : 0; // 0: no such version
}

QByteArray MpegFrame::silentFrame() const {
    return header() + QByteArray(length() - 4, '\0');
}
