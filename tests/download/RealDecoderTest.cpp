// The frame-header reader against a real encoder and decoder from Debian: lame writes
// files over every MPEG version, sample rate, bitrate and channel mode it can make, some
// behind an ID3v2 tag, and mpg123 says what it decodes in them.
#include "core/Mpeg3Head.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

namespace {

// A short stereo tone as a 16-bit PCM WAV file.
QByteArray wav(int rate) {
    QByteArray samples;
    for (int i = 0; i < 1152 * 4; ++i) {
        for (const double step : {0.05, 0.07}) {
            const qint16 value = qint16(6000 * std::sin(i * step));
            samples.append(reinterpret_cast<const char*>(&value), 2); // little-endian host
        }
    }
    auto u32 = [](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&le), 4);
    };
    auto u16 = [](quint16 v) {
        const quint16 le = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&le), 2);
    };
    return "RIFF" + u32(quint32(36 + samples.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(2) +
           u32(quint32(rate)) + u32(quint32(rate * 4)) + u16(4) + u16(16) + "data" +
           u32(quint32(samples.size())) + samples;
}

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(30000))
        return program + QStringLiteral(" did not run: ") + process.errorString();
    return QString::fromLocal8Bit(process.readAll());
}

struct Decoded {
    int bitrate = 0;
    int sampleRate = 0;
    QByteArray mode;
};

// mpg123 -v prints for example "MPEG 2.5 L III cbr64 8000 dual".
std::optional<Decoded> decodeWithMpg123(const QString& file) {
    const QString out = run(QStringLiteral("mpg123"), {"-t", "-v", "-n", "1", file});
    const QRegularExpression line(
        QStringLiteral("MPEG [0-9.]+ L III cbr(\\d+) (\\d+) (stereo|joint-stereo|j-s|dual|mono)"));
    const QRegularExpressionMatch match = line.match(out);
    if (!match.hasMatch())
        return std::nullopt;
    const QHash<QString, QByteArray> names = {{"stereo", "Stereo"},
                                              {"joint-stereo", "Joint Stereo"},
                                              {"j-s", "Joint Stereo"},
                                              {"dual", "Dual Channel"},
                                              {"mono", "Mono"}};
    return Decoded{match.captured(1).toInt(), match.captured(2).toInt(),
                   names.value(match.captured(3))};
}

} // namespace

TEST(Mpeg3HeadRealFiles, AgreesWithMpg123OnEveryFormatLameWrites) {
    for (const char* program : {"lame", "mpg123"})
        ASSERT_FALSE(QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            << program << " is not installed (see scripts/setup.sh)";
    const QList<int> rates = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
    const QList<int> fullRates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const QList<int> lowRates = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const char* modes[] = {"s", "j", "d", "m"};

    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QSet<QString> seen;
    int files = 0;
    for (int r = 0; r < rates.size(); ++r) {
        QFile input(folder + QStringLiteral("in.wav"));
        ASSERT_TRUE(input.open(QIODevice::WriteOnly));
        input.write(wav(rates[r]));
        input.close();
        const QList<int>& bitrates = rates[r] >= 32000 ? fullRates : lowRates;
        for (int b = 0; b < bitrates.size(); ++b) {
            const QString name = QStringLiteral("%1-%2.mp3").arg(rates[r]).arg(bitrates[b]);
            const bool tagged = (r + b) % 2 == 1;
            QStringList args = {"--quiet", "--cbr",
                                "-b",      QString::number(bitrates[b]),
                                "-m",      QLatin1String(modes[(r + b) % 4])};
            if (tagged)
                args << "--id3v2-only"
                     << "--tt" << name << "--ta"
                     << "Artist";
            args << input.fileName() << folder + name;
            const QString lameSays = run(QStringLiteral("lame"), args);
            SCOPED_TRACE((name + QLatin1Char(' ') + lameSays).toStdString());

            const std::optional<Decoded> decoded = decodeWithMpg123(folder + name);
            ASSERT_TRUE(decoded.has_value());
            TMpeg3Head head(true);
            ASSERT_TRUE(head.ReadFrameHeader(folder, name)) << head.header().error.data();
            EXPECT_EQ(head.header().bitrate.toInt(), decoded->bitrate);
            EXPECT_EQ(head.header().sampleRate.toInt(), decoded->sampleRate);
            EXPECT_EQ(head.header().mode, decoded->mode);
            EXPECT_EQ(head.header().headerOffset > 0, tagged);

            TMpeg3Head partWay(false); // skipping off: a tag hides the header
            EXPECT_EQ(partWay.ReadFrameHeader(folder, name), !tagged);
            seen << QStringLiteral("rate %1").arg(decoded->sampleRate)
                 << QStringLiteral("bitrate %1/%2").arg(rates[r] >= 32000).arg(decoded->bitrate)
                 << QString::fromLatin1(decoded->mode);
            ++files;
        }
    }
    EXPECT_EQ(files, 9 * 14);
    EXPECT_EQ(seen.size(), 9 + 14 + 14 + 4) << "every rate, bitrate and mode was made";
}
