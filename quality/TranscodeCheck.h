#pragma once

#include "core/AudioQuality.h"

#include <QByteArray>

// Whether an MP3 file's music reaches as high as its own encoder settings would keep, or
// ends at a lower encoder's lowpass: a "transcode", a low-rate file re-encoded at a higher
// rate. Judged from the decoded spectrum of the audio at hand (Verdict: core/AudioQuality.h).

struct SpectrumVerdict {
    Verdict verdict = Verdict::Unknown;
    int cutoffHz = 0;      // where the music's spectrum ends; 0 when not measured
    int sourceBitrate = 0; // kbit/s the source sounds like, for Verdict::Transcoded; else 0
};

namespace TranscodeCheck {
// audio: an MP3 file's bytes from its start (an ID3v2 tag may lead) or from its first frame;
// often only its head (64 KiB), cut mid-frame. bitrate: the file's average kbit/s;
// lowpassHz: the encoder's lowpass from the file's LAME header, 0 when unknown (then the
// usual lowpass of LAME at that rate and sample rate is expected).
SpectrumVerdict judge(const QByteArray& audio, int bitrate, int lowpassHz);
// LAME's usual lowpass for a rate (kbit/s) at a sample rate (Hz), never above Nyquist.
int usualLowpassHz(int bitrate, int sampleRate);
} // namespace TranscodeCheck
