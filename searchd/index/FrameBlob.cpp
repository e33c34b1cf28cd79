#include "searchd/index/FrameBlob.h"

#include <QDataStream>
#include <QIODevice>

namespace {

// Blobs from before the quality reading end after the header's fields; later ones go on
// with this marker and the quality.
constexpr quint8 kQualityMarker = 2;

void packQuality(QDataStream& out, const AudioQuality& q) {
    out << kQualityMarker << qint32(q.version) << qint32(q.mode) << qint32(q.bitrate) << q.estimated
        << q.durationSeconds << q.infoTag << q.frames << q.bytes << q.encoder << qint32(q.vbrMethod)
        << qint32(q.lowpassHz) << qint32(q.abrBitrate) << qint32(q.preset) << qint32(q.verdict)
        << qint32(q.cutoffHz) << qint32(q.sourceBitrate);
}

void unpackQuality(QDataStream& in, AudioQuality& q) {
    quint8 marker = 0;
    in >> marker;
    if (marker != kQualityMarker)
        return;
    qint32 version = 0, mode = 0, bitrate = 0, vbrMethod = 0, lowpass = 0, abr = 0, preset = 0,
           verdict = 0, cutoff = 0, source = 0;
    in >> version >> mode >> bitrate >> q.estimated >> q.durationSeconds >> q.infoTag >> q.frames >>
        q.bytes >> q.encoder >> vbrMethod >> lowpass >> abr >> preset >> verdict >> cutoff >>
        source;
    q.version = version;
    q.mode = mode >= 0 && mode <= int(RateMode::Vbr) ? RateMode(mode) : RateMode::Cbr;
    q.bitrate = bitrate;
    q.vbrMethod = vbrMethod;
    q.lowpassHz = lowpass;
    q.abrBitrate = abr;
    q.preset = preset;
    q.verdict =
        verdict >= 0 && verdict <= int(Verdict::Transcoded) ? Verdict(verdict) : Verdict::Unknown;
    q.cutoffHz = cutoff;
    q.sourceBitrate = source;
}

} // namespace

QByteArray packFrame(const FrameHeader& f) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << f.error << f.sampleRate << f.bitrate << f.mode << qint32(f.version) << qint32(f.lsf)
        << qint32(f.layer) << qint32(f.bitrateIndex) << qint32(f.sampleRateIndex)
        << qint32(f.padding) << qint32(f.modeIndex) << f.fileSize << f.headerOffset;
    packQuality(out, f.quality);
    return bytes;
}

FrameHeader unpackFrame(const QByteArray& bytes) {
    FrameHeader f;
    QDataStream in(bytes);
    qint32 version = 0, lsf = 0, layer = 0, bitrateIndex = 0, rateIndex = 0, padding = 0,
           modeIndex = 0;
    in >> f.error >> f.sampleRate >> f.bitrate >> f.mode >> version >> lsf >> layer >>
        bitrateIndex >> rateIndex >> padding >> modeIndex >> f.fileSize >> f.headerOffset;
    f.version = version;
    f.lsf = lsf;
    f.layer = layer;
    f.bitrateIndex = bitrateIndex;
    f.sampleRateIndex = rateIndex;
    f.padding = padding;
    f.modeIndex = modeIndex;
    if (!in.atEnd())
        unpackQuality(in, f.quality);
    if (in.status() != QDataStream::Ok)
        f.error = "unreadable index entry";
    return f;
}
