#include "crawl/FileHeadReader.h"

#include <gtest/gtest.h>

namespace {

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, joint stereo.
const QByteArray kFrame = QByteArray("\xFF\xFB\x90\x64", 4) + QByteArray(400, '\0');

// The bytes of a literal, NULs included.
template <size_t N> QByteArray b(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// Unsynchronisation: a 0 after every 0xFF.
QByteArray unsync(QByteArray bytes) {
    return bytes.replace(QByteArray(1, '\xFF'), QByteArray("\xFF\0", 2));
}

QByteArray bigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char(value >> (8 * i) & 0xFF);
    return out;
}

QByteArray syncSafe(quint32 value) {
    return bigEndian((value & 0x7F) | (value >> 7 & 0x7F) << 8 | (value >> 14 & 0x7F) << 16 |
                         (value >> 21 & 0x7F) << 24,
                     4);
}

// A frame of ID3v2.<version>: v2.2 has three-byte ids and sizes, v2.4 sync-safe sizes.
QByteArray frame(int version, const QByteArray& id, const QByteArray& data, int format = 0) {
    if (version == 2)
        return id + bigEndian(quint32(data.size()), 3) + data;
    const QByteArray size =
        version == 4 ? syncSafe(quint32(data.size())) : bigEndian(quint32(data.size()), 4);
    return id + size + char(0) + char(format) + data;
}

QByteArray tag(int version, const QByteArray& frames, int flags = 0) {
    return "ID3" + QByteArray(1, char(version)) + char(0) + char(flags) +
           syncSafe(quint32(frames.size())) + frames;
}

QByteArray v1(const QByteArray& title, const QByteArray& artist) {
    QByteArray out =
        "TAG" + title.leftJustified(30, '\0', true) + artist.leftJustified(30, '\0', true);
    return out.leftJustified(128, '\0');
}

} // namespace

TEST(FileHeadReader, ReadsTextFramesOfEachVersionAndEncoding) {
    const QByteArray longTitle(200, 'T'); // its v2.4 size needs two sync-safe bytes
    struct Row {
        const char* what;
        QByteArray head;
        QByteArray tail;
        QString artist, title;
        bool cutShort = false; // the head ends inside the tag
    };
    const QList<Row> rows = {
        {"v2.3 UTF-16 with BOM and ISO-8859-1",
         tag(3, frame(3, "TIT2", QByteArray("\x01\xFF\xFEH\0i\0!\0\0\0", 11)) +
                    frame(3, "TPE1", b("\0Caf\xE9  \0"))),
         {},
         QStringLiteral("Caf\u00e9"),
         QStringLiteral("Hi!")},
        {"v2.4 UTF-8, UTF-16BE, several values",
         tag(4, frame(4, "TPE1", QByteArray("\x02\0A\0\xE9", 5)) +
                    frame(4, "TIT2", b("\x03") + longTitle + QByteArray("\0second", 7)) +
                    QByteArray(20, '\0')),
         {},
         QStringLiteral("A\u00e9"),
         QString::fromLatin1(longTitle)},
        {"v2.2",
         tag(2, frame(2, "TT2", b("\0Old")) + frame(2, "TP1", b("\x03\xC3\xA9"))),
         {},
         QStringLiteral("\u00e9"),
         QStringLiteral("Old")},
        {"v2.3 unsynchronised, with an extended header",
         tag(3, unsync(b("\0\0\0\x06\0\0\0\0\0\0") + frame(3, "TIT2", b("\0\xFFx"))), 0xC0),
         {},
         {},
         QStringLiteral("\u00ffx")},
        {"v2.4 frame unsynchronised, with a data length indicator",
         tag(4, frame(4, "TIT2", b("\0\0\0\x02") + unsync(b("\0\xFFy")), 0x03)),
         {},
         {},
         QStringLiteral("\u00ffy")},
        {"compressed and encrypted frames skipped, ID3v1 fills in",
         tag(3, frame(3, "TIT2", b("\0zip"), 0x80) + frame(3, "TPE1", b("\0lock"), 0x40)),
         v1("One  ", "Two\t"), QStringLiteral("Two"), QStringLiteral("One")},
        {"ID3v1 alone", kFrame, "xx" + v1(QByteArray(30, 'a'), "Band"), QStringLiteral("Band"),
         QString(30, u'a')},
        {"a frame running past the tag",
         tag(3, frame(3, "TIT2", b("\0ok")) + b("TPE1\0\0\x10\0\0\0")),
         {},
         {},
         QStringLiteral("ok")},
        {"a tag cut short",
         tag(3, frame(3, "TIT2", b("\0whole")) + frame(3, "TPE1", b("\0cut"))).chopped(1),
         {},
         {},
         QStringLiteral("whole"),
         true},
        {"no tags", kFrame, "TAG", {}, {}},
    };
    for (const Row& row : rows) {
        const FileHead head =
            FileHeadReader::read(row.cutShort ? row.head : row.head + kFrame, -1, row.tail);
        EXPECT_EQ(head.artist.toStdString(), row.artist.toStdString()) << row.what;
        EXPECT_EQ(head.title.toStdString(), row.title.toStdString()) << row.what;
    }
}

// The frame header is the program's own reader's, past the ID3v2 tag.
TEST(FileHeadReader, ReadsTheFrameAfterTheTagWithTheFileSize) {
    const QByteArray tagged = tag(3, frame(3, "TIT2", b("\0t")) + QByteArray(100, '\0'));
    const FileHead head = FileHeadReader::read(tagged + kFrame, 5000, {});
    ASSERT_TRUE(head.hasQuality()) << head.frame.error.constData();
    EXPECT_EQ(head.frame.bitrate, "128");
    EXPECT_EQ(head.frame.sampleRate, "44100");
    EXPECT_EQ(head.frame.mode, "Joint Stereo");
    EXPECT_EQ(head.frame.headerOffset, tagged.size());
    EXPECT_EQ(head.frame.fileSize, 5000 - tagged.size());
    EXPECT_EQ(FileHeadReader::read(tagged + kFrame, -1, {}).frame.fileSize, kFrame.size());

    const FileHead cut = FileHeadReader::read(tagged, 5000, {});
    EXPECT_EQ(cut.frame.error, "Invalid MPEG file");
    EXPECT_EQ(cut.title.toStdString(), "t");
    EXPECT_EQ(FileHeadReader::read("junk", 4, {}).frame.error, "Invalid Header");
}

TEST(FileHeadReader, WantsTheWholeTagWithinTheLimit) {
    const auto header = [](quint32 size) { return tag(4, {}).left(6) + syncSafe(size); };
    struct Row {
        QByteArray start;
        qint64 wanted;
    };
    const QList<Row> rows = {
        {{}, FileHead::kFirstRead},
        {"ID3", FileHead::kFirstRead},
        {kFrame, FileHead::kFirstRead},
        {header(1000), FileHead::kFirstRead},
        {header(200000), 200000 + 10 + 4},
        {header(FileHead::kMaxRead - 5), FileHead::kMaxRead},
        {header(4 * FileHead::kMaxRead), FileHead::kFirstRead}, // too large to look past
    };
    for (const Row& row : rows)
        EXPECT_EQ(FileHeadReader::bytesWanted(row.start), row.wanted)
            << row.start.toHex().constData();
}
