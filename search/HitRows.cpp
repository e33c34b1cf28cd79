#include "search/HitRows.h"

#include "core/UserOptions.h"

namespace {

QByteArray infoText(int bitrate, int kHz, bool stereo) {
    return QByteArray::number(bitrate) + "kb/s " + QByteArray::number(kHz) + "kHz " +
           (stereo ? "Stereo" : "Mono");
}

int qualityMark(const SettingsFile& ini, bool stereo, int sampleRate, int bitrate) {
    const int kHz = sampleRate / 1000;
    const bool good = bitrate >= UserOptions::MinBitrate(ini) &&
                      kHz >= UserOptions::MinFrequency(ini) &&
                      (stereo || !UserOptions::NeedStereo(ini));
    if (good)
        return qmGood;
    return bitrate != 0 && sampleRate != 0 ? qmBelow : qmUnknown;
}

} // namespace

SearchHit MakeHitRow(const SettingsFile& ini, const QByteArray& name, qint64 size, bool stereo,
                     int sampleRate, int bitrate) {
    SearchHit hit;
    hit.caption = name;
    hit.image = qualityMark(ini, stereo, sampleRate, bitrate);
    hit.size = size > 0 ? QByteArray::number(size) : QByteArray("N/A");
    hit.info =
        hit.image == qmUnknown ? QByteArray("N/A") : infoText(bitrate, sampleRate / 1000, stereo);
    return hit;
}
