#include "quality/TranscodeCheck.h"

#include "quality/AudioSpectrum.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// LAME's lowpass for each rate (kbit/s to Hz) in constant and average bitrate modes.
struct RateLowpass {
    int bitrate;
    int lowpassHz;
};
constexpr RateLowpass kLameLowpass[] = {
    {8, 2000},    {16, 3700},   {24, 3900},   {32, 5500},   {40, 7000},   {48, 7500},
    {56, 10000},  {64, 11000},  {80, 13500},  {96, 15100},  {112, 15600}, {128, 17000},
    {160, 17500}, {192, 18600}, {224, 19400}, {256, 19700}, {320, 20500},
};

// The audio judged at most: a whole file's first half minute tells as much as all of it.
constexpr double kMaxSeconds = 30;
// Less audio than this says too little about the music.
constexpr double kMinSeconds = 1.0;
// Quieter than this (RMS, full scale 1: -80 dBFS) is silence.
constexpr double kSilenceRms = 1e-4;
// The spectrum is read in bands about this wide.
constexpr double kBandHz = 100;
// Band levels are in dB of the power per bin (see AudioSpectrum::power). A spectrum with no
// deep band, none this far under the music's median, runs to the Nyquist frequency.
constexpr double kDeepDb = 40;
// The spectrum ends where it last stands this far above its deepest band...
constexpr double kEndAboveFloorDb = 25;
// ...and above the noise of a 16-bit decode (-101 dB, -96 dB dithered) that a transcode's
// second encoder keeps above the first one's lowpass.
constexpr double kDecodeNoiseDb = -88;
// Music whose median is not this far above that level is too quiet to judge.
constexpr double kAudibleDb = 10;
// The level falls at least this much across the end of an encoder's lowpass.
constexpr double kCliffDb = 30;
// A spectrum that already fell this much in the 2 kHz before its end fades out by itself.
constexpr double kFadeDb = 12;
// A band this far below the music's median is too faint to judge...
constexpr double kFaintDb = 30;
// ...and so is one under this level: honest encoders drop bands this quiet by themselves
// (their threshold of hearing; LAME's VBR modes ended dark music at -73 to -85 dB).
constexpr double kQuietDb = -69;
// The cutoff is where the level has fallen this far below the music under it.
constexpr double kKneeDb = 10;
// The share of the band up to the Nyquist frequency that an encoder keeps at most.
constexpr double kTopShare = 0.9;
// Below this rate (kbit/s) an encoder starves the high band by itself: a cliff under the
// lowpass proves nothing there.
constexpr int kLowestJudgedBitrate = 64;

// The spectrum in bands of about kBandHz, in dB.
struct Bands {
    std::vector<double> levels;
    double bandHz = 0;

    Bands(const AudioSpectrum& spectrum) {
        const auto& power = spectrum.power();
        const int perBand = std::max(1, int(std::lround(kBandHz / spectrum.binHz())));
        bandHz = perBand * spectrum.binHz();
        for (size_t k = 1; k + size_t(perBand) <= power.size(); k += size_t(perBand)) {
            double sum = 0;
            for (int i = 0; i < perBand; ++i)
                sum += power[k + size_t(i)];
            levels.push_back(10 * std::log10(sum / perBand + 1e-30));
        }
    }
    int count() const { return int(levels.size()); }
    // The band that holds hz, clamped to the spectrum.
    int at(double hz) const { return std::clamp(int(hz / bandHz), 0, count() - 1); }
    double hzOf(int band) const { return (band + 1) * bandHz; } // its upper edge
    // The mean level from hz to hz + width, clamped to the spectrum.
    double mean(double fromHz, double toHz) const {
        const int first = at(fromHz), last = at(toHz);
        double sum = 0;
        for (int band = first; band <= last; ++band)
            sum += levels[size_t(band)];
        return sum / (last - first + 1);
    }
    double median(double fromHz, double toHz) const {
        std::vector<double> some(levels.begin() + at(fromHz), levels.begin() + at(toHz) + 1);
        std::nth_element(some.begin(), some.begin() + some.size() / 2, some.end());
        return some[some.size() / 2];
    }
};

// What the spectrum shows about its upper end.
struct SpectrumEnd {
    bool audible = false;   // the music stands clear of the noise
    double cutoffHz = 0;    // where the level has fallen kKneeDb below the band under the end
    bool reachesTop = true; // no deep band at all: the spectrum runs to the Nyquist frequency
    bool cliff = false;     // the level falls by kCliffDb or more across the end
    bool fades = false;     // it fell by kFadeDb or more over the 2 kHz before the end
    bool faint = false;     // the band under the end is too faint or quiet to judge
};

SpectrumEnd findEnd(const Bands& bands, double nyquistHz) {
    SpectrumEnd end;
    end.cutoffHz = nyquistHz;
    const double music = bands.median(0.05 * nyquistHz, 0.5 * nyquistHz);
    const int firstHigh = bands.at(0.1 * nyquistHz);
    const double floor = *std::min_element(bands.levels.begin() + firstHigh, bands.levels.end());
    if (music - floor < kDeepDb) {
        end.audible = true;
        return end; // nothing deep enough to be the empty band above an encoder's lowpass
    }
    const double threshold = std::max(floor + kEndAboveFloorDb, kDecodeNoiseDb);
    end.audible = music >= threshold + kAudibleDb;
    int last = bands.count() - 1;
    while (last > firstHigh && bands.levels[size_t(last)] < threshold)
        --last;
    end.reachesTop = last >= bands.count() - 3;
    if (!end.audible || end.reachesTop)
        return end;
    // The encoder's lowpass falls over a few hundred Hz below `last`; the level under it
    // is the music's own.
    const double endHz = bands.hzOf(last);
    const double under = bands.mean(endHz - 1500, endHz - 800);
    int knee = bands.at(endHz - 800);
    while (knee < last && bands.levels[size_t(knee)] >= under - kKneeDb)
        ++knee;
    end.cutoffHz = bands.hzOf(knee - 1);
    const double above = bands.mean(endHz + 200, endHz + 700);
    const double earlier = bands.mean(end.cutoffHz - 3000, end.cutoffHz - 2000);
    end.cliff = under - above >= kCliffDb;
    end.fades = earlier - under >= kFadeDb;
    end.faint = under < music - kFaintDb || under < kQuietDb;
    return end;
}

// The rate whose LAME lowpass is nearest to a measured cutoff. The cutoff is the lowpass's
// knee, about 250 Hz below its nominal frequency.
int rateForCutoff(double cutoffHz) {
    const double lowpassHz = cutoffHz + 250;
    int best = kLameLowpass[0].bitrate;
    double bestDistance = 1e9;
    for (const RateLowpass& row : kLameLowpass) {
        const double distance = std::abs(row.lowpassHz - lowpassHz);
        if (distance < bestDistance) {
            best = row.bitrate;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

namespace TranscodeCheck {

int usualLowpassHz(int bitrate, int sampleRate) {
    if (bitrate <= 0 || sampleRate <= 0)
        return 0;
    const RateLowpass* nearest = &kLameLowpass[0];
    for (const RateLowpass& row : kLameLowpass)
        if (std::abs(row.bitrate - bitrate) < std::abs(nearest->bitrate - bitrate))
            nearest = &row;
    return std::min(nearest->lowpassHz, sampleRate / 2);
}

SpectrumVerdict judge(const QByteArray& audio, int bitrate, int lowpassHz) {
    SpectrumVerdict result;
    const AudioSpectrum spectrum = AudioSpectrum::measure(audio, kMaxSeconds);
    if (spectrum.seconds() < kMinSeconds || spectrum.power().empty() ||
        spectrum.rms() < kSilenceRms)
        return result;
    const Bands bands(spectrum);
    const double nyquistHz = spectrum.sampleRate() / 2.0;
    const SpectrumEnd end = findEnd(bands, nyquistHz);
    if (!end.audible)
        return result;
    result.cutoffHz = int(std::min(end.cutoffHz, nyquistHz)); // whole Hz, never above Nyquist

    // What the file's own encoder settings would keep, and how far below it the music may
    // end before it counts: more room when the lowpass is only the usual one of the rate.
    // MP3 keeps little of the last tenth below the Nyquist frequency, whatever the lowpass.
    const bool known = lowpassHz > 0;
    const double expected =
        std::min(known ? double(lowpassHz) : usualLowpassHz(bitrate, spectrum.sampleRate()),
                 kTopShare * nyquistHz);
    if (expected <= 0)
        return result;
    const double margin =
        known ? std::max(1000.0, 0.08 * expected) : std::max(1500.0, 0.12 * expected);
    if (end.reachesTop || end.cutoffHz >= expected - margin) {
        result.verdict = Verdict::Genuine;
    } else if (end.cliff && !end.fades && !end.faint && bitrate >= kLowestJudgedBitrate) {
        result.verdict = Verdict::Transcoded;
        result.sourceBitrate = rateForCutoff(end.cutoffHz);
    }
    return result;
}

} // namespace TranscodeCheck
