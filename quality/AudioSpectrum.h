#pragma once

#include <QByteArray>
#include <memory>
#include <vector>

// The long-term average power spectrum of an MP3 file's audio: decoded with libmpg123 and
// mixed to mono, cut into Hann windows of kFftSize samples overlapping by half, each
// transformed with FFTW, their powers averaged per frequency bin. Hostile bytes decode to
// little or nothing; the work is bounded by the input's size and maxSeconds of audio.
class AudioSpectrum {
public:
    static constexpr int kFftSize = 2048;

    // Measures up to maxSeconds of the audio in `mp3` (a whole file or its head, an ID3v2
    // tag may lead, the last frame may be cut).
    static AudioSpectrum measure(const QByteArray& mp3, double maxSeconds);

    int sampleRate() const { return m_sampleRate; }
    // How much audio was measured, in seconds; 0 when none could be decoded.
    double seconds() const { return m_sampleRate > 0 ? double(m_samples) / m_sampleRate : 0; }
    // The root mean square of the decoded samples, full scale 1.
    double rms() const;
    // Mean power per bin, kFftSize / 2 + 1 bins from 0 Hz to the Nyquist frequency, scaled
    // so that a white noise of power P (full scale 1) shows P in every bin: 16-bit rounding
    // noise shows -101 dB. Empty when not one window was full.
    const std::vector<double>& power() const { return m_power; }
    double binHz() const { return double(m_sampleRate) / kFftSize; }

private:
    struct FftwFree {
        void operator()(void* block) const;
    };

    void add(const float* samples, size_t count);
    void transformWindow();

    int m_sampleRate = 0;
    qint64 m_samples = 0;
    double m_sumOfSquares = 0;
    int m_windows = 0;
    std::vector<float> m_pending;           // samples not yet in a full window
    std::vector<double> m_power;            // summed until measure() ends, then the mean
    std::unique_ptr<float, FftwFree> m_in;  // one window, FFTW-aligned
    std::unique_ptr<float, FftwFree> m_out; // its transform, interleaved re and im
};
