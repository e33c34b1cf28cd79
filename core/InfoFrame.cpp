#include "core/InfoFrame.h"

#include <optional>

namespace {

constexpr int kVbriOffset = 4 + 32;
constexpr int kLameVersionBytes = 9;
constexpr int kLameExtensionBytes = 36;
// A scan stops here: enough for an average, and bounded whatever the input.
constexpr int kMaxScannedFrames = 100000;

quint32 be32(const QByteArray& bytes, qsizetype at) {
    if (at < 0 || at + 4 > bytes.size())
        return 0;
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16 |
           quint32(quint8(bytes[at + 2])) << 8 | quint32(quint8(bytes[at + 3]));
}

int byteAt(const QByteArray& bytes, qsizetype at) {
    return at >= 0 && at < bytes.size() ? quint8(bytes[at]) : 0;
}

// Printable ASCII of the encoder's version field, trailing blanks and zeros cut.
QByteArray versionText(const QByteArray& field) {
    QByteArray text;
    for (const char c : field) {
        if (c < 0x20 || c > 0x7E)
            break;
        text += c;
    }
    return text.trimmed();
}

void readLameExtension(const QByteArray& frame, qsizetype at, AudioQuality& q) {
    if (at + kLameExtensionBytes > frame.size())
        return;
    const QByteArray version = versionText(frame.mid(at, kLameVersionBytes));
    if (!version.startsWith("LAME") && !version.startsWith("L3.99") && !version.startsWith("GOGO"))
        return;
    q.encoder = version;
    q.vbrMethod = byteAt(frame, at + 9) & 0x0F;
    q.lowpassHz = byteAt(frame, at + 10) * 100;
    if (q.vbrMethod == 2 || q.vbrMethod == 9)
        q.abrBitrate = byteAt(frame, at + 20);
    q.preset = (byteAt(frame, at + 26) & 0x07) << 8 | byteAt(frame, at + 27);
}

void readXing(const QByteArray& frame, qsizetype at, AudioQuality& q) {
    q.infoTag = frame.mid(at, 4);
    const quint32 flags = be32(frame, at + 4);
    qsizetype field = at + 8;
    if (flags & 1) {
        q.frames = be32(frame, field);
        field += 4;
    }
    if (flags & 2) {
        q.bytes = be32(frame, field);
        field += 4;
    }
    if (flags & 4)
        field += 100; // the seek table
    if (flags & 8)
        field += 4; // the quality indicator
    readLameExtension(frame, field, q);
}

void readVbri(const QByteArray& frame, AudioQuality& q) {
    q.infoTag = "VBRI";
    q.bytes = be32(frame, kVbriOffset + 10);
    q.frames = be32(frame, kVbriOffset + 14);
}

std::optional<qsizetype> xingOffset(const QByteArray& frame, const FrameHeader& header) {
    const qsizetype plain = 4 + header.sideInfoLength();
    // Some encoders leave room for a CRC whether or not the header announces one.
    for (const qsizetype at : {plain + (header.protection ? 0 : 2), plain, plain + 2}) {
        const QByteArray tag = frame.mid(at, 4);
        if (tag == "Xing" || tag == "Info")
            return at;
    }
    return std::nullopt;
}

bool sameStream(const FrameHeader& first, const FrameHeader& next) {
    return next.version == first.version && next.layer == first.layer &&
           next.sampleRateIndex == first.sampleRateIndex;
}

} // namespace

namespace InfoFrame {

void read(const QByteArray& frame, FrameHeader& header) {
    AudioQuality& q = header.quality;
    if (header.layer != 3)
        return;
    if (const std::optional<qsizetype> at = xingOffset(frame, header))
        readXing(frame, *at, q);
    else if (frame.mid(kVbriOffset, 4) == "VBRI")
        readVbri(frame, q);
}

void scan(const QByteArray& bytes, FrameHeader& header) {
    AudioQuality& q = header.quality;
    q.scannedFrames = 0;
    q.scannedBytes = 0;
    q.ratesVary = false;
    const int firstRate = header.bitrateKbps();
    qsizetype at = 0;
    while (q.scannedFrames < kMaxScannedFrames) {
        const quint32 bits = be32(bytes, at);
        if ((bits & 0xFFE00000) != 0xFFE00000)
            break;
        const FrameHeader next = FrameHeader::fromBits(bits);
        const int length = next.frameLength();
        if (!sameStream(header, next) || length == 0 || at + length > bytes.size())
            break;
        q.ratesVary = q.ratesVary || next.bitrateKbps() != firstRate;
        ++q.scannedFrames;
        q.scannedBytes += length;
        at += length;
    }
}

} // namespace InfoFrame
