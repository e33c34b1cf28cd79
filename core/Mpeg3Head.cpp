#include "core/Mpeg3Head.h"

#include "platform/Errors.h"

#include <QFile>
#include <array>
#include <optional>

namespace {

constexpr int kHeaderBytes = 4;
constexpr int kId3HeaderBytes = 10;
constexpr qint64 kRiffFrameOffset = 70;
constexpr qint64 kRiffMinimumSize = 74;

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

constexpr std::array<const char*, 4> kModeNames = {"Stereo", "Joint Stereo", "Dual Channel",
                                                   "Mono"};

quint8 byteAt(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes.at(i));
}

struct Id3Tag {
    qint64 announced = 0; // the size field: the tag's frames and padding
    qint64 length = 0;    // the whole tag: header, frames, padding and footer
};

// An ID3v2 tag header: "ID3", a version and revision other than FF, flags, and a size
// of four bytes with seven bits each.
std::optional<Id3Tag> id3Tag(const QByteArray& start) {
    if (start.size() < kId3HeaderBytes || !start.startsWith("ID3") || byteAt(start, 3) == 0xFF ||
        byteAt(start, 4) == 0xFF)
        return std::nullopt;
    qint64 announced = 0;
    for (int i = 6; i < kId3HeaderBytes; ++i) {
        if (byteAt(start, i) & 0x80)
            return std::nullopt;
        announced = announced << 7 | byteAt(start, i);
    }
    const bool footer = byteAt(start, 5) & 0x10;
    return Id3Tag{announced, kId3HeaderBytes + announced + (footer ? kId3HeaderBytes : 0)};
}

} // namespace

TMpeg3Head::TMpeg3Head(bool skipId3Tags) : m_skipId3Tags(skipId3Tags) {}

bool TMpeg3Head::ReadFrameHeader(const QString& folder, const QString& fileName) {
    const QString path = folder + fileName;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QStringLiteral("Cannot open file %1").arg(path));
    return read(file.size(), [&file](qint64 offset, int count) {
        return file.seek(offset) ? file.read(count) : QByteArray();
    });
}

bool TMpeg3Head::ReadFrameHeader(const QByteArray& file) {
    return read(file.size(), [&file](qint64 offset, int count) { return file.mid(offset, count); });
}

qint64 TMpeg3Head::bytesNeeded(const QByteArray& start) const {
    if (!m_skipId3Tags || !QByteArrayLiteral("ID3").startsWith(start.left(3)))
        return kHeaderBytes;
    if (start.size() < kId3HeaderBytes)
        return kId3HeaderBytes;
    const std::optional<Id3Tag> tag = id3Tag(start);
    if (!tag || tag->announced > kMaxId3TagSize)
        return kHeaderBytes; // read at once: not a tag, or one too large to look past
    return tag->length + kHeaderBytes;
}

bool TMpeg3Head::read(qint64 size, const Reader& readAt) {
    m_header = FrameHeader();
    if (size < kHeaderBytes) {
        m_header.fileSize = size;
        m_header.error = "Invalid MPEG file";
        return false;
    }
    QByteArray bytes = readAt(0, kHeaderBytes);
    if (bytes == "RIFF") {
        if (size > kRiffMinimumSize) {
            m_header.headerOffset = kRiffFrameOffset;
            bytes = readAt(kRiffFrameOffset, kHeaderBytes);
            size -= kRiffFrameOffset;
        } else {
            m_header.error = "Invalid MPEG file"; // replaced by "Invalid Header" below
        }
    } else if (m_skipId3Tags && bytes.startsWith("ID3")) {
        if (const std::optional<Id3Tag> tag = id3Tag(readAt(0, kId3HeaderBytes))) {
            if (tag->announced > kMaxId3TagSize) {
                m_header.error = "Invalid Header";
                return false;
            }
            if (size - tag->length < kHeaderBytes) {
                m_header.error = "Invalid MPEG file";
                return false;
            }
            m_header.headerOffset = tag->length;
            bytes = readAt(tag->length, kHeaderBytes);
            size -= tag->length;
        }
    }
    m_header.fileSize = size;
    return decode(bytes);
}

bool TMpeg3Head::decode(const QByteArray& bytes) {
    if (bytes.size() < kHeaderBytes || byteAt(bytes, 0) != 0xFF ||
        (byteAt(bytes, 1) & 0xE0) != 0xE0) {
        m_header.error = "Invalid Header";
        return false;
    }
    const quint32 h = quint32(byteAt(bytes, 0)) << 24 | quint32(byteAt(bytes, 1)) << 16 |
                      quint32(byteAt(bytes, 2)) << 8 | quint32(byteAt(bytes, 3));
    FrameHeader& f = m_header;
    f.error.clear();
    if (h >> 20 & 1)
        f.version = (h >> 19 & 1) ? FrameHeader::Mpeg1 : FrameHeader::Mpeg2;
    else
        f.version = FrameHeader::Mpeg25;
    f.lsf = f.version == FrameHeader::Mpeg1 ? 0 : 1;
    f.layer = 4 - int(h >> 17 & 3);
    f.bitrateIndex = int(h >> 12 & 15);
    const int rateBits = int(h >> 10 & 3);
    f.padding = int(h >> 9 & 1);
    f.modeIndex = int(h >> 6 & 3);
    if (rateBits == 3)
        f.error = "Stream Error!";

    // MPEG-2.5 has rates of its own (11025, 12000, 8000 Hz); the reserved bits read as
    // the first entry of the low-frequency row they would follow.
    if (f.version == FrameHeader::Mpeg25)
        f.sampleRateIndex = rateBits == 3 ? 6 : 6 + rateBits;
    else
        f.sampleRateIndex = rateBits + 3 * f.lsf;
    f.sampleRate = QByteArray::number(kSampleRates[size_t(f.sampleRateIndex)]);

    if (f.bitrateIndex == 0)
        f.error = "Free format not Supported";
    if (f.layer == 4) {
        f.error = "Layer not supported!";
        return false;
    }
    f.bitrate = QByteArray::number(kBitrates[f.lsf][f.layer - 1][f.bitrateIndex]);
    f.mode = kModeNames[size_t(f.modeIndex)];
    return f.error.isEmpty();
}
