// Arbitrary bytes as an MP3 file's head to the transcode check, with the rate and lowpass
// taken from the first bytes: it ends with a verdict whose figures fit together.
#include "quality/TranscodeCheck.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const int bitrate = data[0] * 2;
    const int lowpassHz = data[1] * 100;
    const QByteArray audio(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    const SpectrumVerdict verdict = TranscodeCheck::judge(audio, bitrate, lowpassHz);
    if (verdict.cutoffHz < 0 || verdict.cutoffHz > 24000)
        std::abort();
    if ((verdict.verdict == Verdict::Transcoded) != (verdict.sourceBitrate > 0))
        std::abort();
    if (verdict.verdict == Verdict::Transcoded && verdict.cutoffHz == 0)
        std::abort();
    return 0;
}
