#include "quality/QualityPass.h"

#include "quality/TranscodeCheck.h"

namespace QualityPass {

qint64 bytesForJudging(int bitrate) {
    return qint64(kJudgedSeconds * qMax(bitrate, 0) * 1000 / 8);
}

void judgeAudio(const QByteArray& audio, FrameHeader& frame) {
    if (!frame.error.isEmpty() || frame.quality.bitrate <= 0)
        return;
    AudioQuality& q = frame.quality;
    const SpectrumVerdict found = TranscodeCheck::judge(audio, q.bitrate, q.lowpassHz);
    q.verdict = found.verdict;
    q.cutoffHz = found.cutoffHz;
    q.sourceBitrate = found.sourceBitrate;
}

} // namespace QualityPass
