#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>
#include <atomic>
#include <cmath>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

// Real MP3 files made at test time with lame from music-like signals generated here, and
// what ffprobe says about them. The signals are deterministic from a seed: tones of random
// pitch with harmonics, random phases and decaying envelopes, over bursts of noise with a
// gentle spectral tilt and energy up to the Nyquist frequency, so that every encoder
// lowpass shows in the decoded spectrum. No gtest here: the benchmarks use it too.
namespace Mp3Corpus {

// What the music itself holds.
enum class Band {
    Full,      // energy up to the Nyquist frequency
    Dark,      // falling 12 dB per octave above 3 kHz, like much recorded music
    VeryDark,  // falling 24 dB per octave above 3 kHz: encoders drop its top by themselves
    Below8kHz, // the music low-passed at 8 kHz (eighth order) before any encoding
    Silence,   // digital silence
};

namespace detail {

// A biquad low-pass (RBJ cookbook), run in place.
inline void lowPass(std::vector<float>& samples, int sampleRate, double cornerHz, double q) {
    const double w = 2 * std::numbers::pi * cornerHz / sampleRate;
    const double alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    const double b0 = (1 - std::cos(w)) / 2 / a0, b1 = (1 - std::cos(w)) / a0, b2 = b0;
    const double a1 = -2 * std::cos(w) / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (float& sample : samples) {
        const double y = b0 * sample + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = sample;
        y2 = y1;
        y1 = y;
        sample = float(y);
    }
}

// One channel of music-like sound: noise bursts, with notes over them when `notes`.
inline std::vector<float> channel(std::mt19937& random, int frames, int sampleRate, bool notes) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<float> out(size_t(frames), 0.0f);

    // Noise with a tilt: white plus two low-passed copies (more bass than treble, a few dB
    // per octave), in bursts like a drummer's hi-hats and snares.
    double low1 = 0, low2 = 0, envelope = 0;
    const double k1 = 1 - std::exp(-2 * std::numbers::pi * 300.0 / sampleRate);
    const double k2 = 1 - std::exp(-2 * std::numbers::pi * 2500.0 / sampleRate);
    const double decay = std::exp(-1.0 / (0.08 * sampleRate));
    const int beat = sampleRate / 4;
    for (int i = 0; i < frames; ++i) {
        if (i % beat == 0)
            envelope = 0.4 + 0.6 * unit(random);
        envelope *= decay;
        const double white = gauss(random);
        low1 += k1 * (white - low1);
        low2 += k2 * (white - low2);
        out[size_t(i)] = float((0.05 + envelope) * (0.35 * white + 1.2 * low2 + 2.5 * low1));
    }

    // Notes: every 0.2 to 0.6 s a tone of 80 to 1000 Hz with up to 12 harmonics at random
    // phases, decaying over a few tenths of a second. Each harmonic is a resonator
    // (s[n+1] = 2 cos(w) s[n] - s[n-1]): no sine per sample, so the corpus is made quickly.
    std::vector<double> note(static_cast<size_t>(sampleRate));
    for (int start = 0; notes && start < frames;) {
        const double pitch = 80.0 * std::pow(12.5, unit(random));
        const double loudness = 0.3 + 0.7 * unit(random);
        const double fall = std::exp(-1.0 / ((0.1 + 0.3 * unit(random)) * sampleRate));
        const size_t length = std::min(note.size(), size_t(frames - start));
        std::fill(note.begin(), note.end(), 0.0);
        for (int harmonic = 1; harmonic <= 12 && pitch * harmonic < sampleRate / 2.0; ++harmonic) {
            const double phase = 2 * std::numbers::pi * unit(random);
            const double step = 2 * std::numbers::pi * pitch * harmonic / sampleRate;
            const double twoCos = 2 * std::cos(step);
            double previous = loudness / harmonic * std::sin(phase - step);
            double current = loudness / harmonic * std::sin(phase);
            for (size_t i = 0; i < length; ++i) {
                note[i] += current;
                const double next = twoCos * current - previous;
                previous = current;
                current = next;
            }
        }
        double decayed = 1;
        for (size_t i = 0; i < length; ++i, decayed *= fall)
            out[size_t(start) + i] += float(decayed * note[i]);
        start += int((0.2 + 0.4 * unit(random)) * sampleRate);
    }
    return out;
}

inline void putLe(QByteArray& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i) & 0xFF));
}

// A 16-bit PCM WAV file of interleaved channels, scaled to peak at -3 dBFS.
inline QByteArray wavFile(const std::vector<std::vector<float>>& channels, int sampleRate) {
    const int count = int(channels.size());
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    float peak = 0;
    for (const auto& samples : channels)
        for (const float sample : samples)
            peak = std::max(peak, std::abs(sample));
    const double scale = peak > 0 ? 0.708 * 32767 / peak : 0;
    const quint32 dataBytes = quint32(frames * size_t(count) * 2);
    QByteArray out = "RIFF";
    putLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2); // PCM
    putLe(out, quint32(count), 2);
    putLe(out, quint32(sampleRate), 4);
    putLe(out, quint32(sampleRate * count * 2), 4);
    putLe(out, quint32(count * 2), 2);
    putLe(out, 16, 2);
    out += "data";
    putLe(out, dataBytes, 4);
    out.reserve(out.size() + qsizetype(dataBytes));
    for (size_t i = 0; i < frames; ++i)
        for (const auto& samples : channels)
            putLe(out, quint32(quint16(qint16(std::lround(samples[i] * scale)))), 2);
    return out;
}

// Runs a program to its end; true when it exited with 0. `error` gets its complaint.
inline bool run(const QString& program, const QStringList& arguments, QString* error = nullptr,
                QByteArray* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(120000);
    const bool ok =
        finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput();
    if (!ok && error)
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                 QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError()) +
                 process.errorString();
    return ok;
}

} // namespace detail

// Writes dir/name.wav: `seconds` of a music-like signal, deterministic from `seed`. The
// channels share their notes and part of their noise, as real stereo does. Returns its path,
// empty when it cannot be written.
inline QString writeTestSignal(const QString& dir, const QString& name, double seconds,
                               int sampleRate, int channels, quint32 seed, Band band = Band::Full) {
    const int frames = int(seconds * sampleRate);
    std::vector<std::vector<float>> out;
    std::mt19937 random(seed);
    const std::vector<float> shared = detail::channel(random, frames, sampleRate, true);
    for (int c = 0; c < channels; ++c) {
        std::vector<float> own = detail::channel(random, frames, sampleRate, false);
        for (size_t i = 0; i < own.size(); ++i)
            own[i] = band == Band::Silence ? 0.0f : shared[i] + 0.5f * own[i];
        if (band == Band::Dark || band == Band::VeryDark)
            for (int order = band == Band::Dark ? 1 : 2; order > 0; --order)
                detail::lowPass(own, sampleRate, 3000.0, std::numbers::sqrt2 / 2);
        if (band == Band::Below8kHz)
            for (const double q : {0.5098, 0.6013, 0.9000, 2.5629}) // eighth-order Butterworth
                detail::lowPass(own, sampleRate, 8000.0, q);
        out.push_back(std::move(own));
    }
    QString path = QDir(dir).filePath(name + QStringLiteral(".wav"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(detail::wavFile(out, sampleRate)) < 0)
        return QString();
    return path;
}

// Encodes a WAV (or, with "--decode" among the arguments, decodes an MP3) with lame.
inline bool encode(const QString& input, const QString& output, const QStringList& lameArgs,
                   QString* error = nullptr) {
    return detail::run(
        QStringLiteral("lame"),
        QStringList{QStringLiteral("--quiet")} + lameArgs + QStringList{input, output}, error);
}

// A transcode: dir/name.wav encoded with lowArgs, decoded again, and encoded with highArgs
// into dir/name.mp3. Returns the MP3's path, empty on a failure.
inline QString makeTranscode(const QString& dir, const QString& name, const QStringList& lowArgs,
                             const QStringList& highArgs, QString* error = nullptr) {
    const QDir folder(dir);
    const QString wav = folder.filePath(name + QStringLiteral(".wav"));
    const QString low = folder.filePath(name + QStringLiteral(".low.mp3"));
    const QString decoded = folder.filePath(name + QStringLiteral(".low.wav"));
    const QString mp3 = folder.filePath(name + QStringLiteral(".mp3"));
    const bool ok = encode(wav, low, lowArgs, error) &&
                    encode(low, decoded, {QStringLiteral("--decode")}, error) &&
                    encode(decoded, mp3, highArgs, error);
    return ok ? mp3 : QString();
}

// What ffprobe says about a file.
struct Figures {
    bool ok = false;
    double bitrate = 0;     // kbit/s of the audio stream (of the whole file when absent)
    double fileBitrate = 0; // kbit/s over the whole file, tags included
    double seconds = 0;     // duration
    int sampleRate = 0;     // Hz
    int channels = 0;
};

inline Figures ffprobeFigures(const QString& path) {
    QByteArray json;
    Figures figures;
    if (!detail::run(
            QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
             QStringLiteral("format=duration,bit_rate:stream=bit_rate,sample_rate,channels"),
             QStringLiteral("-of"), QStringLiteral("json"), path},
            nullptr, &json))
        return figures;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    const QJsonObject stream = root.value(QStringLiteral("streams")).toArray().first().toObject();
    const auto number = [](const QJsonObject& object, const char* key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return value.isString() ? value.toString().toDouble() : value.toDouble();
    };
    figures.fileBitrate = number(format, "bit_rate") / 1000;
    figures.bitrate = stream.contains(QStringLiteral("bit_rate"))
                          ? number(stream, "bit_rate") / 1000
                          : figures.fileBitrate;
    figures.seconds = number(format, "duration");
    figures.sampleRate = int(number(stream, "sample_rate"));
    figures.channels = int(number(stream, "channels"));
    figures.ok = figures.seconds > 0 && figures.sampleRate > 0;
    return figures;
}

// The lowpass that a LAME tag in the first frame names, in Hz; 0 without one. A stand-in
// for the header reader in tests that only need this one figure.
inline int lameTagLowpassHz(const QByteArray& file) {
    const qsizetype tag = file.left(64 * 1024).indexOf("LAME3.");
    if (tag < 0 || tag + 10 >= file.size())
        return 0;
    return quint8(file[tag + 10]) * 100;
}

// One file of the corpus.
struct Entry {
    const char* name;
    QStringList lameArgs;   // the encode; for a transcode the second (high) one
    QStringList sourceArgs; // a transcode's first (low) encode; empty for an honest file
    int sourceBitrate = 0;  // kbit/s of a transcode's source
    int sampleRate = 44100; // of the generated signal
    int channels = 2;
    Band band = Band::Full;
    bool honest() const { return sourceArgs.isEmpty(); }
    // The mode the file's encode asks for: "CBR", "ABR" or "VBR".
    QByteArray mode() const {
        if (lameArgs.contains(QStringLiteral("--abr")))
            return "ABR";
        for (const QString& arg : lameArgs)
            if (arg.startsWith(QStringLiteral("-V")))
                return "VBR";
        return "CBR";
    }
};

inline QStringList args(std::initializer_list<const char*> words) {
    QStringList out;
    for (const char* word : words)
        out << QString::fromLatin1(word);
    return out;
}

// The corpus: CBR at many rates, ABR, VBR, MPEG-2 and 2.5, mono, tagged files, honest files
// of dark music, with nothing to show above 8 kHz or nothing at all, and transcodes (low
// rate, decoded, high rate).
inline QList<Entry> entries() {
    return {
        {"cbr-32", args({"-b", "32"})},
        {"cbr-64", args({"-b", "64"})},
        {"cbr-96", args({"-b", "96"})},
        {"cbr-128", args({"-b", "128"})},
        {"cbr-160", args({"-b", "160"})},
        {"cbr-192", args({"-b", "192"})},
        {"cbr-256", args({"-b", "256"})},
        {"cbr-320", args({"-b", "320"})},
        {"abr-128", args({"--abr", "128"})},
        {"abr-192", args({"--abr", "192"})},
        {"vbr-v0", args({"-V0"})},
        {"vbr-v2", args({"-V2"})},
        {"vbr-v6", args({"-V6"})},
        {"mpeg2-22k-cbr-64", args({"--resample", "22.05", "-b", "64"})},
        {"mpeg2-24k-vbr-v4", args({"-V4"}), {}, 0, 24000},
        {"mpeg2-16k-mono-cbr-32", args({"-m", "m", "-b", "32"}), {}, 0, 16000, 1},
        {"mpeg25-8k-cbr-16", args({"-b", "16"}), {}, 0, 8000, 1},
        {"mpeg25-11k-cbr-32", args({"-b", "32"}), {}, 0, 11025},
        {"mpeg25-12k-vbr-v5", args({"-V5"}), {}, 0, 12000},
        {"mono-cbr-128", args({"-m", "m", "-b", "128"}), {}, 0, 44100, 1},
        {"mono-vbr-v2", args({"-m", "m", "-V2"}), {}, 0, 44100, 1},
        {"tagged-cbr-192",
         args({"-b", "192", "--tt", "Corpus Title", "--ta", "Corpus Artist", "--add-id3v2"})},
        {"tagged-vbr-v2",
         args({"-V2", "--tt", "Corpus Title", "--ta", "Corpus Artist", "--id3v2-only"})},
        {"below-8khz-cbr-320", args({"-b", "320"}), {}, 0, 44100, 2, Band::Below8kHz},
        {"below-8khz-vbr-v0", args({"-V0"}), {}, 0, 44100, 2, Band::Below8kHz},
        {"dark-vbr-v2", args({"-V2"}), {}, 0, 44100, 2, Band::Dark},
        {"dark-vbr-v5", args({"-V5"}), {}, 0, 44100, 2, Band::Dark},
        {"dark-cbr-128", args({"-b", "128"}), {}, 0, 44100, 2, Band::Dark},
        {"very-dark-vbr-v2", args({"-V2"}), {}, 0, 44100, 2, Band::VeryDark},
        {"very-dark-vbr-v5", args({"-V5"}), {}, 0, 44100, 2, Band::VeryDark},
        {"very-dark-cbr-128", args({"-b", "128"}), {}, 0, 44100, 2, Band::VeryDark},
        {"silence-cbr-320", args({"-b", "320"}), {}, 0, 44100, 2, Band::Silence},
        {"silence-vbr-v2", args({"-V2"}), {}, 0, 44100, 2, Band::Silence},
        {"transcode-128-to-320", args({"-b", "320"}), args({"-b", "128"}), 128},
        {"transcode-96-to-256", args({"-b", "256"}), args({"-b", "96", "--resample", "44.1"}), 96},
        {"transcode-128-to-v0", args({"-V0"}), args({"-b", "128"}), 128},
        {"transcode-160-to-320", args({"-b", "320"}), args({"-b", "160"}), 160},
        {"transcode-112-to-192", args({"-b", "192"}), args({"-b", "112"}), 112},
        {"transcode-64-to-256", args({"-b", "256"}), args({"-b", "64", "--resample", "44.1"}), 64},
        {"transcode-128-to-abr-256", args({"--abr", "256"}), args({"-b", "128"}), 128},
        {"transcode-96-to-v2", args({"-V2"}), args({"-b", "96", "--resample", "44.1"}), 96},
        {"transcode-tagged-128-to-320", args({"-b", "320", "--tt", "Corpus Title", "--add-id3v2"}),
         args({"-b", "128"}), 128},
        {"transcode-dark-128-to-320", args({"-b", "320"}), args({"-b", "128"}), 128, 44100, 2,
         Band::Dark},
        {"transcode-dark-128-to-v0", args({"-V0"}), args({"-b", "128"}), 128, 44100, 2, Band::Dark},
        {"transcode-22k-32-to-96", args({"-b", "96"}), args({"--resample", "22.05", "-b", "32"}),
         32},
    };
}

// Makes one entry in dir from a signal of `seconds`, seeded by `seed`: dir/NAME.mp3.
// Returns its path, empty on a failure (then `error` says why).
inline QString make(const QString& dir, const Entry& entry, quint32 seed, double seconds = 8.0,
                    QString* error = nullptr) {
    const QString name = QString::fromLatin1(entry.name);
    const QString wav =
        writeTestSignal(dir, name, seconds, entry.sampleRate, entry.channels, seed, entry.band);
    if (wav.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot write ") + name + QStringLiteral(".wav in ") + dir;
        return QString();
    }
    if (!entry.honest())
        return makeTranscode(dir, name, entry.sourceArgs, entry.lameArgs, error);
    const QString mp3 = QDir(dir).filePath(name + QStringLiteral(".mp3"));
    return encode(wav, mp3, entry.lameArgs, error) ? mp3 : QString();
}

// The whole corpus made once in a temporary folder, removed with the object. The files are
// made on a few threads at once (lame runs as a process of its own for each step).
class Corpus {
public:
    struct File {
        Entry entry;
        QString path;
    };

    explicit Corpus(quint32 seed, double seconds = 8.0) {
        const QList<Entry> all = entries();
        std::vector<QString> paths(size_t(all.size()));
        std::vector<QString> errors(size_t(all.size()));
        std::atomic<qsizetype> next = 0;
        const auto work = [&] {
            for (qsizetype i = next++; i < all.size(); i = next++)
                paths[size_t(i)] =
                    make(m_dir.path(), all[i], seed + quint32(i), seconds, &errors[size_t(i)]);
        };
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < std::max(2u, std::thread::hardware_concurrency()) + 1; ++t)
            threads.emplace_back(work);
        for (std::thread& thread : threads)
            thread.join();
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (paths[size_t(i)].isEmpty() && m_error.isEmpty())
                m_error = errors[size_t(i)];
            m_files.append({all[i], paths[size_t(i)]});
        }
    }

    bool ok() const { return m_error.isEmpty() && !m_files.isEmpty(); }
    QString error() const { return m_error; }
    const QList<File>& files() const { return m_files; }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QList<File> m_files;
    QString m_error;
};

} // namespace Mp3Corpus
