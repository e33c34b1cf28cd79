#include "searchd/FrameBlob.h"

#include <QDataStream>
#include <QIODevice>

QByteArray packFrame(const FrameHeader& f) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << f.error << f.sampleRate << f.bitrate << f.mode << qint32(f.version) << qint32(f.lsf)
        << qint32(f.layer) << qint32(f.bitrateIndex) << qint32(f.sampleRateIndex)
        << qint32(f.padding) << qint32(f.modeIndex) << f.fileSize << f.headerOffset;
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
    if (in.status() != QDataStream::Ok)
        f.error = "unreadable index entry";
    return f;
}
