#pragma once

#include "core/FrameHeader.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Reads the MPEG audio frame header at the start of a file: at offset 0, at offset 70 of a
// RIFF file, or - when ID3v2 skipping is on - right after an ID3v2 tag. No other search
// for a frame start is made. After a read, header() holds the texts and numbers found, and
// its quality what the whole first frame and the frames after it tell; the error text says
// why a read failed.
class TMpeg3Head {
public:
    // The largest ID3v2 tag looked past; a larger one reads as "Invalid Header".
    static constexpr qint64 kMaxId3TagSize = 1024 * 1024;

    explicit TMpeg3Head(bool skipId3Tags = false);

    // Reads folder + fileName (the folder ends with a separator). True exactly when the
    // error text is empty. A file that cannot be opened throws EFOpenError.
    bool ReadFrameHeader(const QString& folder, const QString& fileName);
    // The same over the bytes of a whole file, or of its head (then fileSize counts to the
    // end of the head: set it and settle the quality again when the real size is known).
    bool ReadFrameHeader(const QByteArray& file);

    const FrameHeader& header() const { return m_header; }

    using Reader = std::function<QByteArray(qint64 offset, int count)>;

    // How many leading bytes of a file a read needs, judged from its first bytes: the first
    // frame whole (it may hold an information header), after the ID3v2 tag when skipping is
    // on; while the bytes at hand cannot tell more, 4 past the tag. While `start` is too
    // short to tell the tag's size it answers 10 (the tag header's length).
    qint64 bytesNeeded(const QByteArray& start) const;
    // The same over `stored` bytes that readAt gives.
    qint64 bytesNeeded(qint64 stored, const Reader& readAt) const;

    // How far past the first frame header a read of a file looks for further frames.
    static constexpr qint64 kScanBytes = 64 * 1024;

private:
    bool read(qint64 size, const Reader& readAt, qint64 scanLimit);
    bool decode(const QByteArray& bytes);
    void readQuality(const Reader& readAt, qint64 scanLimit);

    bool m_skipId3Tags;
    FrameHeader m_header;
};
