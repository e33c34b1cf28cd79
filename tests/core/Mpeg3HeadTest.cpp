#include "core/Mpeg3Head.h"
#include "platform/Errors.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

QByteArray frame(int b1, int b2, int b3) {
    return bytes({0xFF, b1, b2, b3}) + QByteArray(32, '\0');
}

// An ID3v2.4 tag header announcing `size` bytes (seven bits per byte), then the tag.
QByteArray id3(qint64 size, int flags = 0) {
    const QByteArray header =
        "ID3" + bytes({4, 0, flags, int(size >> 21 & 0x7F), int(size >> 14 & 0x7F),
                       int(size >> 7 & 0x7F), int(size & 0x7F)});
    return header + QByteArray(size + (flags & 0x10 ? 10 : 0), 'x');
}

QByteArray riff(qint64 size, const QByteArray& atSeventy) {
    QByteArray file = "RIFF" + QByteArray(66, 'r') + atSeventy;
    file.resize(size, 'r');
    return file;
}

struct Row {
    const char* what;
    QByteArray file;
    bool skipId3;
    const char* error; // "" for a successful read
    const char* bitrate;
    const char* sampleRate;
    const char* mode;
    qint64 headerOffset = 0;
};

} // namespace

TEST(Mpeg3Head, DecodesHeadersAndReportsEachError) {
    const QByteArray joint = frame(0xFB, 0x90, 0x64);
    const Row rows[] = {
        {"empty", QByteArray(), false, "Invalid MPEG file", "", "", ""},
        {"three bytes", bytes({0xFF, 0xFB, 0x90}), false, "Invalid MPEG file", "", "", ""},
        {"MPEG-1 Layer 3", joint, false, "", "128", "44100", "Joint Stereo"},
        {"MPEG-1 Layer 1", frame(0xFF, 0xE0, 0xC0), false, "", "448", "44100", "Mono"},
        {"MPEG-1 Layer 2", frame(0xFD, 0xE4, 0x80), false, "", "384", "48000", "Dual Channel"},
        {"MPEG-2 Layer 1", frame(0xF7, 0xE8, 0x00), false, "", "256", "16000", "Stereo"},
        {"MPEG-2 Layer 2", frame(0xF5, 0x14, 0x40), false, "", "8", "24000", "Joint Stereo"},
        {"MPEG-2 Layer 3", frame(0xF3, 0xE4, 0x84), false, "", "160", "24000", "Dual Channel"},
        {"MPEG-2.5 at 8000 Hz", frame(0xE3, 0x18, 0xC4), false, "", "8", "8000", "Mono"},
        {"MPEG-2.5 at 12000 Hz", frame(0xE3, 0x84, 0xC4), false, "", "64", "12000", "Mono"},
        {"MPEG-2.5 with bit 19 set", frame(0xEB, 0x10, 0x00), false, "", "8", "11025", "Stereo"},
        {"bitrate index 15", frame(0xFB, 0xF0, 0x44), false, "", "0", "44100", "Joint Stereo"},
        {"reserved rate, MPEG-1", frame(0xFB, 0x9C, 0x44), false, "Stream Error!", "128", "22050",
         "Joint Stereo"},
        {"reserved rate, MPEG-2", frame(0xF3, 0x9C, 0x44), false, "Stream Error!", "80", "11025",
         "Joint Stereo"},
        {"free format", frame(0xFB, 0x00, 0x44), false, "Free format not Supported", "0", "44100",
         "Joint Stereo"},
        {"layer bits 00", frame(0xF9, 0x00, 0x44), false, "Layer not supported!", "", "44100", ""},
        {"no sync", frame(0xDB, 0x90, 0x44), false, "Invalid Header", "", "", ""},
        {"RIFF of 75 bytes", riff(75, joint.left(4)), false, "", "128", "44100", "Joint Stereo",
         70},
        {"RIFF of 74 bytes", riff(74, joint.left(4)), false, "Invalid Header", "", "", ""},
        {"ID3v2 tag, skipping off", id3(300) + joint, false, "Invalid Header", "", "", ""},
        {"ID3v2 tag, skipping on", id3(300) + joint, true, "", "128", "44100", "Joint Stereo", 310},
        {"ID3v2 tag with footer", id3(300, 0x10) + joint, true, "", "128", "44100", "Joint Stereo",
         320},
        {"ID3v2 tag of 1 MiB", id3(1 << 20) + joint, true, "", "128", "44100", "Joint Stereo",
         (1 << 20) + 10},
        {"ID3v2 tag over 1 MiB", id3((1 << 20) + 1) + joint, true, "Invalid Header", "", "", ""},
        {"ID3v2 tag, 3 bytes after it", id3(20) + joint.left(3), true, "Invalid MPEG file", "", "",
         ""},
        {"ID3 with a size byte over 7 bits", "ID3" + bytes({4, 0, 0, 0, 0, 0x82, 0}) + joint, true,
         "Invalid Header", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TMpeg3Head head(row.skipId3);
        EXPECT_EQ(head.ReadFrameHeader(row.file), QByteArray(row.error).isEmpty());
        const FrameHeader& h = head.header();
        EXPECT_EQ(h.error, row.error);
        EXPECT_EQ(h.bitrate, row.bitrate);
        EXPECT_EQ(h.sampleRate, row.sampleRate);
        EXPECT_EQ(h.mode, row.mode);
        EXPECT_EQ(h.headerOffset, row.headerOffset);
    }
}

TEST(Mpeg3Head, ReadsFilesAndRaisesForAMissingOne) {
    TempHome home;
    home.write(QStringLiteral("a.mp3"), riff(80, frame(0xF3, 0xE4, 0x84)));
    TMpeg3Head head;
    ASSERT_TRUE(head.ReadFrameHeader(home.path() + QLatin1Char('/'), QStringLiteral("a.mp3")));
    EXPECT_EQ(head.header().version, FrameHeader::Mpeg2);
    EXPECT_EQ(head.header().lsf, 1);
    EXPECT_EQ(head.header().layer, 3);
    EXPECT_EQ(head.header().bitrateIndex, 14);
    EXPECT_EQ(head.header().sampleRateIndex, 4);
    EXPECT_EQ(head.header().modeIndex, 2);
    EXPECT_EQ(head.header().fileSize, 10);
    try {
        head.ReadFrameHeader(home.path() + QLatin1Char('/'), QStringLiteral("none.mp3"));
        FAIL() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Cannot open file ") + home.file("none.mp3"));
    }
}

TEST(Mpeg3Head, BytesNeededCoverTheTagWhenSkipping) {
    const QByteArray tag = id3(300);
    const struct {
        QByteArray start;
        bool skip;
        qint64 needed;
    } rows[] = {
        {tag.left(10), false, 4}, {tag.left(10), true, 314},        {tag.left(5), true, 10},
        {"\xFF\xFB", true, 4},    {id3(1 << 21).left(10), true, 4}, {"ID", true, 10},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TMpeg3Head(row.skip).bytesNeeded(row.start), row.needed)
            << row.start.toHex().data();
}

namespace {

QByteArray be32(quint32 value) {
    return bytes(
        {int(value >> 24), int(value >> 16 & 0xFF), int(value >> 8 & 0xFF), int(value & 0xFF)});
}

// A first frame of `length` bytes: the four header bytes, then `body` at offset `at`.
QByteArray firstFrame(const QByteArray& header, int length, int at, const QByteArray& body) {
    QByteArray frame = header + QByteArray(at - 4, '\0') + body;
    frame.resize(length, '\0');
    return frame;
}

// Xing or Info with frame and byte counts, then LAME's extension when a method is given.
QByteArray xing(const char* tag, quint32 frames, quint32 count, int method = -1, int lowpassHz = 0,
                int abr = 0) {
    QByteArray header = tag + be32(3) + be32(frames) + be32(count);
    if (method < 0)
        return header;
    QByteArray lame = "LAME3.100" + bytes({method, lowpassHz / 100});
    lame.resize(36, '\0');
    lame[20] = char(abr);
    return header + lame;
}

QByteArray vbri(quint32 frames, quint32 count) {
    return "VBRI" + bytes({0, 1, 0, 0, 0, 75}) + be32(count) + be32(frames);
}

// Frames of silence at each rate index (MPEG-1 Layer III, 44100 Hz, joint stereo).
QByteArray frames(std::initializer_list<int> rateIndexes) {
    QByteArray out;
    for (const int index : rateIndexes) {
        const QByteArray header = bytes({0xFF, 0xFB, index << 4, 0x64});
        out += firstFrame(
            header, FrameHeader::fromBits(quint32(0xFFFB0064 | index << 12)).frameLength(), 4, {});
    }
    return out;
}

} // namespace

TEST(Mpeg3Head, JudgesTheStreamByItsFirstFrameAndTheFramesAfterIt) {
    const QByteArray mpeg1 = bytes({0xFF, 0xFB, 0x90, 0x64});
    const QByteArray withCrc = bytes({0xFF, 0xFA, 0x90, 0x64});
    const QByteArray mpeg2Mono = bytes({0xFF, 0xF3, 0x80, 0xC4});
    const struct {
        const char* what;
        QByteArray file;
        const char* mode;
        int bitrate;
        bool estimated;
        double seconds;
        const char* encoder;
        int lowpassHz;
    } rows[] = {
        {"LAME VBR", firstFrame(mpeg1, 417, 36, xing("Xing", 384, 198535, 4, 19500)), "VBR", 158,
         false, 10.031, "LAME3.100", 19500},
        {"LAME CBR keeps the frame's rate",
         firstFrame(mpeg1, 417, 36, xing("Info", 384, 160913, 1)), "CBR", 128, false, 10.031,
         "LAME3.100", 0},
        {"LAME ABR", firstFrame(mpeg1, 417, 36, xing("Xing", 384, 194770, 2, 18600, 192)), "ABR",
         155, false, 10.031, "LAME3.100", 18600},
        {"Xing without LAME", firstFrame(mpeg1, 417, 36, xing("Xing", 384, 198535)), "VBR", 158,
         false, 10.031, "", 0},
        {"Xing after a CRC", firstFrame(withCrc, 417, 38, xing("Xing", 384, 198535)), "VBR", 158,
         false, 10.031, "", 0},
        {"VBRI", firstFrame(mpeg1, 417, 36, vbri(384, 198535)), "VBR", 158, false, 10.031, "", 0},
        {"MPEG-2 mono Xing", firstFrame(mpeg2Mono, 209, 13, xing("Xing", 100, 40100)), "VBR", 123,
         false, 2.612, "", 0},
        {"frames of one rate", frames({9, 9, 9, 9}), "CBR", 128, false, 0.1045, "", 0},
        {"frames of several rates", frames({9, 10, 11, 9}), "VBR", 152, false, 0.1043, "", 0},
        {"frames at hand, then more", frames({9, 10, 11, 9}) + QByteArray(4000, 'x'), "VBR", 152,
         true, 0.315, "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TMpeg3Head head(true);
        ASSERT_TRUE(head.ReadFrameHeader(row.file));
        const AudioQuality& q = head.header().quality;
        EXPECT_EQ(rateModeName(q.mode), row.mode);
        EXPECT_EQ(q.bitrate, row.bitrate);
        EXPECT_EQ(q.estimated, row.estimated);
        EXPECT_NEAR(q.durationSeconds, row.seconds, 0.001);
        EXPECT_EQ(q.encoder, row.encoder);
        EXPECT_EQ(q.lowpassHz, row.lowpassHz);
        EXPECT_EQ(head.header().bitrate, row.file.mid(0, 4) == mpeg2Mono ? "64" : "128");
    }
}

TEST(Mpeg3Head, NeedsTheWholeFirstFrame) {
    const QByteArray frame = frames({9});
    EXPECT_EQ(TMpeg3Head(true).bytesNeeded(frame.left(4)), 417);
    EXPECT_EQ(TMpeg3Head(true).bytesNeeded(id3(300) + frame.left(4)), 310 + 417);
    EXPECT_EQ(TMpeg3Head(true).bytesNeeded(QByteArray("\xFF\xFB\x00\x64", 4)), 4); // free format
}
