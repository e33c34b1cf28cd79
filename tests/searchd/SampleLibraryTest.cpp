#include "searchd/library/SampleLibrary.h"
#include "core/Mpeg3Head.h"
#include "searchd/library/MpegFrame.h"
#include "support/TempHome.h"

#include <QDirIterator>
#include <QSet>
#include <gtest/gtest.h>

using SampleLibrary::Wrapping;

TEST(MpegFrame, HeaderBytesFollowTheStandard) {
    const MpegFrame joint{MpegVersion::Mpeg1, 9, 0, ChannelMode::JointStereo};
    EXPECT_EQ(joint.header(), QByteArray("\xFF\xFB\x90\x44", 4));
    EXPECT_EQ(joint.bitrate(), 128);
    EXPECT_EQ(joint.sampleRate(), 44100);
    EXPECT_EQ(joint.length(), 417); // 144 * 128000 / 44100

    const MpegFrame low{MpegVersion::Mpeg25, 1, 2, ChannelMode::Mono};
    EXPECT_EQ(low.header(), QByteArray("\xFF\xE3\x18\xC4", 4));
    EXPECT_EQ(low.sampleRate(), 8000);
    EXPECT_EQ(low.length(), 72); // 72 * 8000 / 8000

    const MpegFrame mpeg2{MpegVersion::Mpeg2, 14, 1, ChannelMode::DualChannel};
    EXPECT_EQ(mpeg2.header(), QByteArray("\xFF\xF3\xE4\x84", 4));
    EXPECT_EQ(mpeg2.bitrate(), 160);
    EXPECT_EQ(mpeg2.silentFrame().size(), 480); // 72 * 160000 / 24000
}

TEST(MpegFrame, ProbeReadsWhatWasWritten) {
    const char* kModes[] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono"};
    for (int version = 0; version < 3; ++version) {
        for (int index = 1; index <= 14; ++index) {
            for (int rate = 0; rate < 3; ++rate) {
                for (int mode = 0; mode < 4; ++mode) {
                    const MpegFrame frame{static_cast<MpegVersion>(version), index, rate,
                                          static_cast<ChannelMode>(mode)};
                    TMpeg3Head head;
                    ASSERT_TRUE(head.ReadFrameHeader(frame.silentFrame()));
                    const FrameHeader& read = head.header();
                    EXPECT_EQ(read.layer, 3);
                    EXPECT_EQ(read.bitrate.toInt(), frame.bitrate());
                    EXPECT_EQ(read.sampleRate.toInt(), frame.sampleRate());
                    EXPECT_EQ(read.mode, kModes[mode]);
                }
            }
        }
    }
}

TEST(SampleLibrary, PlanCoversFormatsSizesAndProbeFailures) {
    const QList<SampleLibrary::SampleFile> files = SampleLibrary::plan(60);
    ASSERT_EQ(files.size(), 60);
    QSet<int> versions, modes, rates, bitrates;
    QSet<QString> paths;
    int above = 0, below = 0, id3 = 0, riff = 0, free = 0, reserved = 0;
    for (const auto& file : files) {
        versions.insert(static_cast<int>(file.frame.version));
        modes.insert(static_cast<int>(file.frame.mode));
        rates.insert(file.frame.sampleRate());
        bitrates.insert(file.frame.bitrate());
        paths.insert(file.path);
        (file.size > 30000 ? above : below)++;
        id3 += file.wrapping == Wrapping::Id3v2Tag;
        riff += file.wrapping == Wrapping::Riff;
        free += file.frame.bitrateIndex == 0;
        reserved += file.frame.sampleRateIndex == 3;
        EXPECT_TRUE(file.path.endsWith(file.artist + " - " + file.title + ".mp3"));
    }
    EXPECT_EQ(paths.size(), 60) << "names must not repeat";
    EXPECT_EQ(versions.size(), 3);
    EXPECT_EQ(modes.size(), 4);
    EXPECT_GE(rates.size(), 8);
    EXPECT_GE(bitrates.size(), 15);
    EXPECT_GT(above, 10);
    EXPECT_GT(below, 10);
    EXPECT_GT(id3, 0);
    EXPECT_GT(riff, 0);
    EXPECT_GT(free, 0);
    EXPECT_GT(reserved, 0);
    EXPECT_EQ(SampleLibrary::plan(200).size(), 200);
}

TEST(SampleLibrary, FilesReadAsTheProbeWouldReadThem) {
    for (const auto& file : SampleLibrary::plan(60)) {
        SCOPED_TRACE(file.path.toStdString());
        const QByteArray bytes = SampleLibrary::content(file);
        ASSERT_EQ(bytes.size(), file.size);
        const char* expected = "";
        if (file.frame.sampleRateIndex == 3)
            expected = "Stream Error!";
        else if (file.frame.bitrateIndex == 0)
            expected = "Free format not Supported";
        TMpeg3Head atStart(false), pastTags(true);
        atStart.ReadFrameHeader(bytes);
        pastTags.ReadFrameHeader(bytes);
        if (file.wrapping == Wrapping::Id3v2Tag) {
            EXPECT_TRUE(bytes.startsWith("ID3\x03"));
            EXPECT_EQ(atStart.header().error, "Invalid Header");
        } else {
            EXPECT_EQ(atStart.header().error, expected);
        }
        if (file.wrapping == Wrapping::Riff) {
            EXPECT_TRUE(bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WAVE");
        }
        EXPECT_EQ(pastTags.header().error, expected);
        EXPECT_EQ(pastTags.header().bitrate.toInt(), file.frame.bitrate());
    }
}

TEST(SampleLibrary, WritesTheFilesIntoFolders) {
    TempHome home;
    SampleLibrary::write(home.file("lib"), 25);
    QStringList written;
    QDirIterator it(home.file("lib"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        written.append(it.next().mid(home.file("lib").size() + 1));
    EXPECT_EQ(written.size(), 25);
    const auto first = SampleLibrary::plan(25).first();
    EXPECT_TRUE(written.contains(first.path));
    EXPECT_EQ(home.read("lib/" + first.path), SampleLibrary::content(first));
}
