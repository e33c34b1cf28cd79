#pragma once

#include "support/Mp3Corpus.h"

#include <QJsonObject>
#include <gtest/gtest.h>

// Holds what a reader of quality said of each corpus file (the keys of `pellmar-cli probe
// --json` and of the people's page as JSON) to ffprobe's figures and to what the file is:
// the average bitrate within 3%, the duration within 1%, the rate mode, no honest file called
// a transcode, and at most one transcode in six missed.
class CorpusVerdicts {
public:
    void check(const Mp3Corpus::Corpus::File& file, const QJsonObject& found) {
        SCOPED_TRACE(file.entry.name);
        const Mp3Corpus::Figures ffprobe = Mp3Corpus::ffprobeFigures(file.path);
        ASSERT_FALSE(found.isEmpty());
        EXPECT_NEAR(found.value("bitrate").toDouble(), ffprobe.bitrate, ffprobe.bitrate * 0.03);
        EXPECT_NEAR(found.value("durationSeconds").toDouble(), ffprobe.seconds,
                    ffprobe.seconds * 0.01);
        EXPECT_EQ(found.value("sampleRate").toInt(), ffprobe.sampleRate);
        EXPECT_EQ(found.value("mode").toString().toLatin1(), file.entry.mode());
        const bool transcoded = found.value("verdict").toString() == "transcoded";
        if (file.entry.honest()) {
            EXPECT_FALSE(transcoded);
        } else {
            ++m_transcodes;
            m_caught += transcoded;
        }
    }

    void expectMostTranscodesCaught() const {
        EXPECT_GE(m_caught * 6, m_transcodes * 5) << m_caught << " of " << m_transcodes;
    }

private:
    int m_transcodes = 0;
    int m_caught = 0;
};
