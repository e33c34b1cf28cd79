#pragma once

#include <QByteArray>
#include <QString>
#include <array>

// The program's frame-header probe, as the tests need it: the header at offset 0 (or 70 in
// a RIFF file) decoded into the texts the probe keeps, Layer III bitrates only.
struct FrameHeaderRead {
    QString error; // empty when the probe accepts the file
    int layer = 0;
    int sampleRate = 0;
    int bitrate = 0;
    QString mode;
};

inline FrameHeaderRead readFrameHeader(const QByteArray& file) {
    FrameHeaderRead read;
    if (file.size() < 4) {
        read.error = QStringLiteral("Invalid MPEG file");
        return read;
    }
    qsizetype at = 0;
    if (file.startsWith("RIFF")) {
        if (file.size() > 74)
            at = 70;
        else
            read.error = QStringLiteral("Invalid MPEG file");
    }
    auto byte = [&](int i) {
        return static_cast<quint32>(static_cast<unsigned char>(file[at + i]));
    };
    const quint32 h = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if ((h >> 21) != 0x7FF) {
        read.error = QStringLiteral("Invalid Header");
        return read;
    }
    read.error.clear();
    const bool mpeg25 = ((h >> 20) & 1) == 0;
    const int lsf = (mpeg25 || ((h >> 19) & 1) == 0) ? 1 : 0;
    read.layer = 4 - static_cast<int>((h >> 17) & 3);
    const int bitrateIndex = static_cast<int>((h >> 12) & 15);
    const int rateBits = static_cast<int>((h >> 10) & 3);
    if (rateBits == 3)
        read.error = QStringLiteral("Stream Error!");
    constexpr std::array<int, 7> kRates = {44100, 48000, 32000, 22050, 24000, 16000, 11025};
    read.sampleRate = kRates[mpeg25 ? 6 : rateBits + 3 * lsf];
    if (bitrateIndex == 0)
        read.error = QStringLiteral("Free format not Supported");
    if (read.layer == 4) {
        read.error = QStringLiteral("Layer not supported!");
        return read;
    }
    constexpr std::array<std::array<int, 16>, 2> kLayer3 = {
        {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    read.bitrate = kLayer3[lsf][bitrateIndex];
    constexpr std::array<const char*, 4> kModes = {"Stereo", "Joint Stereo", "Dual Channel",
                                                   "Mono"};
    read.mode = QString::fromLatin1(kModes[(h >> 6) & 3]);
    return read;
}
