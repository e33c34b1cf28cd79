#include "quality/TranscodeCheck.h"
#include "support/Mp3Corpus.h"
#include "support/TestSeed.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

constexpr qsizetype kHead = 64 * 1024;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The heads of a few corpus files, made in dir: honest, transcoded and dark ones.
QList<QByteArray> someHeads(const QString& dir) {
    QList<QByteArray> heads;
    quint32 seed = 11;
    for (const Mp3Corpus::Entry& entry : Mp3Corpus::entries()) {
        const QByteArray name = entry.name;
        if (name == "cbr-128" || name == "vbr-v2" || name == "dark-vbr-v5" ||
            name == "transcode-128-to-320")
            heads.append(readFile(Mp3Corpus::make(dir, entry, seed++)).left(kHead));
    }
    return heads;
}

// The rate a CBR encode asks for ("-b N"), 0 for the other modes.
int cbrRate(const QStringList& lameArgs) {
    const qsizetype at = lameArgs.indexOf(QStringLiteral("-b"));
    return at >= 0 && at + 1 < lameArgs.size() ? lameArgs[at + 1].toInt() : 0;
}

} // namespace

// Every file of the corpus, judged from its first 64 KiB and whole, with the lowpass its LAME
// tag names and with none: honest files are never called transcoded (full-band ones at a
// rate worth judging are genuine, silence and music without a high band unknown; dark music
// whose top the encoder dropped by itself is either), and at most one transcode in six is
// missed, its source rate told within a step of LAME's table.
// PELLMAR_TEST_SEED=n makes the corpus from other signals.
TEST(TranscodeCheck, TellsTranscodesFromHonestFiles) {
    const Mp3Corpus::Corpus corpus(TestSeed::fromEnvironment(2609));
    ASSERT_TRUE(corpus.ok()) << corpus.error().toStdString();
    int transcodes = 0, missed = 0;
    for (const Mp3Corpus::Corpus::File& file : corpus.files()) {
        const Mp3Corpus::Entry& entry = file.entry;
        SCOPED_TRACE(entry.name);
        const Mp3Corpus::Figures figures = Mp3Corpus::ffprobeFigures(file.path);
        ASSERT_TRUE(figures.ok);
        EXPECT_NEAR(figures.seconds, 8.0, 0.25);
        EXPECT_EQ(figures.channels, entry.channels);
        if (const int rate = cbrRate(entry.lameArgs)) {
            EXPECT_NEAR(figures.bitrate, rate, 0.5);
        }

        const QByteArray whole = readFile(file.path);
        const int bitrate = int(std::lround(figures.bitrate));
        const int lowpass = Mp3Corpus::lameTagLowpassHz(whole);
        ASSERT_GT(lowpass, 0);
        for (const QByteArray& audio : {whole.left(kHead), whole}) {
            const SpectrumVerdict verdict = TranscodeCheck::judge(audio, bitrate, lowpass);
            SCOPED_TRACE(verdictName(verdict.verdict).toStdString() + " at " +
                         std::to_string(verdict.cutoffHz) + " Hz, " + std::to_string(audio.size()) +
                         " bytes");
            EXPECT_LE(verdict.cutoffHz, figures.sampleRate / 2);
            if (!entry.honest()) {
                ++transcodes;
                if (verdict.verdict != Verdict::Transcoded) {
                    ++missed;
                    continue;
                }
                const double ratio = double(verdict.sourceBitrate) / entry.sourceBitrate;
                EXPECT_TRUE(ratio >= 0.8 && ratio <= 1.25) << verdict.sourceBitrate;
                continue;
            }
            EXPECT_EQ(verdict.sourceBitrate, 0);
            if (entry.band == Mp3Corpus::Band::Silence || entry.band == Mp3Corpus::Band::Below8kHz)
                EXPECT_EQ(verdict.verdict, Verdict::Unknown);
            else if (entry.band == Mp3Corpus::Band::Full && bitrate >= 64)
                EXPECT_EQ(verdict.verdict, Verdict::Genuine);
            else
                EXPECT_NE(verdict.verdict, Verdict::Transcoded);
            // Without the tag's lowpass the usual one of the rate is expected.
            EXPECT_NE(TranscodeCheck::judge(audio, bitrate, 0).verdict, Verdict::Transcoded);
        }
    }
    std::printf("%d of %d judged transcodes caught\n", transcodes - missed, transcodes);
    EXPECT_GE(transcodes, 12);
    EXPECT_LE(missed * 6, transcodes) << missed << " of " << transcodes << " missed";
}

// Bytes from the network that are no music, or too little of it, give "unknown" without
// a crash; so does a real file's head too short to judge or an unknown rate.
TEST(TranscodeCheck, HostileOrShortAudioIsUnknown) {
    const QTemporaryDir dir;
    const QList<QByteArray> heads = someHeads(dir.path());
    ASSERT_EQ(heads.size(), 4);
    const TestSeed seed(26);
    std::mt19937 random(seed.value());
    QByteArray noise(kHead, '\0');
    for (char& byte : noise)
        byte = char(random());
    const QByteArray& real = heads.constFirst();
    const QByteArray header = real.left(real.indexOf("\xFF\xFB"));
    QByteArray frameHeaders;
    for (int i = 0; i < 200; ++i) // headers of 320 kbit/s frames holding nothing else
        frameHeaders += QByteArray("\xFF\xFB\xE0\x44", 4) + QByteArray(1040, '\xFF');
    QByteArray bigTag("ID3\x04\x00\x00\x00\x04\x00\x00", 10); // announces 64 KiB, then stops
    bigTag += QByteArray(1000, 'x');

    const struct {
        const char* what;
        QByteArray audio;
        int bitrate;
    } rows[] = {
        {"nothing", QByteArray(), 320},
        {"random bytes", noise, 320},
        {"a frame header, then random bytes", QByteArray("\xFF\xFB\x90\x64", 4) + noise, 128},
        {"frame headers over garbage", frameHeaders, 320},
        {"a tag cut short", bigTag, 128},
        {"the first frames of a real file", real.left(3000), 128},
        {"a real file's head with every 50th byte dropped",
         [&] {
             QByteArray cut;
             for (qsizetype i = 0; i < std::min(real.size(), kHead); ++i)
                 if (i % 50 != 49)
                     cut += real[i];
             return cut;
         }(),
         320},
        {"a real file at an unknown rate", real.left(kHead), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const SpectrumVerdict verdict = TranscodeCheck::judge(row.audio, row.bitrate, 0);
        EXPECT_EQ(verdict.verdict, Verdict::Unknown);
        EXPECT_EQ(verdict.sourceBitrate, 0);
    }
}

// The crawler judges on several threads at once: each gets the verdicts of a single one.
TEST(TranscodeCheck, ThreadsJudgeAlike) {
    const QTemporaryDir dir;
    const QList<QByteArray> heads = someHeads(dir.path());
    ASSERT_EQ(heads.size(), 4);
    std::vector<int> alone;
    for (const QByteArray& head : heads)
        alone.push_back(TranscodeCheck::judge(head, 320, 0).cutoffHz);
    std::vector<std::vector<int>> together(4);
    std::vector<std::thread> threads;
    threads.reserve(together.size());
    for (std::vector<int>& cutoffs : together)
        threads.emplace_back([&heads, &cutoffs] {
            for (const QByteArray& head : heads)
                cutoffs.push_back(TranscodeCheck::judge(head, 320, 0).cutoffHz);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::vector<int>& cutoffs : together)
        EXPECT_EQ(cutoffs, alone);
}

TEST(TranscodeCheck, UsualLowpassIsLamesNearestRateUnderNyquist) {
    const struct {
        int bitrate, sampleRate, lowpassHz;
    } rows[] = {
        {128, 44100, 17000}, {320, 48000, 20500}, {150, 44100, 17500}, {320, 32000, 16000},
        {24, 8000, 3900},    {0, 44100, 0},       {128, 0, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TranscodeCheck::usualLowpassHz(row.bitrate, row.sampleRate), row.lowpassHz)
            << row.bitrate << " kbit/s at " << row.sampleRate << " Hz";
    EXPECT_EQ(verdictName(Verdict::Genuine), "genuine");
    EXPECT_EQ(verdictName(Verdict::Transcoded), "transcoded");
    EXPECT_EQ(verdictName(Verdict::Unknown), "unknown");
}
