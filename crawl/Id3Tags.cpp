#include "crawl/Id3Tags.h"

#include <QStringDecoder>

namespace {

constexpr int kHeaderBytes = 10;
constexpr int kV1Bytes = 128;

quint8 byteAt(QByteArrayView bytes, qsizetype i) {
    return static_cast<quint8>(bytes.at(i));
}

quint32 bigEndian(QByteArrayView bytes, int count) {
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | byteAt(bytes, i);
    return value;
}

// Four bytes of seven bits each; -1 when a high bit is set.
qint64 syncSafe(QByteArrayView bytes) {
    qint64 value = 0;
    for (int i = 0; i < 4; ++i) {
        if (byteAt(bytes, i) & 0x80)
            return -1;
        value = value << 7 | byteAt(bytes, i);
    }
    return value;
}

// Undoes unsynchronisation: every 0xFF 0x00 stands for 0xFF.
QByteArray resynchronised(QByteArrayView bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out += bytes.at(i);
        if (byteAt(bytes, i) == 0xFF && i + 1 < bytes.size() && bytes.at(i + 1) == 0)
            ++i;
    }
    return out;
}

QString cleaned(QString text) {
    // v2.4 separates several values with NUL: the first one is the text.
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            out += c;
    }
    // Blanks at either end go, as the library's tag reader drops them: a crawled file and
    // the same file in the library are found under the same words.
    return out.trimmed();
}

QString decoded(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

// A text frame's content: an encoding byte, then the text.
QString frameText(QByteArrayView data) {
    if (data.isEmpty())
        return {};
    const QByteArrayView text = data.sliced(1);
    switch (byteAt(data, 0)) {
    case 0:
        return cleaned(QString::fromLatin1(text));
    case 1: // UTF-16 with a byte order mark (little endian without one)
        if (text.startsWith("\xFE\xFF"))
            return cleaned(decoded(QStringConverter::Utf16BE, text.sliced(2)));
        if (text.startsWith("\xFF\xFE"))
            return cleaned(decoded(QStringConverter::Utf16LE, text.sliced(2)));
        return cleaned(decoded(QStringConverter::Utf16LE, text));
    case 2:
        return cleaned(decoded(QStringConverter::Utf16BE, text));
    case 3:
        return cleaned(QString::fromUtf8(text));
    default:
        return {};
    }
}

struct Layout {
    int idBytes;   // 3 for v2.2, else 4
    int sizeBytes; // 3 for v2.2, else 4
    int flagBytes; // 0 for v2.2, else 2
};

} // namespace

Id3Tags Id3Tags::fromId3v2(const QByteArray& head) {
    Id3Tags tags;
    if (head.size() < kHeaderBytes || !head.startsWith("ID3"))
        return tags;
    const int version = byteAt(head, 3);
    const int flags = byteAt(head, 5);
    const qint64 size = syncSafe(QByteArrayView(head).sliced(6, 4));
    if (version < 2 || version > 4 || size < 0)
        return tags;
    if (version == 2 && (flags & 0x40))
        return tags; // v2.2 compression: no known way to read it
    QByteArray body = head.mid(kHeaderBytes, qMin<qint64>(size, head.size() - kHeaderBytes));
    // v2.2 and v2.3 unsynchronise the whole tag; v2.4 marks each frame.
    if ((flags & 0x80) && version < 4)
        body = resynchronised(body);
    qsizetype at = 0;
    if ((flags & 0x40) && body.size() >= 4) { // extended header
        if (version == 3)
            at = 4 + qint64(bigEndian(body, 4));
        else
            at = qMax<qint64>(syncSafe(body), 0);
    }
    const Layout layout = version == 2 ? Layout{3, 3, 0} : Layout{4, 4, 2};
    const int frameHeader = layout.idBytes + layout.sizeBytes + layout.flagBytes;
    while (at >= 0 && at + frameHeader <= body.size()) {
        const QByteArrayView frame = QByteArrayView(body).sliced(at);
        if (frame.at(0) == 0)
            break; // padding
        const QByteArrayView id = frame.first(layout.idBytes);
        const QByteArrayView sizeField = frame.sliced(layout.idBytes, layout.sizeBytes);
        const qint64 length =
            version == 4 ? syncSafe(sizeField) : qint64(bigEndian(sizeField, layout.sizeBytes));
        if (length < 0 || length > body.size() - at - frameHeader)
            break; // cut short or broken: the frames before it stand
        QByteArray data = frame.sliced(frameHeader, length).toByteArray();
        const int format =
            layout.flagBytes ? byteAt(frame, layout.idBytes + layout.sizeBytes + 1) : 0;
        bool readable = true;
        if (version == 3 && (format & 0xC0))
            readable = false; // compressed or encrypted
        if (version == 4) {
            if (format & 0x0C)
                readable = false; // compressed or encrypted
            if ((format & 0x02) || (flags & 0x80))
                data = resynchronised(data);
            if ((format & 0x01) && data.size() >= 4)
                data.remove(0, 4); // the data length indicator
        }
        if (readable) {
            if (tags.title.isEmpty() && (id == "TIT2" || id == "TT2"))
                tags.title = frameText(data);
            else if (tags.artist.isEmpty() && (id == "TPE1" || id == "TP1"))
                tags.artist = frameText(data);
        }
        at += frameHeader + length;
    }
    return tags;
}

Id3Tags Id3Tags::fromId3v1(const QByteArray& tail) {
    Id3Tags tags;
    if (tail.size() < kV1Bytes)
        return tags;
    const QByteArrayView tag = QByteArrayView(tail).last(kV1Bytes);
    if (!tag.startsWith("TAG"))
        return tags;
    const auto field = [&tag](int offset) {
        QByteArrayView bytes = tag.sliced(offset, 30);
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        return cleaned(QString::fromLatin1(bytes));
    };
    tags.title = field(3);
    tags.artist = field(33);
    return tags;
}
