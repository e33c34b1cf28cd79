#include "core/Mpeg3Head.h"

#include "core/InfoFrame.h"
#include "platform/Errors.h"

#include <QFile>
#include <array>
#include <optional>

namespace {

constexpr int kHeaderBytes = 4;
constexpr int kId3HeaderBytes = 10;
constexpr qint64 kRiffFrameOffset = 70;
constexpr qint64 kRiffMinimumSize = 74;

constexpr std::array<const char*, 4> kModeNames = {"Stereo", "Joint Stereo", "Dual Channel",
                                                   "Mono"};

quint8 byteAt(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes.at(i));
}

// The four header bytes as one number, the first byte highest.
quint32 headerBits(const QByteArray& bytes) {
    return quint32(byteAt(bytes, 0)) << 24 | quint32(byteAt(bytes, 1)) << 16 |
           quint32(byteAt(bytes, 2)) << 8 | quint32(byteAt(bytes, 3));
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
    return read(
        file.size(),
        [&file](qint64 offset, int count) {
            return file.seek(offset) ? file.read(count) : QByteArray();
        },
        kScanBytes);
}

bool TMpeg3Head::ReadFrameHeader(const QByteArray& file) {
    return read(
        file.size(), [&file](qint64 offset, int count) { return file.mid(offset, count); },
        file.size());
}

qint64 TMpeg3Head::bytesNeeded(const QByteArray& start) const {
    return bytesNeeded(start.size(),
                       [&start](qint64 offset, int count) { return start.mid(offset, count); });
}

qint64 TMpeg3Head::bytesNeeded(qint64 stored, const Reader& readAt) const {
    const QByteArray first = readAt(0, kId3HeaderBytes);
    qint64 offset = 0;
    if (m_skipId3Tags && QByteArrayLiteral("ID3").startsWith(first.left(3))) {
        if (stored < kId3HeaderBytes)
            return kId3HeaderBytes;
        const std::optional<Id3Tag> tag = id3Tag(first);
        if (tag && tag->announced > kMaxId3TagSize)
            return kHeaderBytes; // read at once: a tag too large to look past
        if (tag)
            offset = tag->length;
    }
    if (stored < offset + kHeaderBytes || first.startsWith("RIFF"))
        return offset + kHeaderBytes;
    // The whole first frame: it may hold an information header.
    const QByteArray header = readAt(offset, kHeaderBytes);
    if (header.size() < kHeaderBytes || byteAt(header, 0) != 0xFF ||
        (byteAt(header, 1) & 0xE0) != 0xE0)
        return offset + kHeaderBytes;
    const quint32 bits = headerBits(header);
    return offset + qMax(kHeaderBytes, FrameHeader::fromBits(bits).frameLength());
}

bool TMpeg3Head::read(qint64 size, const Reader& readAt, qint64 scanLimit) {
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
    if (!decode(bytes))
        return false;
    readQuality(readAt, scanLimit);
    return true;
}

bool TMpeg3Head::decode(const QByteArray& bytes) {
    if (bytes.size() < kHeaderBytes || byteAt(bytes, 0) != 0xFF ||
        (byteAt(bytes, 1) & 0xE0) != 0xE0) {
        m_header.error = "Invalid Header";
        return false;
    }
    const quint32 h = headerBits(bytes);
    FrameHeader decoded = FrameHeader::fromBits(h);
    decoded.fileSize = m_header.fileSize;
    decoded.headerOffset = m_header.headerOffset;
    FrameHeader& f = m_header;
    f = decoded;
    if ((h >> 10 & 3) == 3)
        f.error = "Stream Error!";
    f.sampleRate = QByteArray::number(f.sampleRateHz());
    if (f.bitrateIndex == 0)
        f.error = "Free format not Supported";
    if (f.layer == 4) {
        f.error = "Layer not supported!";
        return false;
    }
    f.bitrate = QByteArray::number(f.bitrateKbps());
    f.mode = kModeNames[size_t(f.modeIndex)];
    return f.error.isEmpty();
}

void TMpeg3Head::readQuality(const Reader& readAt, qint64 scanLimit) {
    FrameHeader& f = m_header;
    const qint64 available = qMin(f.fileSize, scanLimit);
    const QByteArray frame = readAt(f.headerOffset, int(qMin<qint64>(f.frameLength(), available)));
    InfoFrame::read(frame, f);
    if (f.quality.infoTag.isEmpty())
        InfoFrame::scan(readAt(f.headerOffset, int(available)), f);
    f.settleQuality();
}
