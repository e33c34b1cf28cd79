#include "quality/AudioSpectrum.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <memory>
#include <mpg123.h>
#include <numbers>

namespace {

constexpr int kBins = AudioSpectrum::kFftSize / 2 + 1;
constexpr qsizetype kFeedBytes = 16 * 1024;
// Bytes that yield no audio at all past this (room for a large ID3v2 tag) are no MP3.
constexpr qsizetype kMaxBytesBeforeAudio = 2 * 1024 * 1024;

// The Hann window and one FFTW plan for every thread: FFTW's planner is not thread-safe, its
// new-array execute is, on arrays with the planner's alignment (fftwf_malloc).
struct Transform {
    Transform() : window(AudioSpectrum::kFftSize) {
        for (int i = 0; i < AudioSpectrum::kFftSize; ++i) {
            window[size_t(i)] =
                float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / AudioSpectrum::kFftSize));
            windowPower += double(window[size_t(i)]) * window[size_t(i)];
        }
        float* in = fftwf_alloc_real(AudioSpectrum::kFftSize);
        fftwf_complex* out = fftwf_alloc_complex(kBins);
        plan = fftwf_plan_dft_r2c_1d(AudioSpectrum::kFftSize, in, out, FFTW_ESTIMATE);
        fftwf_free(in);
        fftwf_free(out);
    }
    std::vector<float> window;
    double windowPower = 0; // the sum of the window's squares
    fftwf_plan plan;
};

const Transform& transform() {
    static const Transform shared;
    return shared;
}

struct HandleDelete {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDelete>;

// A decoder in feed mode that puts out mono 32-bit floats at any sample rate, quietly.
Handle openDecoder() {
    static const int initialized = mpg123_init(); // a no-op in current versions
    Q_UNUSED(initialized);
    Handle handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return nullptr;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(handle.get());
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        if (mpg123_format(handle.get(), rates[i], MPG123_MONO, MPG123_ENC_FLOAT_32) != MPG123_OK)
            return nullptr;
    if (mpg123_open_feed(handle.get()) != MPG123_OK)
        return nullptr;
    return handle;
}

} // namespace

AudioSpectrum AudioSpectrum::measure(const QByteArray& mp3, double maxSeconds) {
    AudioSpectrum spectrum;
    const Handle decoder = openDecoder();
    if (!decoder)
        return spectrum;
    std::vector<float> out(8192);
    qsizetype fed = 0;
    qint64 wanted = 0;
    // Every call either consumes input or yields a frame; the guard only stops a decoder
    // that would do neither.
    for (int idle = 0; idle < 64;) {
        size_t bytes = 0;
        const int status = mpg123_read(decoder.get(), reinterpret_cast<unsigned char*>(out.data()),
                                       out.size() * sizeof(float), &bytes);
        idle = bytes > 0 ? 0 : idle + 1;
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(decoder.get(), &rate, &channels, &encoding);
            if (channels != 1 || encoding != MPG123_ENC_FLOAT_32 || rate <= 0)
                break;
            if (spectrum.m_sampleRate != 0 && rate != spectrum.m_sampleRate)
                break; // a stream that changes its rate is not one piece of music
            spectrum.m_sampleRate = int(rate);
            wanted = qint64(maxSeconds * double(rate));
            continue;
        }
        if (bytes > 0 && spectrum.m_sampleRate > 0)
            spectrum.add(out.data(), bytes / sizeof(float));
        if (wanted > 0 && spectrum.m_samples >= wanted)
            break;
        if (status == MPG123_NEED_MORE) {
            if (fed >= mp3.size() || (spectrum.m_samples == 0 && fed >= kMaxBytesBeforeAudio))
                break;
            const qsizetype count = std::min(kFeedBytes, mp3.size() - fed);
            if (mpg123_feed(decoder.get(),
                            reinterpret_cast<const unsigned char*>(mp3.constData() + fed),
                            size_t(count)) != MPG123_OK)
                break;
            fed += count;
            idle = 0;
        } else if (status != MPG123_OK) {
            break; // MPG123_DONE, or an error that resyncing did not mend
        }
    }
    if (spectrum.m_windows > 0)
        for (double& power : spectrum.m_power)
            power /= spectrum.m_windows * transform().windowPower;
    else
        spectrum.m_power.clear();
    spectrum.m_pending = {};
    spectrum.m_in.reset();
    spectrum.m_out.reset();
    return spectrum;
}

void AudioSpectrum::FftwFree::operator()(void* block) const {
    fftwf_free(block);
}

double AudioSpectrum::rms() const {
    return m_samples > 0 ? std::sqrt(m_sumOfSquares / double(m_samples)) : 0;
}

void AudioSpectrum::add(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        // A hostile stream can decode to anything; keep the sums finite.
        const float sample = std::isfinite(samples[i]) ? std::clamp(samples[i], -4.0f, 4.0f) : 0.0f;
        m_sumOfSquares += double(sample) * sample;
        m_pending.push_back(sample);
        if (m_pending.size() == size_t(kFftSize)) {
            transformWindow();
            m_pending.erase(m_pending.begin(), m_pending.begin() + kFftSize / 2);
        }
    }
    m_samples += qint64(count);
}

void AudioSpectrum::transformWindow() {
    const Transform& shared = transform();
    if (!m_in) {
        m_in.reset(fftwf_alloc_real(kFftSize));
        m_out.reset(fftwf_alloc_real(2 * kBins));
        m_power.assign(kBins, 0.0);
    }
    for (int i = 0; i < kFftSize; ++i)
        m_in.get()[i] = m_pending[size_t(i)] * shared.window[size_t(i)];
    auto* out = reinterpret_cast<fftwf_complex*>(m_out.get());
    fftwf_execute_dft_r2c(shared.plan, m_in.get(), out);
    for (int k = 0; k < kBins; ++k)
        m_power[size_t(k)] += double(out[k][0]) * out[k][0] + double(out[k][1]) * out[k][1];
    ++m_windows;
}
